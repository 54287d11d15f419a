#include "app/win_main.h"

#include "app/async_file_writer.h"
#include "app/byte_recorder.h"
#include "app/csv_log.h"
#include "app/tower_monitor.h"
#include "app/view_dialog.h"
#include "app/viewer_options.h"
#include "link/sensor_link.h"
#include "orvane_version.h"
#include "sensor/frame_decoder.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

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

// What --record and --log write to; they outlive the worker (static, after towerMonitor).
AsyncFileWriter recordFile;
ByteRecorder recorder(frameDecoder, recordFile);
AsyncFileWriter logFile;
CsvLog* csvLog = nullptr;

// On Windows the program has no console: what it has to say goes in a box.
void tell(const std::string& text, bool error) {
#ifdef _WIN32
    MessageBoxA(nullptr, text.c_str(), "Orvane Viewer", error ? MB_ICONERROR : MB_OK);
#else
    std::fputs((text + "\n").c_str(), error ? stderr : stdout);
#endif
}

// A recording or log that stops being written ends the program at once, never silently.
void failedWriting(const std::string& why) {
    std::fprintf(stderr, "orvane-viewer: %s\n", why.c_str());
    std::fflush(stderr);
#ifdef _WIN32
    MessageBoxA(nullptr, why.c_str(), "Orvane Viewer", MB_ICONERROR);
#endif
    std::_Exit(1);
}

// Opens what the options ask to write. False after saying why.
bool openOutputs(const ViewerOptions& options) {
    std::string error;
    if (options.record) {
        recordFile.onFailure = failedWriting;
        if (!recordFile.open(*options.record, options.force, error)) {
            tell("orvane-viewer: " + error, true);
            return false;
        }
        recorder.setDownstream(&frameDecoder);
        recorder.applyPendingDownstream();
    }
    if (options.log) {
        logFile.onFailure = failedWriting;
        if (!logFile.open(*options.log, options.force, error)) {
            tell("orvane-viewer: " + error, true);
            return false;
        }
        static CsvLog log(logFile, std::chrono::steady_clock::now());
        csvLog = &log;
    }
    return true;
}
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

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    using namespace orvane;
    appInstance = instance;

    // Optional; without arguments the program is as designed.
    ViewerOptions options;
    std::string message;
    switch (parseViewerArguments(splitWindowsCommandLine(commandLine), options, message)) {
    case ViewerRequest::Help:
        tell(kViewerUsage, false);
        return 0;
    case ViewerRequest::Version:
        tell(std::string("orvane-viewer ") + ORVANE_VERSION, false);
        return 0;
    case ViewerRequest::Usage:
        tell("orvane-viewer: " + message + "\n\n" + kViewerUsage, true);
        return 2;
    case ViewerRequest::Run:
        break;
    }
    if (options.device)
        selectDevice(*options.device);
    if (!openOutputs(options))
        return 1;

    InitCommonControls();

    frameDecoder.setDownstream(&towerMonitor);
    Stage* const consumer = options.record ? static_cast<Stage*>(&recorder) : &frameDecoder;
    if (!openLink(consumer, kDeviceIndex, kBaudRate)) {
        MessageBoxA(nullptr, "Could not find downtower accel comm interface",
                    "Communications fault", MB_ICONERROR);
        return 1;
    }

    // Never deleted: the worker thread keeps a pointer to it until the process ends.
    auto* dialog = new (std::nothrow) ViewDialog;
    if (dialog)
        dialog->log = csvLog;
    currentDialog = dialog;
    DialogBoxParamA(appInstance, "DLG_USE", nullptr, dialogProc, 0);

    // The worker uses the decoder, the monitor, the link and the dialog; end it while they all
    // still exist rather than by force during process exit.
    towerMonitor.stop();
    bool written = true;
    if (options.record && !recordFile.close())
        written = false;
    if (options.log && !logFile.close())
        written = false;
    if (!written) {
        tell("orvane-viewer: " + (recordFile.failed() ? recordFile.error() : logFile.error()),
             true);
        return 1;
    }
    return 0;
}
