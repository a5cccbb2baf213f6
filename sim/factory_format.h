// The factory state of a new player: its internal memory formatted by the device API itself.
#pragma once

#include <string>

namespace playersim {

// Formats the internal memory of the player served at `interfacePath` through the device API:
// ZAVTCTRL.dll beside this program, loaded into this process and its control made by the DLL's own
// class object (no registration). The player then holds exactly what the API's format writes: the
// root, the system files and the recording folder. Empty on success, otherwise what failed.
std::wstring FormatInternalMemory(const std::string& interfacePath);

}  // namespace playersim
