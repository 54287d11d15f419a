#include "app/view_dialog.h"

#include "app/tower_monitor.h"
#include "app/win_main.h"
#include "render/scene_renderer.h"
#include "resources/resource.h"

#include <cstdio>

namespace orvane {

namespace {
constexpr float kRotateStep = 22.5f; // degrees per press of a rotate button
constexpr const char* kNoReading = "--";
} // namespace

void ViewDialog::onInit() {
    frameWindow = GetDlgItem(hwnd, IDC_VIEW_FRAME);
    monitor = &towerMonitor;

    RECT frame{};
    GetWindowRect(frameWindow, &frame);
    // The frame's corner in client coordinates, so the picture lies exactly under the frame
    // whatever size the window manager gives the caption and border.
    POINT corner{frame.left, frame.top};
    ScreenToClient(hwnd, &corner);
    destX = corner.x;
    destY = corner.y;
    const LONG width = frame.right - frame.left;
    const LONG height = frame.bottom - frame.top;

    monitor->renderer.resize(width, height);
    monitor->selectWideView();

    bitmapHeader = BITMAPINFOHEADER{};
    bitmapHeader.biSize = sizeof(BITMAPINFOHEADER);
    bitmapHeader.biWidth = width;
    bitmapHeader.biHeight = height; // positive: rows run bottom-up
    bitmapHeader.biPlanes = 1;
    bitmapHeader.biBitCount = 32;
    bitmapHeader.biCompression = BI_RGB;
    bitmapHeader.biSizeImage = 0;
    bitmapHeader.biXPelsPerMeter = 4000;
    bitmapHeader.biYPelsPerMeter = 4000;
    bitmapHeader.biClrUsed = 0;
    bitmapHeader.biClrImportant = 0;

    // The loop refreshes through this pointer, so it is set before the thread exists.
    monitor->dialog = this;
    monitor->start();
    refreshReadouts();
}

void ViewDialog::onCommand(WPARAM wParam, LPARAM) {
    switch (LOWORD(wParam)) {
    case IDOK:
        onClose();
        break;
    // Rotate and mark are painted at once, not at the next sample, which may never come.
    case IDC_ROTATE_LEFT:
        monitor->viewAngle.fetch_sub(kRotateStep);
        monitor->updateViewRotation();
        monitor->turnLiveMarker(-kRotateStep);
        InvalidateRect(hwnd, nullptr, FALSE);
        break;
    case IDC_ROTATE_RIGHT:
        monitor->viewAngle.fetch_add(kRotateStep);
        monitor->updateViewRotation();
        monitor->turnLiveMarker(kRotateStep);
        InvalidateRect(hwnd, nullptr, FALSE);
        break;
    case IDC_MARK: {
        // Where the live marker is drawn: the last trustworthy reading, turned with the view.
        const ViewMarker live = monitor->renderer.liveMarker();
        monitor->renderer.setMarker(live.x, live.y, kMarkColour, false);
        InvalidateRect(hwnd, nullptr, FALSE);
        break;
    }
    default:
        break;
    }
}

bool ViewDialog::onMessage(HWND window, UINT message, WPARAM, LPARAM) {
    if (window != hwnd || message != WM_PAINT)
        return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    const std::int32_t width = monitor->renderer.width();
    const std::int32_t height = monitor->renderer.height();
    const std::uint32_t* bits = monitor->renderer.frameBits();
    SetDIBitsToDevice(dc, destX, destY, static_cast<DWORD>(width), static_cast<DWORD>(height), 0, 0,
                      0, static_cast<UINT>(height), bits,
                      reinterpret_cast<const BITMAPINFO*>(&bitmapHeader), DIB_RGB_COLORS);
    EndPaint(hwnd, &paint);
    return false;
}

void ViewDialog::refreshReadouts() {
    InvalidateRect(hwnd, nullptr, FALSE);
    const TowerReadings r = monitor->readings();
    // No number for a reading that cannot be trusted (settling, stale, lost).
    if (r.state != ReadingState::Live) {
        for (const int id : {IDC_OFFSET_X, IDC_OFFSET_Y, IDC_TOTAL})
            SetDlgItemTextA(hwnd, id, kNoReading);
        return;
    }
    setReadout(IDC_OFFSET_X, -r.angleX);
    setReadout(IDC_OFFSET_Y, r.angleY);
    setReadout(IDC_TOTAL, r.totalTilt);
}

void ViewDialog::sampleProcessed(const TowerReadings& readings) {
    if (log)
        log->sampleProcessed(readings);
}

void ViewDialog::setReadout(int id, float value) {
    // Negating an angle of exactly 0 gives -0, which "%.2f" would show as "-0.00".
    if (value == 0.0f)
        value = 0.0f;
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(value));
    SetDlgItemTextA(hwnd, id, text);
}

} // namespace orvane
