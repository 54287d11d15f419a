// dialog_probe: looks at another program's windows from inside the same Wine session, for the
// end-to-end checks of scripts/windows-test.sh. Prints facts, one per line; judges nothing.
//
//   dialog_probe wait TITLE MS       wait until a visible top-level window TITLE exists
//   dialog_probe controls TITLE      each control: id class visible x y width height "text"
//                                    (rectangle in the dialog's client area, pixels)
//   dialog_probe client TITLE        the client area's origin on the screen: x y
//   dialog_probe dlu TITLE X Y W H.. rectangles in the dialog's units, in pixels: x y width height
//   dialog_probe text TITLE ID       the text of control ID
//   dialog_probe watch TITLE MS ID.. every change of the controls' texts until MS have passed:
//                                    milliseconds "text" "text" ...
//   dialog_probe gone TITLE MS       wait until no window TITLE is left
//
// Exit status 0 on success, 1 when the window did not come (or go) in time, 2 on bad usage.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPollMs = 1;
constexpr UINT kMessageTimeoutMs = 2000;

HWND findVisible(const char* title) {
    const HWND window = FindWindowA(nullptr, title);
    return window && IsWindowVisible(window) ? window : nullptr;
}

HWND waitFor(const char* title, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (const HWND window = findVisible(title))
            return window;
        if (GetTickCount() - start >= ms)
            return nullptr;
        Sleep(kPollMs);
    }
}

// WM_GETTEXT is marshalled across processes; a hung window gives "" instead of hanging us.
std::string textOf(HWND window) {
    char buffer[256] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied))
        return {};
    return std::string(buffer, static_cast<std::size_t>(copied));
}

struct Control {
    HWND window;
    int id;
};

std::vector<Control> controlsOf(HWND dialog) {
    std::vector<Control> controls;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        controls.push_back({child, static_cast<int>(static_cast<short>(GetDlgCtrlID(child)))});
    return controls;
}

int printControls(HWND dialog) {
    for (const Control& c : controlsOf(dialog)) {
        char className[64] = {};
        GetClassNameA(c.window, className, sizeof className);
        RECT r{};
        GetWindowRect(c.window, &r);
        MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&r), 2);
        std::printf("%d %s %d %ld %ld %ld %ld \"%s\"\n", c.id, className,
                    IsWindowVisible(c.window) ? 1 : 0, r.left, r.top, r.right - r.left,
                    r.bottom - r.top, textOf(c.window).c_str());
    }
    return 0;
}

int watch(HWND dialog, DWORD ms, const std::vector<int>& ids) {
    const DWORD start = GetTickCount();
    std::string last = "\x01"; // matches nothing, so the first reading is printed
    do {
        std::string line;
        for (const int id : ids)
            line += " \"" + textOf(GetDlgItem(dialog, id)) + "\"";
        if (line != last) {
            std::printf("%lu%s\n", static_cast<unsigned long>(GetTickCount() - start),
                        line.c_str());
            std::fflush(stdout);
            last = line;
        }
        Sleep(kPollMs);
    } while (GetTickCount() - start < ms && IsWindow(dialog));
    return 0;
}

int usage() {
    std::fprintf(stderr,
                 "usage: dialog_probe wait|controls|client|dlu|text|watch|gone TITLE ...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY); // plain "\n" line ends for the shell that reads us
    if (argc < 3)
        return usage();
    const std::string command = argv[1];
    const char* title = argv[2];
    if (command == "wait" || command == "gone") {
        if (argc != 4)
            return usage();
        const DWORD ms = std::strtoul(argv[3], nullptr, 10);
        if (command == "wait")
            return waitFor(title, ms) ? 0 : 1;
        const DWORD start = GetTickCount();
        while (FindWindowA(nullptr, title)) {
            if (GetTickCount() - start >= ms)
                return 1;
            Sleep(10);
        }
        return 0;
    }

    const HWND dialog = findVisible(title);
    if (!dialog) {
        std::fprintf(stderr, "dialog_probe: no window \"%s\"\n", title);
        return 1;
    }
    if (command == "controls" && argc == 3)
        return printControls(dialog);
    if (command == "client" && argc == 3) {
        POINT origin{0, 0};
        ClientToScreen(dialog, &origin);
        std::printf("%ld %ld\n", origin.x, origin.y);
        return 0;
    }
    if (command == "dlu" && argc >= 7 && (argc - 3) % 4 == 0) {
        for (int i = 3; i < argc; i += 4) {
            const int x = std::atoi(argv[i]), y = std::atoi(argv[i + 1]);
            RECT r{x, y, x + std::atoi(argv[i + 2]), y + std::atoi(argv[i + 3])};
            if (!MapDialogRect(dialog, &r))
                return 1;
            std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        }
        return 0;
    }
    if (command == "text" && argc == 4) {
        std::printf("%s\n", textOf(GetDlgItem(dialog, std::atoi(argv[3]))).c_str());
        return 0;
    }
    if (command == "watch" && argc >= 5) {
        std::vector<int> ids;
        for (int i = 4; i < argc; ++i)
            ids.push_back(std::atoi(argv[i]));
        return watch(dialog, std::strtoul(argv[3], nullptr, 10), ids);
    }
    return usage();
}
