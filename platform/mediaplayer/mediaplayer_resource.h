// Resource ids of the media player control's DLL.
#pragma once

#define IDR_MEDIAPLAYER 101
