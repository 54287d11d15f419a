// The FT_* calls on one handle from two threads: a worker reading while another thread writes
// and finally closes the handle.
#include "platform/d2xx.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

TEST(D2xxThreadsTest, ReadsWritesAndCloseFromTwoThreads) {
    setenv("ORVANE_DEVICE", "sim:rate=500,seed=3", 1);
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(FT_Open(0, &handle), FT_OK);
    unsetenv("ORVANE_DEVICE");
    FT_SetTimeouts(handle, 5, 0);

    std::atomic<std::uint32_t> received{0};
    std::atomic<FT_STATUS> last{FT_OK};
    std::thread reader([&] {
        std::uint8_t buffer[512];
        for (;;) {
            std::uint32_t n = 0;
            const FT_STATUS status = FT_Read(handle, buffer, sizeof buffer, &n);
            received += n;
            if (status != FT_OK) {
                last = status;
                return;
            }
        }
    });
    std::uint32_t written = 0;
    EXPECT_EQ(FT_Write(handle, "g", 1, &written), FT_OK);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(FT_Write(handle, "se", 2, &written), FT_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(FT_Close(handle), FT_OK);
    reader.join();
    // Once closed the handle is unknown: the reader's next call says so.
    EXPECT_EQ(last.load(), FT_INVALID_HANDLE);
    EXPECT_GE(received.load(), 20u);
}

} // namespace
