// The indicator lamp: a skinned picture of two images, the second shown while the control is enabled
// and the first while it is disabled. It is switched by enabling it and never takes the mouse.
#pragma once

#include "manager/controls/buttons/cx_skin_button.h"
#include "manager/controls/cx_ctrl_layers.h"
#include "manager/framework/windows/cx_persist.h"

class CxIndicatorCtrl : public CxStaticLayerT<CWnd>,
                        public CxSkinImageCtrl,
                        public virtual CxChildRegion,
                        public virtual CxMouseHover,
                        public virtual CxHoverText,
                        public CxPersistChild {
public:
    CxIndicatorCtrl();
    ~CxIndicatorCtrl() override;

    // A child static control of the parent (dialog controls are subclassed instead).
    BOOL Create(HWND parent, const RECT& rect, UINT id, DWORD style = WS_CHILD | WS_VISIBLE);

    // 1 while enabled, 0 while disabled.
    int GetStateIndex() override;
    int GetImageCount() override { return 2; }
    // Takes the parent's font first when high flag 0x8000 asks for it, then loads the skin once.
    HRESULT LoadSkinOnce() override;

protected:
    // The hit test (nowhere), the font, the image-control skin map, the persisted properties, the
    // mouse hover; then the background paint.
    BOOL PreMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;
    // The press map: an enable change shows the state's image.
    BOOL PostMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId) override;
};
