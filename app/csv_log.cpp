#include "app/csv_log.h"

#include "sensor/tilt_readout.h"

#include <cstdio>

namespace orvane {

std::string formatCsvRow(double seconds, const TowerReadings& r) {
    char line[160];
    const float x = -r.angleX;
    std::snprintf(line, sizeof line, "%.3f,%u,%.4f,%.4f,%.4f,%s,%s", seconds, r.sampleCount,
                  static_cast<double>(x), static_cast<double>(r.angleY),
                  static_cast<double>(r.totalTilt), r.closeView ? "close" : "wide",
                  r.markerColour == kLiveGreen ? "green" : "yellow");
    return line;
}

CsvLog::CsvLog(AsyncFileWriter& file, Clock::time_point start) : file_(file), start_(start) {
    const std::string header = std::string(kCsvHeader) + "\n";
    file_.append(header.data(), header.size());
}

void CsvLog::sampleProcessed(const TowerReadings& readings) {
    if (readings.state != ReadingState::Live)
        return;
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    const std::string line = formatCsvRow(seconds, readings) + "\n";
    file_.append(line.data(), line.size());
}

} // namespace orvane
