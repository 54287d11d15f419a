// The Win32 subset over Qt, driven through its Win32 names with the program's own template.
#include "platform/win32_ui.h"
#include "platform/win32_ui_qt.h"
#include "resources/resource.h"

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

const HINSTANCE kInstance = reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x400000));

// The window system lives for the whole program, as in the viewer.
class WindowSystem : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "ui_test";
        static char* argv[] = {name, nullptr};
        ASSERT_TRUE(orvane::platform::startWindowSystem(argc, argv));
    }
    void TearDown() override { orvane::platform::stopWindowSystem(); }
};
[[maybe_unused]] ::testing::Environment* const windowSystem =
    ::testing::AddGlobalTestEnvironment(new WindowSystem);

// What a test's dialog procedure does and what it received.
struct Script {
    std::function<void(HWND)> onInit;
    std::function<void(HWND, int)> onCommand;
    std::function<void(HWND)> onClose;
    std::function<void(HWND)> onPaint;
    std::vector<std::string> log;
    LPARAM initParam = 0;
};
Script* script = nullptr;

INT_PTR CALLBACK testProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        script->log.push_back("init");
        script->initParam = lParam;
        if (script->onInit)
            script->onInit(hwnd);
        return 1;
    case WM_COMMAND:
        script->log.push_back("command " + std::to_string(LOWORD(wParam)));
        if (script->onCommand)
            script->onCommand(hwnd, LOWORD(wParam));
        return 1;
    case WM_CLOSE:
        script->log.push_back("close");
        if (script->onClose)
            script->onClose(hwnd);
        return 1;
    case WM_PAINT:
        if (script->onPaint)
            script->onPaint(hwnd);
        return 0;
    default:
        return 0;
    }
}

INT_PTR runDialog(Script& s) {
    script = &s;
    const INT_PTR result = DialogBoxParamA(kInstance, "DLG_USE", nullptr, testProc, 42);
    script = nullptr;
    return result;
}

// Runs f on the window thread once the dialog's message loop is running.
void later(std::function<void()> f, int ms = 0) {
    QTimer::singleShot(ms, std::move(f));
}

void pressKey(int key) {
    QWidget* target = QApplication::focusWidget();
    if (target == nullptr)
        target = QApplication::activeModalWidget();
    ASSERT_NE(target, nullptr);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
}

std::string itemText(HWND dialog, int id) {
    char buf[32];
    GetDlgItemTextA(dialog, id, buf, sizeof buf);
    return buf;
}

TEST(Win32Dialog, ControlsSitWhereTheTemplatePutsThemInPixels) {
    // Dialog units to pixels with base units 6 x 13, rounded as MulDiv rounds (halves up).
    struct Expected {
        int id, x, y, width, height;
    };
    const Expected table[] = {
        {IDC_VIEW_FRAME, 9, 11, 467, 475},    {IDOK, 392, 504, 75, 23},
        {IDC_ROTATE_LEFT, 141, 494, 47, 16},  {IDC_MARK, 195, 494, 47, 16},
        {IDC_ROTATE_RIGHT, 246, 494, 47, 16}, {IDC_OFFSET_X, 56, 525, 60, 20},
        {IDC_OFFSET_Y, 143, 525, 60, 20},     {IDC_TOTAL, 275, 525, 60, 20},
    };
    Script s;
    s.onInit = [&](HWND hwnd) {
        for (const Expected& e : table) {
            SCOPED_TRACE(e.id);
            HWND item = GetDlgItem(hwnd, e.id);
            ASSERT_NE(item, nullptr);
            RECT r{};
            ASSERT_TRUE(GetWindowRect(item, &r));
            POINT origin{r.left, r.top};
            ASSERT_TRUE(ScreenToClient(hwnd, &origin));
            EXPECT_EQ(origin.x, e.x);
            EXPECT_EQ(origin.y, e.y);
            EXPECT_EQ(r.right - r.left, e.width);
            EXPECT_EQ(r.bottom - r.top, e.height);
        }
        EXPECT_EQ(GetDlgItem(hwnd, 9999), nullptr);
        EXPECT_EQ(itemText(hwnd, IDOK), "Done");
        EXPECT_EQ(itemText(hwnd, IDC_ROTATE_RIGHT), "rotate >");
        // Ending the dialog during its initialisation returns without running it.
        EXPECT_TRUE(EndDialog(hwnd, 7));
    };
    EXPECT_EQ(runDialog(s), 7);
    EXPECT_EQ(s.initParam, 42);
    EXPECT_EQ(s.log, (std::vector<std::string>{"init"}));
}

TEST(Win32Dialog, UnknownTemplateFails) {
    Script s;
    script = &s;
    EXPECT_EQ(DialogBoxParamA(kInstance, "NO_SUCH_DIALOG", nullptr, testProc, 0), -1);
    script = nullptr;
    EXPECT_TRUE(s.log.empty());
}

TEST(Win32Dialog, KeysAndTheCloseBoxArriveAsMessages) {
    Script s;
    s.onInit = [](HWND) {
        later([] {
            pressKey(Qt::Key_Return); // focus starts on the first tab stop, "Done"
            pressKey(Qt::Key_Escape);
            // Tab order is template order: Done, < rotate, mark, rotate >.
            pressKey(Qt::Key_Tab);
            pressKey(Qt::Key_Tab);
            pressKey(Qt::Key_Tab);
            pressKey(Qt::Key_Return);
            QApplication::activeModalWidget()->close();
        });
    };
    s.onClose = [](HWND hwnd) { EndDialog(hwnd, 3); };
    EXPECT_EQ(runDialog(s), 3);
    EXPECT_EQ(s.log, (std::vector<std::string>{"init", "command 1", "command 2", "command 1018",
                                               "close"}));
}

