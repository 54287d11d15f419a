#pragma once

#include "app/async_file_writer.h"
#include "app/readout_sink.h"

#include <chrono>
#include <string>

namespace orvane {

// The log of what the viewer shows, one line per trustworthy reading, as orvane monitor writes it:
// time since the start (3 decimals), the sensor's sample count, X^ and Y^ as the boxes show them
// and the total tilt (4 decimals), the view and the marker's colour.
inline constexpr const char* kCsvHeader = "time,sample,x,y,total,view,marker";

// One line without its newline.
std::string formatCsvRow(double seconds, const TowerReadings& readings);

// Writes the log to a file from the loop's readings, without ever waiting for the disk.
class CsvLog : public ReadoutSink {
public:
    using Clock = std::chrono::steady_clock;

    CsvLog(AsyncFileWriter& file, Clock::time_point start);
    void refreshReadouts() override {}
    void sampleProcessed(const TowerReadings& readings) override;

private:
    AsyncFileWriter& file_;
    const Clock::time_point start_;
};

} // namespace orvane
