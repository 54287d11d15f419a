#pragma once

#include "platform/win32_ui.h"

namespace orvane {

class DialogBase;
class FrameDecoder;
class TowerMonitor;

// The process-wide objects of the viewer, built before WinMain in this order.
extern FrameDecoder frameDecoder;
extern TowerMonitor towerMonitor;

extern HINSTANCE appInstance;     // saved by WinMain; the module the dialog template comes from
extern DialogBase* currentDialog; // the one live dialog object, or null
// The dialog procedure of DLG_USE: forwards each message to currentDialog.
INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace orvane
