// The window-system calls of platform/win32_ui.h over Qt 6 Widgets.
//
// Handles are opaque numbers looked up in a table, never pointers into Qt objects, so a handle
// that outlives its window (the worker thread keeps the dialog's) is simply unknown afterwards.
// Widgets are touched only on the window thread, the one that started the window system. Calls
// from other threads (InvalidateRect, SetDlgItemTextA) leave their request in a mailbox guarded
// by one mutex and wake the window thread through a pipe; they never wait for the window thread.

#include "platform/win32_ui_qt.h"
#include "platform/win32_ui.h"
#include "platform/win32_ui_template.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFrame>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSocketNotifier>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace orvane::platform {
namespace {

// Dialog base units of an 8-point "MS Sans Serif" dialog at 96 dpi: dialog units become the same
// pixels as on Windows, whatever font Qt draws with.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;

constexpr DWORD kWsVisible = 0x10000000u;
constexpr DWORD kWsBorder = 0x00800000u;
constexpr DWORD kWsTabStop = 0x00010000u;
constexpr DWORD kWsThickFrame = 0x00040000u;
constexpr DWORD kWsCaption = 0x00C00000u;
constexpr DWORD kDsCenter = 0x00000800u;
constexpr DWORD kBsTypeMask = 0x0000000Fu;
constexpr DWORD kBsPushButton = 0x0u;
constexpr DWORD kBsDefPushButton = 0x1u;
constexpr DWORD kSsTypeMask = 0x0000001Fu;
constexpr DWORD kSsLeft = 0x0u, kSsCenter = 0x1u, kSsRight = 0x2u;
constexpr DWORD kSsBlackFrame = 0x7u, kSsGrayFrame = 0x8u, kSsWhiteFrame = 0x9u;
constexpr DWORD kEsCenter = 0x1u, kEsRight = 0x2u, kEsReadOnly = 0x800u;

// MulDiv as Windows rounds it: to nearest, halves away from zero.
int mulDiv(int value, int numerator, int denominator) {
    const long long p = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(p >= 0 ? (p + half) / denominator : -((-p + half) / denominator));
}

QRect dialogUnitsToPixels(int x, int y, int cx, int cy) {
    return QRect(mulDiv(x, kBaseUnitX, 4), mulDiv(y, kBaseUnitY, 8), mulDiv(cx, kBaseUnitX, 4),
                 mulDiv(cy, kBaseUnitY, 8));
}

std::uintptr_t key(HWND h) {
    return reinterpret_cast<std::uintptr_t>(h);
}

class DialogWidget;
struct DialogState;

struct Window {
    HWND handle = nullptr;
    QWidget* widget = nullptr; // owned by the dialog widget's child tree
    DialogState* dialog = nullptr;
    int id = 0;
    std::string className; // upper case, as in the template
};

struct DialogState {
    HWND handle = nullptr;
    DLGPROC proc = nullptr;
    DialogWidget* widget = nullptr;
    std::vector<std::unique_ptr<Window>> controls; // template order
    std::unique_ptr<Window> self;
    int defaultId = IDOK;
    bool ended = false;
    INT_PTR result = 0;
    bool painting = false;
};

struct PaintContext {
    HWND window = nullptr;
    QPainter painter;
};

// Test probe: with ORVANE_UI_PROBE=PREFIX, SIGUSR1 makes the window thread write PREFIX.txt
// (dialog, controls and the last blit) and PREFIX.ppm (the pixels of that blit), and the first
// blit writes PREFIX.first (its CLOCK_REALTIME in nanoseconds) for start-up measurements.
struct Probe {
    std::string prefix;
    int pipe[2] = {-1, -1};
    QSocketNotifier* notifier = nullptr;
    QImage lastBlit;
    QPoint lastDest;
    unsigned long blits = 0;
};

struct Ui {
    std::unique_ptr<QApplication> app;
    // Read by every call from any thread; no thread's id while the window system is down.
    std::atomic<std::thread::id> windowThread{};
    std::string programName = "orvane-viewer";