TEST(Win32Dialog, ButtonClickSendsItsId) {
    Script s;
    s.onInit = [](HWND) {
        later([] {
            for (QWidget* w : QApplication::allWidgets()) {
                auto* b = qobject_cast<QAbstractButton*>(w);
                if (b != nullptr && b->text() == "mark")
                    b->click();
            }
        });
    };
    s.onCommand = [](HWND hwnd, int id) {
        if (id == IDC_MARK)
            EndDialog(hwnd, 0);
    };
    EXPECT_EQ(runDialog(s), 0);
    EXPECT_EQ(s.log, (std::vector<std::string>{"init", "command 1020"}));
}

TEST(Win32Dialog, BlitDrawsBottomUpPixelsUnchanged) {
    constexpr int kW = 40, kH = 30, kX = 20, kY = 40; // clear of the labels
    std::vector<std::uint32_t> pixels(kW * kH);
    for (int i = 0; i < kW * kH; ++i)
        pixels[static_cast<std::size_t>(i)] =
            (static_cast<std::uint32_t>(i) * 2654435761u) & 0x00FFFFFFu;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kW;
    info.bmiHeader.biHeight = kH;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;

    int paints = 0;
    Script s;
    s.onPaint = [&](HWND hwnd) {
        ++paints;
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        ASSERT_NE(dc, nullptr);
        BITMAPINFO wrong = info;
        wrong.bmiHeader.biBitCount = 24;
        EXPECT_EQ(SetDIBitsToDevice(dc, kX, kY, kW, kH, 0, 0, 0, kH, pixels.data(), &wrong,
                                    DIB_RGB_COLORS),
                  0);
        EXPECT_EQ(SetDIBitsToDevice(dc, kX, kY, kW, kH, 0, 0, 0, kH, pixels.data(), &info,
                                    DIB_RGB_COLORS),
                  kH);
        EndPaint(hwnd, &ps);
    };
    QImage shot;
    s.onInit = [&](HWND hwnd) {
        later([&, hwnd] {
            shot = QApplication::activeModalWidget()->grab().toImage();
            EndDialog(hwnd, 0);
        });
    };
    runDialog(s);
    EXPECT_GE(paints, 1);
    ASSERT_FALSE(shot.isNull());
    int wrong = 0;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            // Row 0 of the bitmap is the bottom line of the picture.
            const std::uint32_t want = pixels[static_cast<std::size_t>((kH - 1 - y) * kW + x)];
            wrong += (shot.pixel(kX + x, kY + y) & 0x00FFFFFFu) != want;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(Win32Dialog, OtherThreadsReachTheWindowAndNeverWaitAfterTheEnd) {
    std::atomic<HWND> dialog{nullptr};
    std::atomic<bool> dialogOver{false};
    std::atomic<int> acceptedAfterEnd{0};
    std::atomic<int> callsAfterEnd{0};
    std::thread worker;
    QTimer poll;
    Script s;
    s.onInit = [&](HWND hwnd) {
        EXPECT_TRUE(SetDlgItemTextA(hwnd, IDC_TOTAL, "0.00"));
        dialog = hwnd;
        // Like the acquisition loop: rewrites readouts and invalidates, before, during and
        // after the end of the dialog.
        worker = std::thread([&] {
            HWND h = dialog;
            for (int i = 0; i < 2000; ++i) {
                const std::string text = std::to_string(i);
                SetDlgItemTextA(h, IDC_OFFSET_X, text.c_str());
                InvalidateRect(h, nullptr, FALSE);
            }
            SetDlgItemTextA(h, IDC_OFFSET_X, "last");
            while (!dialogOver)
                std::this_thread::yield();
            for (int i = 0; i < 1000; ++i) {
                acceptedAfterEnd += SetDlgItemTextA(h, IDC_OFFSET_X, "late");
                acceptedAfterEnd += InvalidateRect(h, nullptr, FALSE);
                ++callsAfterEnd;
            }
        });
        // The window thread polls until the worker's last text has arrived.
        QObject::connect(&poll, &QTimer::timeout, [hwnd] {
            if (itemText(hwnd, IDC_OFFSET_X) == "last")
                EndDialog(hwnd, 0);
        });
        poll.start(2);
    };
    EXPECT_EQ(runDialog(s), 0);
    dialogOver = true;
    worker.join();
    EXPECT_EQ(callsAfterEnd, 1000);
    EXPECT_EQ(acceptedAfterEnd, 0);
}

TEST(Win32Dialog, MessageBoxShowsAnErrorBoxAndWritesStderr) {
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    later([&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        icon = box->icon();
        pressKey(Qt::Key_Return);
    });
    testing::internal::CaptureStderr();
    const int answer = MessageBoxA(nullptr, "Something failed", "Some fault", MB_ICONERROR);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, IDOK);
    EXPECT_EQ(title, "Some fault");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_NE(err.find("Some fault: Something failed\n"), std::string::npos) << err;
}

} // namespace
