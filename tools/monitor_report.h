#pragma once

// What `orvane monitor` reports besides its CSV: the tilt alarm and the MQTT topics.

#include "app/readout_sink.h"

#include <memory>
#include <optional>
#include <string>

namespace orvane::tools {

class MqttPublisher;

// --alarm DEG[:CLEAR] with --alarm-hold S: active once the total tilt has stayed above DEG for S
// seconds, cleared when it falls below CLEAR. Only live readings move it.
struct AlarmOptions {
    double threshold = 0;
    double clear = 0;
    double hold = 0;
};

// Parses DEG[:CLEAR] (CLEAR defaults to DEG - 0.25, and must be below DEG). False with one line.
bool parseAlarm(const std::string& text, AlarmOptions& alarm, std::string& error);

class MonitorReport {
public:
    // `startUnix` is the wall-clock time of the run's start, in seconds since 1970.
    MonitorReport(double startUnix, std::optional<AlarmOptions> alarm, MqttPublisher* mqtt,
                  std::optional<double> interval);
    ~MonitorReport();

    // A logged row, `seconds` after the start.
    void row(double seconds, const TowerReadings& readings);
    void state(ReadingState state);
    // The end of the run: an interval under way is sent as it is.
    void finish();

private:
    struct Aggregate;
    void alarmRow(double seconds, const TowerReadings& readings);
    void sendAggregate();

    const double startUnix_;
    std::optional<AlarmOptions> alarm_;
    MqttPublisher* mqtt_;
    std::optional<double> interval_;
    std::unique_ptr<Aggregate> aggregate_;
    bool alarmActive_ = false;
    std::optional<double> aboveSince_; // seconds of the first row of the current run above DEG
};

} // namespace orvane::tools
