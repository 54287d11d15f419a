#include "app/win_main.h"

#include "app/tower_monitor.h"
#include "app/view_dialog.h"
#include "link/sensor_link.h"
#include "sensor/frame_decoder.h"

#include <new>

namespace orvane {

// Built in this order before WinMain and torn down in reverse; the worker thread that uses them
// is stopped before WinMain returns.
FrameDecoder frameDecoder;
TowerMonitor towerMonitor;

HINSTANCE appInstance = nullptr;
DialogBase* currentDialog = nullptr;

namespace {
constexpr std::int32_t kDeviceIndex = 0;
constexpr std::int32_t kBaudRate = 19200;
} // namespace

INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogBase* dialog = currentDialog;
    if (dialog == nullptr)
        return 0;
    switch (message) {
    case WM_CLOSE:
        dialog->onClose();
        return 1;
    case WM_INITDIALOG:
        dialog->hwnd = window;
        dialog->onInit();
        return 1; // the system sets the default focus
    case WM_COMMAND:
        dialog->onCommand(wParam, lParam);
        return 1;
    default:
        return dialog->onMessage(window, message, wParam, lParam) ? 1 : 0;
    }
}

} // namespace orvane

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace orvane;
    appInstance = instance;
    InitCommonControls();

    frameDecoder.pendingDownstream = &towerMonitor;
    if (!openLink(&frameDecoder, kDeviceIndex, kBaudRate)) {
        MessageBoxA(nullptr, "Could not find downtower accel comm interface",
                    "Communications fault", MB_ICONERROR);
        return 1;
    }

    // Never deleted: the worker thread keeps a pointer to it until the process ends.
    currentDialog = new (std::nothrow) ViewDialog;
    DialogBoxParamA(appInstance, "DLG_USE", nullptr, dialogProc, 0);

    // The worker uses the decoder, the monitor, the link and the dialog; end it while they all
    // still exist rather than by force during process exit.
    towerMonitor.stop();
    return 0;
}
