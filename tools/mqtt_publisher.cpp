#include "tools/mqtt_publisher.h"

#include <mosquitto.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <thread>

namespace orvane::tools {
namespace {

MqttPublisher& self(void* object) {
    return *static_cast<MqttPublisher*>(object);
}

extern "C" void connectCallback(struct mosquitto*, void* object, int rc) {
    self(object).onConnect(rc);
}
extern "C" void disconnectCallback(struct mosquitto*, void* object, int rc) {
    self(object).onDisconnect(rc);
}
extern "C" void publishCallback(struct mosquitto*, void* object, int mid) {
    self(object).onPublish(mid);
}
extern "C" void logCallback(struct mosquitto*, void* object, int level, const char* text) {
    if (level == MOSQ_LOG_ERR && text)
        self(object).onError(text);
}

struct Library {
    Library() { mosquitto_lib_init(); }
    ~Library() { mosquitto_lib_cleanup(); }
};

} // namespace

bool parseMqttUrl(std::string_view url, MqttOptions& options, std::string& error) {
    MqttOptions parsed = options;
    std::string_view rest;
    if (url.starts_with("mqtt://")) {
        rest = url.substr(7);
        parsed.tls = false;
        parsed.port = 1883;
    } else if (url.starts_with("mqtts://")) {
        rest = url.substr(8);
        parsed.tls = true;
        parsed.port = 8883;
    } else {
        error = "--mqtt " + std::string(url) +
                ": expected mqtt://[USER@]HOST[:PORT]/PREFIX or mqtts://...";
        return false;
    }
    const std::size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    const std::string_view prefix =
        slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view user = authority.substr(0, at);
        if (user.find(':') != std::string_view::npos) {
            error = "--mqtt: a password in the URL is refused, since every user of the machine can "
                    "read a command line; give it in ORVANE_MQTT_PASSWORD or --mqtt-password-file";
            return false;
        }
        parsed.user = std::string(user);
        authority = authority.substr(at + 1);
    }
    if (const std::size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        const std::string_view digits = authority.substr(colon + 1);
        int port = 0;
        const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
        if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size() ||
            port < 1 || port > 65535) {
            error = "--mqtt " + std::string(url) + ": the port must be a number from 1 to 65535";
            return false;
        }
        parsed.port = port;
        authority = authority.substr(0, colon);
    }
    std::string_view trimmed = prefix;
    while (trimmed.ends_with('/'))
        trimmed.remove_suffix(1);
    if (authority.empty() || trimmed.empty() ||
        trimmed.find_first_of("#+") != std::string_view::npos) {
        error = "--mqtt " + std::string(url) +
                ": needs a host and a topic prefix without wildcards (mqtt://HOST/PREFIX)";
        return false;
    }
    parsed.host = std::string(authority);
    parsed.prefix = std::string(trimmed);
    options = parsed;
    return true;
}

MqttPublisher::~MqttPublisher() {
    stop();
}

bool MqttPublisher::start(const MqttOptions& options, std::string& error) {
    static Library library;
    options_ = options;
    mosq_ = mosquitto_new(nullptr, true, this);
    if (!mosq_) {
        error = "--mqtt: cannot set up the MQTT client";
        return false;
    }
    mosquitto_connect_callback_set(mosq_, connectCallback);
    mosquitto_disconnect_callback_set(mosq_, disconnectCallback);
    mosquitto_publish_callback_set(mosq_, publishCallback);
    mosquitto_log_callback_set(mosq_, logCallback);
    mosquitto_reconnect_delay_set(mosq_, 1, 30, true);
    mosquitto_max_inflight_messages_set(mosq_, static_cast<unsigned>(kInFlightLimit));
    const std::string statusTopic = options_.prefix + "/status";
    mosquitto_will_set(mosq_, statusTopic.c_str(), 7, "offline", 1, true);
    if (!options_.user.empty() &&
        mosquitto_username_pw_set(
            mosq_, options_.user.c_str(),
            options_.password.empty() ? nullptr : options_.password.c_str()) != MOSQ_ERR_SUCCESS) {
        error = "--mqtt: cannot use the user name";
        return false;
    }
    if (options_.tls) {
        const int rc =
            mosquitto_tls_set(mosq_, options_.cafile.empty() ? nullptr : options_.cafile.c_str(),
                              nullptr, options_.cert.empty() ? nullptr : options_.cert.c_str(),
                              options_.key.empty() ? nullptr : options_.key.c_str(), nullptr);
        if (options_.cafile.empty())
            mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = std::string("--mqtt: the TLS files cannot be used: ") + mosquitto_strerror(rc);
            return false;
        }
    }
    const int rc =
        mosquitto_connect(mosq_, options_.host.c_str(), options_.port, kKeepAliveSeconds);
    if (rc == MOSQ_ERR_TLS) {
        error = "--mqtt: the broker's certificate does not verify (TLS handshake failed)";
        return false;
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        std::fprintf(stderr, "orvane monitor: broker %s:%d not reachable (%s); retrying\n",
                     options_.host.c_str(), options_.port, mosquitto_strerror(rc));
        std::lock_guard<std::mutex> lock(mutex_);
        reportedDown_ = true;
    }
    if (mosquitto_loop_start(mosq_) != MOSQ_ERR_SUCCESS) {
        error = "--mqtt: cannot start the MQTT client's thread";
        return false;
    }
    if (rc != MOSQ_ERR_SUCCESS)
        mosquitto_reconnect_async(mosq_);
    return true;
}

