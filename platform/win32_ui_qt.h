#pragma once

// Start and end of the Qt-based window system behind platform/win32_ui.h (Linux only).
namespace orvane::platform {

// Connects to the display and makes the calling thread the window thread. Without a usable
// display it writes one line naming the problem on standard error and returns false.
bool startWindowSystem(int& argc, char** argv);

// Tears the window system down. Calls from other threads that arrive later do nothing.
void stopWindowSystem();

} // namespace orvane::platform