    std::mutex mutex; // guards everything below up to the next comment
    bool running = false;
    std::unordered_map<std::uintptr_t, Window*> windows;
    std::map<std::pair<std::uintptr_t, int>, std::string> pendingTexts;
    std::map<std::uintptr_t, QRect> pendingInvalidations; // a null rect means the whole window
    bool wakePending = false;
    int wakePipe[2] = {-1, -1};

    // Window thread only.
    QSocketNotifier* wakeNotifier = nullptr;
    std::vector<DialogState*> dialogs; // live, innermost last
    QImage blitImage;                  // reused so painting does not allocate per frame
    Probe probe;
};

Ui& ui() {
    static Ui instance;
    return instance;
}

bool onWindowThread() {
    Ui& u = ui();
    return std::this_thread::get_id() == u.windowThread.load();
}

HWND newHandle() {
    static std::atomic<std::uintptr_t> next{0x10000};
    return reinterpret_cast<HWND>(next.fetch_add(4));
}

// Window thread only; the pointer stays valid until the window thread unregisters it.
Window* findWindow(HWND handle) {
    Ui& u = ui();
    std::lock_guard<std::mutex> lock(u.mutex);
    const auto it = u.windows.find(key(handle));
    return it == u.windows.end() ? nullptr : it->second;
}

Window* findControl(HWND dialog, int id) {
    Window* w = findWindow(dialog);
    if (w == nullptr || w->dialog == nullptr || w->dialog->self.get() != w)
        return nullptr;
    for (const auto& c : w->dialog->controls) {
        if (c->id == id)
            return c.get();
    }
    return nullptr;
}

INT_PTR dispatch(DialogState* d, UINT message, WPARAM wParam, LPARAM lParam) {
    return d->proc == nullptr ? 0 : d->proc(d->handle, message, wParam, lParam);
}

void sendCommand(DialogState* d, int id, HWND control) {
    dispatch(d, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

class DialogWidget : public QDialog {
public:
    explicit DialogWidget(DialogState* state) : QDialog(nullptr), state_(state) {}

protected:
    void paintEvent(QPaintEvent*) override {
        state_->painting = true;
        dispatch(state_, WM_PAINT, 0, 0);
        state_->painting = false;
    }

    // The close box asks the dialog procedure; only EndDialog closes.
    void closeEvent(QCloseEvent* event) override {
        if (state_->ended) {
            event->accept();
            return;
        }
        event->ignore();
        dispatch(state_, WM_CLOSE, 0, 0);
    }

    // Enter presses the focused push button, else the default one; Esc is the command IDCANCEL.
    void keyPressEvent(QKeyEvent* event) override {
        const int k = event->key();
        if (event->modifiers() & ~Qt::KeypadModifier) {
            QWidget::keyPressEvent(event);
            return;
        }
        if (k == Qt::Key_Return || k == Qt::Key_Enter) {
            int id = state_->defaultId;
            HWND control = nullptr;
            for (const auto& c : state_->controls) {
                if (c->widget == focusWidget() && qobject_cast<QPushButton*>(c->widget)) {
                    id = c->id;
                    control = c->handle;
                }
            }
            if (control == nullptr) {
                if (Window* c = findControl(state_->handle, id))
                    control = c->handle;
            }
            sendCommand(state_, id, control);
            return;
        }
        if (k == Qt::Key_Escape) {
            Window* c = findControl(state_->handle, IDCANCEL);
            sendCommand(state_, IDCANCEL, c != nullptr ? c->handle : nullptr);
            return;
        }
        QWidget::keyPressEvent(event);
    }

    void reject() override {}

private:
    DialogState* state_;
};

// Builds one control; null for a class or style this layer does not provide.
QWidget* makeControl(const DialogItemTemplate& t, DialogState* d, HWND handle) {
    const std::string cls = t.className;
    const QString text = QString::fromLatin1(t.text);
    QWidget* w = nullptr;
    if (cls == "BUTTON") {
        const DWORD type = t.style & kBsTypeMask;
        if (type != kBsPushButton && type != kBsDefPushButton)
            return nullptr;
        auto* b = new QPushButton(text, d->widget);
        b->setAutoDefault(false);
        b->setDefault(type == kBsDefPushButton);
        if (type == kBsDefPushButton)
            d->defaultId = t.id;
        const int id = t.id;
        QObject::connect(b, &QPushButton::clicked, b, [d, id, handle] {
            if (!d->ended)
                sendCommand(d, id, handle);
        });
        w = b;
    } else if (cls == "STATIC") {
        const DWORD type = t.style & kSsTypeMask;
        if (type == kSsLeft || type == kSsCenter || type == kSsRight) {
            auto* l = new QLabel(text, d->widget);
            const Qt::Alignment h = type == kSsCenter  ? Qt::AlignHCenter
                                    : type == kSsRight ? Qt::AlignRight
                                                       : Qt::AlignLeft;
            l->setAlignment(h | Qt::AlignTop);
            // Statics paint their own background, as on Windows, also over the picture.
            l->setAutoFillBackground(true);
            w = l;
        } else if (type == kSsBlackFrame || type == kSsGrayFrame || type == kSsWhiteFrame) {
            auto* f = new QFrame(d->widget);
            f->setFrameStyle(QFrame::Box | QFrame::Plain);
            QPalette p = f->palette();
            p.setColor(QPalette::WindowText, type == kSsWhiteFrame  ? Qt::white
                                             : type == kSsGrayFrame ? Qt::gray
                                                                    : Qt::black);
            f->setPalette(p);
            w = f;
        } else {
            return nullptr;
        }
        w->setFocusPolicy(Qt::NoFocus);
    } else if (cls == "EDIT") {
        auto* e = new QLineEdit(text, d->widget);
        e->setReadOnly((t.style & kEsReadOnly) != 0);
        e->setFrame((t.style & kWsBorder) != 0);
        e->setAlignment(((t.style & kEsRight)    ? Qt::AlignRight
                         : (t.style & kEsCenter) ? Qt::AlignHCenter
                                                 : Qt::AlignLeft) |
                        Qt::AlignVCenter);
        e->setTextMargins(0, 0, 0, 0);
        w = e;
    } else {
        return nullptr;
    }
    if (cls != "STATIC")
        w->setFocusPolicy((t.style & kWsTabStop) ? Qt::StrongFocus : Qt::ClickFocus);
    w->setGeometry(dialogUnitsToPixels(t.x, t.y, t.cx, t.cy));
    w->setVisible((t.style & kWsVisible) != 0);
    return w;
}

void setControlText(QWidget* w, const QString& text) {
    if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(text);
    else if (auto* e = qobject_cast<QLineEdit*>(w))
        e->setText(text);
    else if (auto* b = qobject_cast<QPushButton*>(w))
        b->setText(text);
}

QString controlText(const QWidget* w) {
    if (auto* l = qobject_cast<const QLabel*>(w))
        return l->text();
    if (auto* e = qobject_cast<const QLineEdit*>(w))
        return e->text();
    if (auto* b = qobject_cast<const QPushButton*>(w))
        return b->text();
    return QString();
}

// Window thread: marks area (null: all) of a window for repainting. For a dialog the visible
// controls are left out, as their own windows are on Windows: repainting the dialog then does
// not repaint every control over it, and the picture is not drawn over the labels.
void invalidate(Window* w, const QRect& area) {
    QRegion region(area.isNull() ? w->widget->rect() : area);
    if (w->dialog != nullptr && w->dialog->self.get() == w) {
        for (const auto& c : w->dialog->controls) {
            if (c->widget->isVisible())
                region -= c->widget->geometry();
        }
    }
    w->widget->update(region);
}

// Window thread: applies what other threads left in the mailbox.
void drainMailbox() {
    Ui& u = ui();
    char buf[64];
    while (::read(u.wakePipe[0], buf, sizeof buf) > 0) {
    }
    std::map<std::pair<std::uintptr_t, int>, std::string> texts;
    std::map<std::uintptr_t, QRect> invalidations;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        texts.swap(u.pendingTexts);
        invalidations.swap(u.pendingInvalidations);
        u.wakePending = false;
    }
    for (const auto& [target, text] : texts) {
        if (Window* c = findControl(reinterpret_cast<HWND>(target.first), target.second))
            setControlText(c->widget, QString::fromLatin1(text.c_str()));
    }
    for (const auto& [target, rect] : invalidations) {
        if (Window* w = findWindow(reinterpret_cast<HWND>(target)))
            invalidate(w, rect);
    }
}

// Caller holds ui().mutex.
void wakeWindowThreadLocked() {
    Ui& u = ui();
    if (u.wakePending)
        return;
    u.wakePending = true;
    const char byte = 1;
    // Non-blocking: a full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t n = ::write(u.wakePipe[1], &byte, 1);
}

void registerWindow(Window* w) {
    Ui& u = ui();
    std::lock_guard<std::mutex> lock(u.mutex);
    u.windows[key(w->handle)] = w;
}

void unregisterDialog(DialogState* d) {
    Ui& u = ui();
    std::lock_guard<std::mutex> lock(u.mutex);
    std::vector<std::uintptr_t> gone{key(d->handle)};
    for (const auto& c : d->controls)
        gone.push_back(key(c->handle));
    for (std::uintptr_t h : gone) {
        u.windows.erase(h);
        u.pendingInvalidations.erase(h);
    }
    for (auto it = u.pendingTexts.begin(); it != u.pendingTexts.end();) {
        it = it->first.first == key(d->handle) ? u.pendingTexts.erase(it) : std::next(it);
    }
}

// ---- test probe ----

int probeSignalFd = -1;

void onProbeSignal(int) {
    const char byte = 1;
    if (probeSignalFd >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(probeSignalFd, &byte, 1);
    }
}

std::string oneLine(const QString& s) {
    std::string out = s.toStdString();
    for (char& c : out) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return out;
}

bool writeFileAtomically(const std::string& path, const std::string& data) {
    const std::string tmp = path + ".tmp";
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    if (std::fclose(f) != 0 || !ok)
        return false;
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

void writeProbe() {
    Ui& u = ui();
    char buf[64];
    while (::read(u.probe.pipe[0], buf, sizeof buf) > 0) {
    }
    std::string text;
    if (!u.dialogs.empty()) {
        DialogState* d = u.dialogs.back();
        QWidget* w = d->widget;
        const QPoint origin = w->mapToGlobal(QPoint(0, 0));
        text += "dialog " + oneLine(w->windowTitle()) + "\n";
        text += "client " + std::to_string(origin.x()) + " " + std::to_string(origin.y()) + " " +
                std::to_string(w->width()) + " " + std::to_string(w->height()) + "\n";
        for (const auto& c : d->controls) {
            const QRect g = c->widget->geometry();
            const QString s = controlText(c->widget);
            text += "control " + std::to_string(c->id) + " " + c->className + " " +
                    (c->widget->isVisible() ? "1" : "0") + " " + std::to_string(g.x()) + " " +
                    std::to_string(g.y()) + " " + std::to_string(g.width()) + " " +
                    std::to_string(g.height()) + " " + (c->widget->hasFocus() ? "1" : "0") + " " +
                    oneLine(s) + "\n";
        }
    }
    const QImage& img = u.probe.lastBlit;
    text += "blit " + std::to_string(u.probe.blits) + " " + std::to_string(u.probe.lastDest.x()) +
            " " + std::to_string(u.probe.lastDest.y()) + " " + std::to_string(img.width()) + " " +
            std::to_string(img.height()) + "\n";
    std::string ppm =
        "P6\n" + std::to_string(img.width()) + " " + std::to_string(img.height()) + "\n255\n";
    for (int y = 0; y < img.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            ppm += static_cast<char>(qRed(row[x]));
            ppm += static_cast<char>(qGreen(row[x]));
            ppm += static_cast<char>(qBlue(row[x]));
        }
    }
    // Pixels first, so a reader that sees the new text also finds the matching picture.
    writeFileAtomically(u.probe.prefix + ".ppm", ppm);
    writeFileAtomically(u.probe.prefix + ".txt", text);
}

void recordBlit(const QImage& image, QPoint dest) {
    Probe& p = ui().probe;
    if (p.prefix.empty())
        return;
    p.lastBlit = image.copy();
    p.lastDest = dest;
    if (++p.blits == 1) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        const long long ns = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
        writeFileAtomically(p.prefix + ".first", std::to_string(ns) + "\n");
    }
}

void startProbe() {
    Ui& u = ui();
    const char* prefix = std::getenv("ORVANE_UI_PROBE");
    if (prefix == nullptr || *prefix == '\0')
        return;
    if (::pipe2(u.probe.pipe, O_NONBLOCK | O_CLOEXEC) != 0)
        return;
    u.probe.prefix = prefix;
    probeSignalFd = u.probe.pipe[1];
    u.probe.notifier = new QSocketNotifier(u.probe.pipe[0], QSocketNotifier::Read);
    QObject::connect(u.probe.notifier, &QSocketNotifier::activated, [] { writeProbe(); });
    struct sigaction sa {};
    sa.sa_handler = onProbeSignal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGUSR1, &sa, nullptr);
}

