// The viewer's process entry outside Windows: answers --help and --version and refuses unknown
// options without needing a display, connects to the display with no argument for the window
// system to interpret (its own options would change the dialog), then hands over to WinMain with
// the command line as Windows would pass it.
#include "app/viewer_options.h"
#include "orvane_version.h"
#include "platform/win32_ui.h"
#include "platform/win32_ui_qt.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    orvane::ViewerOptions options;
    std::string message;
    switch (orvane::parseViewerArguments(args, options, message)) {
    case orvane::ViewerRequest::Help:
        std::fputs(orvane::kViewerUsage, stdout);
        return 0;
    case orvane::ViewerRequest::Version:
        std::printf("orvane-viewer %s\n", ORVANE_VERSION);
        return 0;
    case orvane::ViewerRequest::Usage:
        std::fprintf(stderr, "orvane-viewer: %s\n\n%s", message.c_str(), orvane::kViewerUsage);
        return 2;
    case orvane::ViewerRequest::Run:
        break;
    }
    int windowArgc = 1;
    if (!orvane::platform::startWindowSystem(windowArgc, argv))
        return 1;
    std::string commandLine = orvane::joinWindowsCommandLine(args);
    // Any non-null value: templates are found by name in the program's own table.
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x400000));
    const int result = WinMain(instance, nullptr, commandLine.data(), SW_SHOWDEFAULT);
    orvane::platform::stopWindowSystem();
    return result;
}
