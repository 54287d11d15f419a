#include "e2e_support.h"

#include <X11/Xlib.h>
#include <png.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace e2e {

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

namespace {
// Removes the test's scratch directories when the program ends.
struct TempDirs {
    std::vector<std::string> paths;
    ~TempDirs() {
        std::error_code ignored;
        for (const std::string& p : paths)
            std::filesystem::remove_all(p, ignored);
    }
};
TempDirs tempDirs;
} // namespace

std::string tempDir() {
    std::string pattern = "/tmp/orvane-e2e-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    tempDirs.paths.push_back(pattern);
    return pattern;
}

CommandResult run(const std::string& shellCommand) {
    CommandResult r;
    std::FILE* p = popen(shellCommand.c_str(), "r");
    if (p == nullptr)
        return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

XServer::XServer() {
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
        close(fds[0]);
        const int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(devnull, 2);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
               "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    pollfd pfd{fds[0], POLLIN, 0};
    std::string number;
    const long long deadline = nowMs() + 20000;
    while (nowMs() < deadline && number.find('\n') == std::string::npos) {
        if (poll(&pfd, 1, 200) > 0) {
            char buf[16];
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0)
                break;
            number.append(buf, static_cast<std::size_t>(n));
        }
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos)
        throw std::runtime_error("Xvfb did not start (is it installed?)");
    // Built from characters: GCC 12 at -O3 warns (-Wrestrict) on "literal" + std::string&& and
    // on assigning a literal here.
    display_.assign(1, ':');
    display_.append(number, 0, number.find('\n'));
    setenv("DISPLAY", display_.c_str(), 1);
}

XServer::~XServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

Process::Process(const std::string& program, const std::map<std::string, std::string>& env,
                 const std::string& stderrPath, const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        for (const auto& [name, value] : env) {
            if (value.empty())
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), value.c_str(), 1);
        }
        const int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(err, 2);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
}

Process::~Process() {
    if (!status_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::optional<int> Process::waitExit(int timeoutMs) {
    const long long deadline = nowMs() + timeoutMs;
    while (!status_) {
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (nowMs() >= deadline)
            break;
        sleepMs(10);
    }
    return status_;
}

bool Process::running() {
    return !waitExit(0).has_value();
}

void Process::signal(int sig) {
    if (running())
        kill(pid_, sig);
}

Image readPpm(const std::string& path) {
    const std::string data = readFile(path);
    std::istringstream in(data);
    std::string magic;
    int maxval = 0;
    Image img;
    in >> magic >> img.width >> img.height >> maxval;
    in.get();
    if (magic != "P6" || maxval != 255 || img.width <= 0 || img.height <= 0)
        throw std::runtime_error("not an 8-bit PPM: " + path);
    const std::size_t offset = static_cast<std::size_t>(in.tellg());
    const std::size_t count =
        static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height);
    if (data.size() < offset + 3 * count)
        throw std::runtime_error("truncated PPM: " + path);
    img.pixels.resize(count);
    const auto* p = reinterpret_cast<const unsigned char*>(data.data() + offset);
    for (std::size_t i = 0; i < count; ++i)
        img.pixels[i] = (static_cast<std::uint32_t>(p[3 * i]) << 16) |
                        (static_cast<std::uint32_t>(p[3 * i + 1]) << 8) | p[3 * i + 2];
    return img;
}

Image readPng(const std::string& path) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str()))
        throw std::runtime_error("cannot read PNG " + path);
    png.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr))
        throw std::runtime_error("cannot decode PNG " + path);
    Image img;
    img.width = static_cast<int>(png.width);
    img.height = static_cast<int>(png.height);
    img.pixels.resize(static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height));
    for (std::size_t i = 0; i < img.pixels.size(); ++i)
        img.pixels[i] = (static_cast<std::uint32_t>(rgb[3 * i]) << 16) |
                        (static_cast<std::uint32_t>(rgb[3 * i + 1]) << 8) | rgb[3 * i + 2];
    return img;
}