void MqttPublisher::publishRetained(const std::string& topic, const std::string& payload) {
    mosquitto_publish(mosq_, nullptr, (options_.prefix + "/" + topic).c_str(),
                      static_cast<int>(payload.size()), payload.data(), 1, true);
}

void MqttPublisher::onConnect(int rc) {
    std::string sensor, alarm;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (rc != 0) {
            const char* why = mosquitto_connack_string(rc);
            if (!everConnected_) {
                // Said once, by the main thread, which ends the run; libmosquitto may try again
                // before it has.
                if (!fatal_)
                    fatal_ = std::string("the broker refused the connection: ") + why;
            } else {
                std::fprintf(stderr,
                             "orvane monitor: the broker refused the connection: %s; "
                             "retrying\n",
                             why);
            }
            return;
        }
        connected_ = true;
        everConnected_ = true;
        refused_ = false;
        tlsReported_ = false;
        inFlight_ = 0;
        if (reportedDown_ || dropped_ > 0) {
            std::fprintf(stderr,
                         "orvane monitor: broker connected; %zu messages dropped while it "
                         "was away\n",
                         dropped_);
            dropped_ = 0;
            reportedDown_ = false;
        }
        sensor = sensor_;
        alarm = alarm_;
    }
    publishRetained("status", "online");
    publishRetained("sensor", sensor);
    if (!alarm.empty())
        publishRetained("alarm", alarm);
}

void MqttPublisher::onError(const std::string& text) {
    // The TLS handshake runs in libmosquitto's thread; its failures are told only here.
    if (text.find("certificate verify failed") == std::string::npos &&
        text.find("SSL routines") == std::string::npos)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!everConnected_ && !fatal_) {
        fatal_ = "the broker's certificate does not verify (" + text + ")";
    } else if (!tlsReported_) {
        std::fprintf(stderr, "orvane monitor: TLS with the broker failed: %s; retrying\n",
                     text.c_str());
    }
    tlsReported_ = true;
}

void MqttPublisher::onDisconnect(int rc) {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool wasConnected = connected_;
    connected_ = false;
    if (refused_ || !wasConnected) {
        refused_ = false;
        reportedDown_ = true;
        return;
    }
    if (rc != 0 && !reportedDown_) {
        std::fprintf(stderr, "orvane monitor: broker connection lost; retrying\n");
        reportedDown_ = true;
    }
}

void MqttPublisher::onPublish(int mid) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (mid == offlineMid_)
        offlineSent_ = true;
    if (inFlight_ > 0)
        --inFlight_;
}

void MqttPublisher::publishTilt(std::string json) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() >= kQueueLimit) {
        queue_.pop_front();
        ++dropped_;
    }
    queue_.push_back(std::move(json));
}

void MqttPublisher::publishSensor(const std::string& state) {
    bool connected = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sensor_ = state;
        connected = connected_;
    }
    if (connected)
        publishRetained("sensor", state);
}

void MqttPublisher::publishAlarm(const std::string& json) {
    bool connected = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        alarm_ = json;
        connected = connected_;
    }
    if (connected)
        publishRetained("alarm", json);
}

void MqttPublisher::pump() {
    if (!mosq_)
        return;
    const std::string topic = options_.prefix + "/tilt";
    for (;;) {
        std::string message;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!connected_ || queue_.empty() || inFlight_ >= kInFlightLimit)
                return;
            message = std::move(queue_.front());
            queue_.pop_front();
            ++inFlight_;
        }
        mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(message.size()),
                          message.data(), 1, false);
    }
}

std::optional<std::string> MqttPublisher::fatalError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fatal_;
}

void MqttPublisher::stop() {
    if (!mosq_)
        return;
    bool connected = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connected = connected_;
    }
    if (connected) {
        // What is still queued goes first, then "offline"; bounded, so an exit never hangs.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        for (;;) {
            pump();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if ((queue_.empty() && inFlight_ == 0) || !connected_)
                    break;
            }
            if (std::chrono::steady_clock::now() >= deadline)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        int mid = 0;
        const std::string topic = options_.prefix + "/status";
        {
            std::lock_guard<std::mutex> lock(mutex_);
            mosquitto_publish(mosq_, &mid, topic.c_str(), 7, "offline", 1, true);
            offlineMid_ = mid;
        }
        while (std::chrono::steady_clock::now() < deadline) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (offlineSent_ || !connected_)
                    break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        mosquitto_disconnect(mosq_);
    }
    mosquitto_loop_stop(mosq_, !connected);
    mosquitto_destroy(mosq_);
    mosq_ = nullptr;
}

} // namespace orvane::tools
