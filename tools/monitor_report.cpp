#include "tools/monitor_report.h"

#include "sensor/tilt_readout.h"

#ifdef ORVANE_HAVE_MQTT
#include "tools/mqtt_publisher.h"
#endif

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace orvane::tools {

struct MonitorReport::Aggregate {
    double startedAt = 0; // seconds since the run's start
    std::size_t count = 0;
    double sum[3] = {};
    double min[3] = {};
    double max[3] = {};
};

namespace {

bool parseDegrees(const std::string& text, double& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(value) && value >= 0 && value < 180;
}

// The three values of a row as the CSV shows them: X^, Y^, total.
[[maybe_unused]] void values(const TowerReadings& r, double v[3]) {
    v[0] = static_cast<double>(-r.angleX);
    v[1] = static_cast<double>(r.angleY);
    v[2] = static_cast<double>(r.totalTilt);
}

} // namespace

bool parseAlarm(const std::string& text, AlarmOptions& alarm, std::string& error) {
    const std::size_t colon = text.find(':');
    AlarmOptions parsed;
    const bool good =
        parseDegrees(text.substr(0, colon), parsed.threshold) &&
        (colon == std::string::npos ? (parsed.clear = parsed.threshold - 0.25, true)
                                    : parseDegrees(text.substr(colon + 1), parsed.clear));
    if (!good || !(parsed.clear < parsed.threshold)) {
        error =
            "--alarm " + text + ": expected DEG[:CLEAR], degrees from 0 to 180, CLEAR below DEG";
        return false;
    }
    alarm = parsed;
    return true;
}

MonitorReport::MonitorReport(double startUnix, std::optional<AlarmOptions> alarm,
                             MqttPublisher* mqtt, std::optional<double> interval)
    : startUnix_(startUnix), alarm_(alarm), mqtt_(mqtt), interval_(interval) {
#ifndef ORVANE_HAVE_MQTT
    mqtt_ = nullptr;
#endif
    if (mqtt_ && alarm_) {
        char json[160];
        std::snprintf(json, sizeof json,
                      "{\"active\": false, \"total\": null, \"threshold\": %.4f, \"time\": %.3f}",
                      alarm_->threshold, startUnix_);
#ifdef ORVANE_HAVE_MQTT
        mqtt_->publishAlarm(json);
#endif
    }
}

MonitorReport::~MonitorReport() = default;

void MonitorReport::row(double seconds, const TowerReadings& r) {
    if (alarm_)
        alarmRow(seconds, r);
#ifdef ORVANE_HAVE_MQTT
    if (!mqtt_)
        return;
    const double now = startUnix_ + seconds;
    if (!interval_) {
        double v[3];
        values(r, v);
        char json[256];
        std::snprintf(json, sizeof json,
                      "{\"time\": %.3f, \"sample\": %u, \"x\": %.4f, \"y\": %.4f, \"total\": %.4f, "
                      "\"view\": \"%s\", \"marker\": \"%s\"}",
                      now, r.sampleCount, v[0], v[1], v[2], r.closeView ? "close" : "wide",
                      r.markerColour == kLiveGreen ? "green" : "yellow");
        mqtt_->publishTilt(json);
        return;
    }
    if (aggregate_ && seconds - aggregate_->startedAt >= *interval_)
        sendAggregate();
    if (!aggregate_) {
        aggregate_ = std::make_unique<Aggregate>();
        aggregate_->startedAt = seconds;
    }
    double v[3];
    values(r, v);
    Aggregate& a = *aggregate_;
    for (int i = 0; i < 3; ++i) {
        a.sum[i] += v[i];
        a.min[i] = a.count == 0 ? v[i] : std::min(a.min[i], v[i]);
        a.max[i] = a.count == 0 ? v[i] : std::max(a.max[i], v[i]);
    }
    ++a.count;
#else
    (void)seconds;
#endif
}

void MonitorReport::sendAggregate() {
#ifdef ORVANE_HAVE_MQTT
    const Aggregate& a = *aggregate_;
    const double n = static_cast<double>(a.count);
    char json[512];
    std::snprintf(json, sizeof json,
                  "{\"time\": %.3f, \"count\": %zu, "
                  "\"mean\": {\"x\": %.4f, \"y\": %.4f, \"total\": %.4f}, "
                  "\"min\": {\"x\": %.4f, \"y\": %.4f, \"total\": %.4f}, "
                  "\"max\": {\"x\": %.4f, \"y\": %.4f, \"total\": %.4f}}",
                  startUnix_ + a.startedAt, a.count, a.sum[0] / n, a.sum[1] / n, a.sum[2] / n,
                  a.min[0], a.min[1], a.min[2], a.max[0], a.max[1], a.max[2]);
    mqtt_->publishTilt(json);
#endif
    aggregate_.reset();
}

void MonitorReport::alarmRow(double seconds, const TowerReadings& r) {
    const double total = static_cast<double>(r.totalTilt);
    bool changed = false;
    if (!alarmActive_) {
        if (total > alarm_->threshold) {
            if (!aboveSince_)
                aboveSince_ = seconds;
            if (seconds - *aboveSince_ >= alarm_->hold) {
                alarmActive_ = true;
                changed = true;
            }
        } else {
            aboveSince_.reset();
        }
    } else if (total < alarm_->clear) {
        alarmActive_ = false;
        aboveSince_.reset();
        changed = true;
    }
    if (!changed)
        return;
    std::fprintf(stderr,
                 "orvane monitor: alarm %s at %.3f s: total %.4f degrees (threshold %.4f)\n",
                 alarmActive_ ? "raised" : "cleared", seconds, total, alarm_->threshold);
#ifdef ORVANE_HAVE_MQTT
    if (mqtt_) {
        char json[160];
        std::snprintf(json, sizeof json,
                      "{\"active\": %s, \"total\": %.4f, \"threshold\": %.4f, \"time\": %.3f}",
                      alarmActive_ ? "true" : "false", total, alarm_->threshold,
                      startUnix_ + seconds);
        mqtt_->publishAlarm(json);
    }
#endif
}

void MonitorReport::state(ReadingState state) {
#ifdef ORVANE_HAVE_MQTT
    if (mqtt_)
        mqtt_->publishSensor(readingStateName(state));
#else
    (void)state;
#endif
}

void MonitorReport::finish() {
    if (aggregate_ && aggregate_->count > 0)
        sendAggregate();
}

} // namespace orvane::tools
