#pragma once

// Helpers for driving the real viewer under Xvfb the way a person would: start it, find its
// window, click and type with xdotool, take screenshots with import, close it through the window
// manager's close request.
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// A private X server for one test program; DISPLAY points at it while it runs.
class XServer {
public:
    // Starts Xvfb on a free display; throws when it cannot.
    XServer();
    ~XServer();
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// Output of a command run to completion.
struct CommandResult {
    int status = -1; // exit status, or -1 when it did not exit normally
    std::string out;
};
CommandResult run(const std::string& shellCommand);

// The viewer (or another program) started in the background with extra environment.
class Process {
public:
    Process(const std::string& program, const std::map<std::string, std::string>& env,
            const std::string& stderrPath, const std::vector<std::string>& args = {});
    ~Process(); // kills what is still running
    pid_t pid() const { return pid_; }
    // Exit status once the process has exited within timeoutMs; nullopt while it runs. A death
    // by signal reports 128 + signal.
    std::optional<int> waitExit(int timeoutMs);
    bool running();
    void signal(int sig);

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// An RGB picture, rows top-down.
struct Image {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels; // 0x00RRGGBB
    std::uint32_t at(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
};
Image readPpm(const std::string& path);
Image readPng(const std::string& path);
// The whole screen, through ImageMagick's import.
Image screenshot(const std::string& path);

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0; // absolute position of the client area
};

// The first window whose title is exactly name, waiting up to timeoutMs; 0 if none appears.
unsigned long findWindow(const std::string& name, int timeoutMs);
std::string windowName(unsigned long window);
Geometry windowGeometry(unsigned long window);
void click(int x, int y);
// Focuses the window, then types key (an xdotool key name such as Return or Escape).
void pressKey(unsigned long window, const std::string& key);
// What a window manager's close box does: sends WM_DELETE_WINDOW to the window.
void requestClose(const std::string& display, unsigned long window);

// The viewer's test probe (ORVANE_UI_PROBE): the dialog's controls as they are now and the
// pixels of its last blit.
struct Control {
    int id = 0;
    std::string className;
    bool visible = false;
    int x = 0, y = 0, width = 0, height = 0;
    bool focused = false;
    std::string text;
};
struct ProbeState {
    std::string title;
    Geometry client;
    std::vector<Control> controls;
    unsigned long blits = 0;
    int blitX = 0, blitY = 0;
    Image blit;
    const Control* control(int id) const;
    std::string text(int id) const;
};
// Asks the viewer for a probe and waits up to timeoutMs for it.
std::optional<ProbeState> probe(Process& viewer, const std::string& prefix, int timeoutMs = 5000);

std::string readFile(const std::string& path);
std::string tempDir(); // a fresh directory for one test
void sleepMs(int ms);
long long nowMs();

} // namespace e2e
