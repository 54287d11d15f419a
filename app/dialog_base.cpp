#include "app/dialog_base.h"

#include "app/win_main.h"

namespace orvane {

DialogBase::~DialogBase() {
    currentDialog = nullptr;
}

bool DialogBase::onMessage(HWND, UINT, WPARAM, LPARAM) {
    return false;
}

void DialogBase::onClose() {
    EndDialog(hwnd, 0);
}

} // namespace orvane