// ---- start-up ----

QtMessageHandler previousHandler = nullptr;

// While Qt connects to the display its complaints would come as several lines and a fatal
// error would abort; one clear line and exit status 1 is what a user should see.
void startupMessageHandler(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type != QtFatalMsg)
        return;
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr, "%s: cannot connect to the display \"%s\"\n", ui().programName.c_str(),
                 display != nullptr ? display : "");
    std::fflush(stderr);
    std::_Exit(1);
}

bool isEmpty(const char* s) {
    return s == nullptr || *s == '\0';
}

} // namespace

bool startWindowSystem(int& argc, char** argv) {
    Ui& u = ui();
    if (argc > 0 && argv[0] != nullptr) {
        const char* slash = std::strrchr(argv[0], '/');
        u.programName = slash != nullptr ? slash + 1 : argv[0];
    }
    if (isEmpty(std::getenv("QT_QPA_PLATFORM")) && isEmpty(std::getenv("DISPLAY")) &&
        isEmpty(std::getenv("WAYLAND_DISPLAY"))) {
        std::fprintf(stderr,
                     "%s: no display (DISPLAY is not set); run it on a desktop or under "
                     "xvfb-run\n",
                     u.programName.c_str());
        return false;
    }
    previousHandler = qInstallMessageHandler(startupMessageHandler);
    u.app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previousHandler);
    u.windowThread.store(std::this_thread::get_id());

    if (::pipe2(u.wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        std::fprintf(stderr, "%s: cannot create a pipe: %s\n", u.programName.c_str(),
                     std::strerror(errno));
        u.app.reset();
        return false;
    }
    u.wakeNotifier = new QSocketNotifier(u.wakePipe[0], QSocketNotifier::Read);
    QObject::connect(u.wakeNotifier, &QSocketNotifier::activated, [] { drainMailbox(); });
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        u.running = true;
    }
    startProbe();
    return true;
}

