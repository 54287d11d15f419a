#pragma once

#include "app/dialog_base.h"
#include "app/readout_sink.h"

#include <cstdint>

namespace orvane {

class TowerMonitor;

// The main window DLG_USE: paints the view into the area of the (never shown) picture frame,
// shows the three readouts, turns the view and pins a mark. Its readouts are refreshed by the
// acquisition loop on the worker thread, through calls the window system hands to the window's
// thread.
class ViewDialog : public DialogBase, public ReadoutSink {
public:
    // Sizes the renderer to the picture frame, selects the wide view and starts the worker.
    void onInit() override;
    void onCommand(WPARAM wParam, LPARAM lParam) override;
    // Paints the view on WM_PAINT of the dialog itself; always answers false.
    bool onMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    // Invalidates the dialog and rewrites the readouts. Window or worker thread.
    void refreshReadouts() override;
    // Writes value with "%.2f" into the read-only box id.
    void setReadout(int id, float value);
    // Passed on to `log`, when there is one (--log).
    void sampleProcessed(const TowerReadings& readings) override;

    HWND frameWindow = nullptr;
    BITMAPINFOHEADER bitmapHeader{};
    std::int32_t destX = 0; // client coordinates of the picture
    std::int32_t destY = 0;
    TowerMonitor* monitor = nullptr; // not owned
    ReadoutSink* log = nullptr;      // not owned; the CSV log of what is shown, or null
};

} // namespace orvane
