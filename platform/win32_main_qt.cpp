// The process entry on Linux: connects to the display, then hands over to WinMain as Windows
// would. Linked into the program itself, not into the window-system library.
#include "platform/win32_ui.h"
#include "platform/win32_ui_qt.h"

#include <string>

int main(int argc, char** argv) {
    if (!orvane::platform::startWindowSystem(argc, argv))
        return 1;
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            commandLine += ' ';
        commandLine += argv[i];
    }
    // Any non-null value: templates are found by name in the program's own table.
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x400000));
    const int result = WinMain(instance, nullptr, commandLine.data(), SW_SHOWDEFAULT);
    orvane::platform::stopWindowSystem();
    return result;
}