void stopWindowSystem() {
    Ui& u = ui();
    if (!u.app)
        return;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        u.running = false;
        u.windows.clear();
        u.pendingTexts.clear();
        u.pendingInvalidations.clear();
        ::close(u.wakePipe[0]);
        ::close(u.wakePipe[1]);
        u.wakePipe[0] = u.wakePipe[1] = -1;
    }
    delete u.wakeNotifier;
    u.wakeNotifier = nullptr;
    if (u.probe.notifier != nullptr) {
        signal(SIGUSR1, SIG_IGN);
        delete u.probe.notifier;
        u.probe.notifier = nullptr;
    }
    u.blitImage = QImage();
    u.probe.lastBlit = QImage();
    u.windowThread.store(std::thread::id());
    u.app.reset();
}

} // namespace orvane::platform

using namespace orvane::platform;

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR templateName, HWND, DLGPROC proc, LPARAM initParam) {
    if (!onWindowThread())
        return -1;
    // Templates are found by name; numeric resource ids are not used by the program.
    if (reinterpret_cast<std::uintptr_t>(templateName) < 0x10000)
        return -1;
    const DialogTemplate* t = findDialogTemplate(templateName);
    if (t == nullptr) {
        std::fprintf(stderr, "%s: no dialog template %s\n", ui().programName.c_str(), templateName);
        return -1;
    }

    auto state = std::make_unique<DialogState>();
    DialogState* d = state.get();
    d->handle = newHandle();
    d->proc = proc;
    std::unique_ptr<DialogWidget> widget = std::make_unique<DialogWidget>(d);
    d->widget = widget.get();
    d->self = std::make_unique<Window>(Window{d->handle, widget.get(), d, 0, "#32770"});

    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    widget->setWindowFlags(flags);
    widget->setWindowTitle(QString::fromLatin1(t->caption));
    if (t->pointSize != 0) {
        // The template's face rarely exists here; a sans face whose height matches the 8-point
        // dialog font keeps every text inside the rectangles the template gives.
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setStyleHint(QFont::SansSerif);
        font.setPixelSize(11);
        font.setStretch(QFont::SemiCondensed);
        widget->setFont(font);
    }
    const QRect client = dialogUnitsToPixels(t->x, t->y, t->cx, t->cy);
    if (t->style & kWsThickFrame)
        widget->resize(client.size());
    else
        widget->setFixedSize(client.size());
    if (!(t->style & kDsCenter))
        widget->move(client.topLeft());
    if (!(t->style & kWsCaption))
        widget->setWindowFlag(Qt::FramelessWindowHint);

    for (std::size_t i = 0; i < t->itemCount; ++i) {
        const DialogItemTemplate& item = t->items[i];
        auto control = std::make_unique<Window>();
        control->handle = newHandle();
        control->dialog = d;
        control->id = item.id;
        control->className = item.className;
        control->widget = makeControl(item, d, control->handle);
        if (control->widget == nullptr) {
            std::fprintf(stderr, "%s: dialog %s: unsupported control %s with style 0x%08X\n",
                         ui().programName.c_str(), t->name, item.className,
                         static_cast<unsigned>(item.style));
            return -1;
        }
        d->controls.push_back(std::move(control));
    }
    registerWindow(d->self.get());
    for (const auto& c : d->controls)
        registerWindow(c.get());
    ui().dialogs.push_back(d);

    if (dispatch(d, WM_INITDIALOG, 0, initParam) != 0) {
        for (const auto& c : d->controls) {
            if (c->widget->focusPolicy() & Qt::TabFocus && !c->widget->isHidden()) {
                c->widget->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
    }
    if (!d->ended)
        widget->exec();

    ui().dialogs.pop_back();
    unregisterDialog(d);
    widget.reset();
    return d->result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    if (!onWindowThread())
        return FALSE;
    Window* w = findWindow(dialog);
    if (w == nullptr || w->dialog == nullptr || w->dialog->self.get() != w)
        return FALSE;
    DialogState* d = w->dialog;
    if (!d->ended) {
        d->ended = true;
        d->result = result;
        d->widget->done(static_cast<int>(result));
    }
    return TRUE;
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    const char* t = text != nullptr ? text : "";
    const char* c = caption != nullptr ? caption : "Error";
    std::fprintf(stderr, "%s: %s\n", c, t);
    std::fflush(stderr);
    if (!onWindowThread())
        return IDOK;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (type & 0xF0) {
    case 0x10:
        icon = QMessageBox::Critical;
        break;
    case 0x20:
        icon = QMessageBox::Question;
        break;
    case 0x30:
        icon = QMessageBox::Warning;
        break;
    case 0x40:
        icon = QMessageBox::Information;
        break;
    default:
        break;
    }
    QMessageBox box(icon, QString::fromLatin1(c), QString::fromLatin1(t), QMessageBox::Ok);
    box.exec();
    return IDOK;
}

HWND GetDlgItem(HWND dialog, int id) {
    Window* c = findControl(dialog, id);
    return c != nullptr ? c->handle : nullptr;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
    if (!onWindowThread() || rect == nullptr)
        return FALSE;
    Window* w = findWindow(window);
    if (w == nullptr)
        return FALSE;
    QRect r;
    if (w->widget->isWindow())
        r = w->widget->frameGeometry();
    else
        r = QRect(w->widget->mapToGlobal(QPoint(0, 0)), w->widget->size());
    *rect = RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    return TRUE;
}

BOOL ScreenToClient(HWND window, POINT* point) {
    if (!onWindowThread() || point == nullptr)
        return FALSE;
    Window* w = findWindow(window);
    if (w == nullptr)
        return FALSE;
    const QPoint p = w->widget->mapFromGlobal(QPoint(point->x, point->y));
    point->x = p.x();
    point->y = p.y();
    return TRUE;
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
    if (!onWindowThread() || paint == nullptr)
        return nullptr;
    Window* w = findWindow(window);
    // Qt paints a widget only from inside its paint event.
    if (w == nullptr || w->dialog == nullptr || w->dialog->self.get() != w || !w->dialog->painting)
        return nullptr;
    auto* ctx = new PaintContext;
    ctx->window = window;
    ctx->painter.begin(w->widget);
    *paint = PAINTSTRUCT{};
    paint->hdc = reinterpret_cast<HDC>(ctx);
    const QRect r = w->widget->rect();
    paint->rcPaint = RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    return paint->hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* paint) {
    if (paint == nullptr || paint->hdc == nullptr)
        return FALSE;
    auto* ctx = reinterpret_cast<PaintContext*>(paint->hdc);
    ctx->painter.end();
    delete ctx;
    return TRUE;
}

namespace {
// The top byte is unused in a bitmap; Qt wants it opaque. The arrays never overlap, which lets
// the compiler vectorise the loop.
void setOpaque(std::uint32_t* __restrict out, const std::uint32_t* __restrict in, int count) {
    for (int i = 0; i < count; ++i)
        out[i] = in[i] | 0xFF000000u;
}
} // namespace

// 32-bit uncompressed bitmaps only, which is all the program draws. The pixels are copied into
// the window as they are (0x00RRGGBB); rows of a positive-height bitmap run bottom-up.
int SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                      UINT startScan, UINT scanLines, const void* bits, const BITMAPINFO* info,
                      UINT) {
    if (dc == nullptr || bits == nullptr || info == nullptr || !onWindowThread())
        return 0;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if (h.biBitCount != 32 || h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight == 0)
        return 0;
    auto* ctx = reinterpret_cast<PaintContext*>(dc);
    const bool bottomUp = h.biHeight > 0;
    const long long dibWidth = h.biWidth;
    const long long dibHeight = bottomUp ? h.biHeight : -static_cast<long long>(h.biHeight);
    const int w = static_cast<int>(std::min<long long>(width, dibWidth));
    const int ht = static_cast<int>(std::min<long long>(height, dibHeight));
    if (w <= 0 || ht <= 0 || scanLines == 0)
        return 0;

    QImage& img = ui().blitImage;
    if (img.width() != w || img.height() != ht)
        img = QImage(w, ht, QImage::Format_RGB32);
    const auto* src = static_cast<const std::uint32_t*>(bits);
    // Destination columns [first, last) have source pixels; the rest are black.
    const int first = static_cast<int>(std::clamp<long long>(-xSrc, 0, w));
    const int last = static_cast<int>(std::clamp<long long>(dibWidth - xSrc, first, w));
    for (int j = 0; j < ht; ++j) {
        // DIB row (counted from the bottom for a bottom-up bitmap) shown on destination row j.
        const long long row = bottomUp ? ySrc + ht - 1 - j : ySrc + j;
        const long long stored = bottomUp ? row - startScan : row;
        auto* out = reinterpret_cast<std::uint32_t*>(img.scanLine(j));
        if (row < 0 || row >= dibHeight || stored < 0 || stored >= scanLines) {
            std::fill(out, out + w, 0xFF000000u);
            continue;
        }
        const std::uint32_t* in = src + stored * dibWidth + xSrc;
        std::fill(out, out + first, 0xFF000000u);
        setOpaque(out + first, in + first, last - first);
        std::fill(out + last, out + w, 0xFF000000u);
    }
    // An opaque image drawn over is a plain copy of the rows. Qt spreads a tall drawImage over
    // threads of its own pool; bands of a few rows stay on this thread, so the window's painting
    // keeps to one thread (which ThreadSanitizer can then follow) at no measurable cost.
    const int band = 8;
    for (int top = 0; top < ht; top += band) {
        const int rows = std::min(band, ht - top);
        ctx->painter.drawImage(QPoint(xDest, yDest + top), img, QRect(0, top, w, rows));
    }
    recordBlit(img, QPoint(xDest, yDest));
    return static_cast<int>(scanLines);
}

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL) {
    const QRect area = rect != nullptr ? QRect(QPoint(rect->left, rect->top),
                                               QPoint(rect->right - 1, rect->bottom - 1))
                                       : QRect();
    if (onWindowThread()) {
        Window* w = findWindow(window);
        if (w == nullptr)
            return FALSE;
        invalidate(w, area);
        return TRUE;
    }
    Ui& u = ui();
    std::lock_guard<std::mutex> lock(u.mutex);
    if (!u.running || u.windows.find(key(window)) == u.windows.end())
        return FALSE;
    const auto it = u.pendingInvalidations.find(key(window));
    if (it == u.pendingInvalidations.end())
        u.pendingInvalidations.emplace(key(window), area);
    else if (!it->second.isNull())
        it->second = area.isNull() ? QRect() : it->second.united(area);
    wakeWindowThreadLocked();
    return TRUE;
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    const char* t = text != nullptr ? text : "";
    Ui& u = ui();
    if (onWindowThread()) {
        Window* c = findControl(dialog, id);
        if (c == nullptr)
            return FALSE;
        {
            // A newer text from this thread replaces one still waiting in the mailbox.
            std::lock_guard<std::mutex> lock(u.mutex);
            u.pendingTexts.erase({key(dialog), id});
        }
        setControlText(c->widget, QString::fromLatin1(t));
        return TRUE;
    }
    std::lock_guard<std::mutex> lock(u.mutex);
    if (!u.running || u.windows.find(key(dialog)) == u.windows.end())
        return FALSE;
    u.pendingTexts[{key(dialog), id}] = t;
    wakeWindowThreadLocked();
    return TRUE;
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size) {
    if (text == nullptr || size <= 0)
        return 0;
    text[0] = '\0';
    Window* c = onWindowThread() ? findControl(dialog, id) : nullptr;
    if (c == nullptr)
        return 0;
    const QByteArray bytes = controlText(c->widget).toLatin1();
    const int n = std::min<int>(static_cast<int>(bytes.size()), size - 1);
    std::memcpy(text, bytes.constData(), static_cast<std::size_t>(n));
    text[n] = '\0';
    return static_cast<UINT>(n);
}

void InitCommonControls() {}