Image screenshot(const std::string& path) {
    const CommandResult r = run("import -silent -window root -depth 8 'ppm:" + path + "' 2>&1");
    if (r.status != 0)
        throw std::runtime_error("import failed: " + r.out);
    return readPpm(path);
}

unsigned long findWindow(const std::string& name, int timeoutMs) {
    const long long deadline = nowMs() + timeoutMs;
    do {
        const CommandResult r =
            run("xdotool search --onlyvisible --name '^" + name + "$' 2>/dev/null");
        if (r.status == 0 && !r.out.empty())
            return std::stoul(r.out);
        sleepMs(50);
    } while (nowMs() < deadline);
    return 0;
}

std::string windowName(unsigned long window) {
    std::string s = run("xdotool getwindowname " + std::to_string(window)).out;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

Geometry windowGeometry(unsigned long window) {
    const std::string info = run("xwininfo -id " + std::to_string(window)).out;
    auto field = [&](const std::string& label) {
        const std::size_t at = info.find(label);
        if (at == std::string::npos)
            throw std::runtime_error("xwininfo: no " + label);
        return std::stoi(info.substr(at + label.size()));
    };
    return Geometry{field("Absolute upper-left X:"), field("Absolute upper-left Y:"),
                    field("Width:"), field("Height:")};
}

void click(int x, int y) {
    // No --sync: it waits for a motion that never comes when the pointer is already there. The
    // server applies the move before the click anyway.
    run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1");
}

void pressKey(unsigned long window, const std::string& key) {
    // Two commands: chained after windowfocus, key would send a synthetic event to the window
    // instead of typing on the keyboard.
    run("xdotool windowfocus --sync " + std::to_string(window));
    run("xdotool key " + key);
}

namespace {
int xErrors = 0;
int countXError(Display*, XErrorEvent*) {
    ++xErrors;
    return 0;
}
} // namespace

void requestClose(const std::string& display, unsigned long window) {
    Display* dpy = XOpenDisplay(display.c_str());
    if (dpy == nullptr)
        throw std::runtime_error("cannot open display " + display);
    // Xlib's default handler would end the test program on an error.
    XSetErrorHandler(countXError);
    xErrors = 0;
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = window;
    ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy, window, False, NoEventMask, &ev);
    XSync(dpy, False);
    XCloseDisplay(dpy);
    if (xErrors != 0)
        throw std::runtime_error("WM_DELETE_WINDOW could not be sent to window " +
                                 std::to_string(window));
}

const Control* ProbeState::control(int id) const {
    for (const Control& c : controls) {
        if (c.id == id)
            return &c;
    }
    return nullptr;
}

std::string ProbeState::text(int id) const {
    const Control* c = control(id);
    return c != nullptr ? c->text : "<no control " + std::to_string(id) + ">";
}

std::optional<ProbeState> probe(Process& viewer, const std::string& prefix, int timeoutMs) {
    const std::string txt = prefix + ".txt";
    std::remove(txt.c_str());
    viewer.signal(SIGUSR1);
    const long long deadline = nowMs() + timeoutMs;
    struct stat st {};
    while (stat(txt.c_str(), &st) != 0) {
        if (nowMs() >= deadline || !viewer.running())
            return std::nullopt;
        sleepMs(10);
    }
    ProbeState s;
    std::istringstream in(readFile(txt));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "dialog") {
            std::getline(words >> std::ws, s.title);
        } else if (kind == "client") {
            words >> s.client.x >> s.client.y >> s.client.width >> s.client.height;
        } else if (kind == "control") {
            Control c;
            int visible = 0, focused = 0;
            words >> c.id >> c.className >> visible >> c.x >> c.y >> c.width >> c.height >> focused;
            c.visible = visible != 0;
            c.focused = focused != 0;
            if (words.peek() == ' ')
                words.get();
            std::getline(words, c.text);
            s.controls.push_back(c);
        } else if (kind == "blit") {
            int w = 0, h = 0;
            words >> s.blits >> s.blitX >> s.blitY >> w >> h;
        }
    }
    if (s.blits > 0)
        s.blit = readPpm(prefix + ".ppm");
    return s;
}

} // namespace e2e
