#pragma once

#include "platform/win32_ui.h"

namespace orvane {

// The object behind a dialog window; the program's one dialog procedure forwards every message
// of the dialog to it (currentDialog).
class DialogBase {
public:
    DialogBase() = default;
    DialogBase(const DialogBase&) = delete;
    DialogBase& operator=(const DialogBase&) = delete;
    // Leaves no dangling currentDialog behind.
    virtual ~DialogBase();

    virtual void onInit() {}
    // wParam's low 16 bits are the control id.
    virtual void onCommand(WPARAM wParam, LPARAM lParam) = 0;
    // Returns whether the message was handled; unhandled ones get the default processing.
    virtual bool onMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Ends the dialog with result 0.
    virtual void onClose();

    HWND hwnd = nullptr; // written by the dialog procedure just before onInit
};

} // namespace orvane
