// The view dialog on the real template and the real TowerMonitor, through the program's dialog
// procedure, with the worker thread running beside it (no sensor: the loop only seeks).
#include "app/tower_monitor.h"
#include "app/view_dialog.h"
#include "app/win_main.h"
#include "platform/win32_ui.h"
#include "platform/win32_ui_qt.h"
#include "render/scene_renderer.h"
#include "resources/resource.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>

#include <cmath>
#include <string>

namespace {

class WindowSystem : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "view_dialog_test";
        static char* argv[] = {name, nullptr};
        ASSERT_TRUE(orvane::platform::startWindowSystem(argc, argv));
    }
    void TearDown() override {
        orvane::towerMonitor.stop();
        orvane::platform::stopWindowSystem();
    }
};
[[maybe_unused]] ::testing::Environment* const windowSystem =
    ::testing::AddGlobalTestEnvironment(new WindowSystem);

std::string itemText(HWND dialog, int id) {
    char buf[32];
    GetDlgItemTextA(dialog, id, buf, sizeof buf);
    return buf;
}

INT_PTR command(HWND dialog, int id) {
    return orvane::dialogProc(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

// Everything runs inside one dialog, as the program has only one; the checks run once its
// message loop is going.
TEST(ViewDialog, DrivesTheMonitorFromTheTemplatesControls) {
    using orvane::towerMonitor;
    auto* dialog = new orvane::ViewDialog; // never deleted, as in the program
    orvane::currentDialog = dialog;

    QTimer::singleShot(0, [dialog] {
        const HWND hwnd = dialog->hwnd;
        ASSERT_NE(hwnd, nullptr);

        // Initialisation: the picture lies under the frame, in client pixels, at its size.
        EXPECT_EQ(dialog->frameWindow, GetDlgItem(hwnd, IDC_VIEW_FRAME));
        EXPECT_EQ(dialog->monitor, &towerMonitor);
        EXPECT_EQ(dialog->destX, 9);
        EXPECT_EQ(dialog->destY, 11);
        EXPECT_EQ(towerMonitor.renderer.width(), 467);
        EXPECT_EQ(towerMonitor.renderer.height(), 475);
        EXPECT_FLOAT_EQ(towerMonitor.renderer.scale(), orvane::kWideView.scale);
        const BITMAPINFOHEADER& h = dialog->bitmapHeader;
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, 467);
        EXPECT_EQ(h.biHeight, 475); // positive: bottom-up rows
        EXPECT_EQ(h.biPlanes, 1);
        EXPECT_EQ(h.biBitCount, 32);
        EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB));
        EXPECT_EQ(h.biSizeImage, 0u);
        EXPECT_EQ(h.biXPelsPerMeter, 4000);
        EXPECT_EQ(h.biYPelsPerMeter, 4000);
        EXPECT_EQ(h.biClrUsed, 0u);
        EXPECT_EQ(towerMonitor.dialog.load(), static_cast<orvane::ReadoutSink*>(dialog));
        EXPECT_NE(towerMonitor.handle.load(), nullptr) << "the worker was started";
        // Before any sample there is no reading: no number, not even a zero.
        for (int id : {IDC_OFFSET_X, IDC_OFFSET_Y, IDC_TOTAL})
            EXPECT_EQ(itemText(hwnd, id), "--") << id;

        // Readouts as "%.2f" gives them, except that an exact zero never shows a minus sign.
        const struct {
            float value;
            const char* text;
        } readouts[] = {{-0.0f, "0.00"},      {1.5f, "1.50"},      {-0.75f, "-0.75"},
                        {2.675f, "2.67"},     {0.006f, "0.01"},    {-0.004f, "-0.00"},
                        {179.999f, "180.00"}, {-12.345f, "-12.35"}};
        for (const auto& r : readouts) {
            dialog->setReadout(IDC_TOTAL, r.value);
            EXPECT_EQ(itemText(hwnd, IDC_TOTAL), r.text) << r.value;
        }

        // "mark" before the first sample pins a blue marker at the centre.
        EXPECT_EQ(command(hwnd, IDC_MARK), 1);
        const orvane::ViewMarker pinned = towerMonitor.renderer.pinnedMarker();
        EXPECT_EQ(pinned.x, 0.0f);
        EXPECT_EQ(pinned.y, 0.0f);
        EXPECT_EQ(pinned.colour, 0x0010E0u);

        // The view angle moves by 22.5 per press without being wrapped, and the rotation
        // follows it about the tower axis.
        for (int i = 0; i < 16; ++i)
            command(hwnd, IDC_ROTATE_RIGHT);
        EXPECT_EQ(towerMonitor.viewAngle.load(), 360.0f);
        command(hwnd, IDC_ROTATE_LEFT);
        EXPECT_EQ(towerMonitor.viewAngle.load(), 337.5f);
        const orvane::Quaternion q = towerMonitor.viewRotation();
        const double half = 337.5 * 3.14159265358979323846 / 360.0;
        EXPECT_NEAR(q.w, std::cos(half), 1e-6);
        EXPECT_NEAR(q.y, std::sin(half), 1e-6);
        EXPECT_EQ(q.x, 0.0f);
        EXPECT_EQ(q.z, 0.0f);

        // The readouts come from the right values: X^ is -angleX, Y^ angleY, Total totalTilt.
        towerMonitor.stop();
        towerMonitor.tiltVector[0] = -0.05f; // X^ +2.86, Y^ -1.72, total 3.34 (c1 = 0.998)
        towerMonitor.tiltVector[1] = 0.9982f;
        towerMonitor.tiltVector[2] = -0.03f;
        towerMonitor.sampleCount = orvane::TowerMonitor::settledSampleCount();
        towerMonitor.processNewSample();
        dialog->refreshReadouts();
        const orvane::TowerReadings shown = towerMonitor.readings();
        ASSERT_EQ(shown.state, orvane::ReadingState::Live);
        char want[3][32];
        std::snprintf(want[0], sizeof want[0], "%.2f", static_cast<double>(-shown.angleX));
        std::snprintf(want[1], sizeof want[1], "%.2f", static_cast<double>(shown.angleY));
        std::snprintf(want[2], sizeof want[2], "%.2f", static_cast<double>(shown.totalTilt));
        EXPECT_EQ(itemText(hwnd, IDC_OFFSET_X), want[0]);
        EXPECT_EQ(itemText(hwnd, IDC_OFFSET_Y), want[1]);
        EXPECT_EQ(itemText(hwnd, IDC_TOTAL), want[2]);
        EXPECT_EQ(itemText(hwnd, IDC_OFFSET_X), "2.87");
        EXPECT_EQ(itemText(hwnd, IDC_OFFSET_Y), "-1.72");

        // Esc's command, an unknown id, a paint for another window and other messages are left
        // alone; the dialog goes on.
        EXPECT_EQ(command(hwnd, IDCANCEL), 1);
        EXPECT_EQ(command(hwnd, 4242), 1);
        EXPECT_EQ(orvane::dialogProc(GetDlgItem(hwnd, IDOK), WM_PAINT, 0, 0), 0);
        EXPECT_EQ(orvane::dialogProc(hwnd, 0x0200 /* mouse move */, 0, 0), 0);

        // Done ends the dialog.
        command(hwnd, IDOK);
    });
    const INT_PTR result =
        DialogBoxParamA(orvane::appInstance, "DLG_USE", nullptr, orvane::dialogProc, 0);
    EXPECT_EQ(result, 0);
    // After the end, refreshing reaches no window.
    EXPECT_FALSE(SetDlgItemTextA(dialog->hwnd, IDC_TOTAL, "1.00"));
    dialog->refreshReadouts();
    towerMonitor.stop();
}

} // namespace
