#pragma once

// Publishing `orvane monitor`'s readings to an MQTT broker through libmosquitto.

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

struct mosquitto;

namespace orvane::tools {

struct MqttOptions {
    bool tls = false;
    std::string host;
    int port = 1883;
    std::string user;     // empty: none
    std::string prefix;   // of every topic, without a trailing slash
    std::string password; // from the environment or a file, never the command line
    std::string cafile, cert, key;
};

// mqtt://[USER@]HOST[:PORT]/PREFIX or mqtts://... (default ports 1883 and 8883). A password in the
// URL is refused: every user of the machine can read a command line. False with one line.
bool parseMqttUrl(std::string_view url, MqttOptions& options, std::string& error);

// One connection to the broker, kept up by libmosquitto's own thread: reconnects after 1 s,
// doubling to 30 s. Messages wait in a bounded queue of their own while the broker is away
// (the oldest are dropped, and counted); nothing here ever waits for the network.
class MqttPublisher {
public:
    static constexpr std::size_t kQueueLimit = 5000; // 100 s of rows at 50 a second
    static constexpr std::size_t kInFlightLimit =
        200;                                     // handed to libmosquitto, not yet acknowledged
    static constexpr int kKeepAliveSeconds = 10; // a killed monitor is "offline" within 15 s

    MqttPublisher() = default;
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;
    ~MqttPublisher();

    // Connects (or keeps trying, when the broker is down). False with one line in `error` when
    // the connection cannot work at all: a certificate that does not verify, unusable files.
    bool start(const MqttOptions& options, std::string& error);
    // Queues one message on PREFIX/tilt, QoS 1. Any thread.
    void publishTilt(std::string json);
    // PREFIX/sensor and PREFIX/alarm, retained; sent again after every reconnect.
    void publishSensor(const std::string& state);
    void publishAlarm(const std::string& json);
    // Hands queued messages to libmosquitto while connected. Call often (main thread).
    void pump();
    // Set when the first connection was refused (credentials): one line saying why.
    std::optional<std::string> fatalError() const;
    // "offline" on PREFIX/status, then disconnects, waiting at most a second or two.
    void stop();

    // For libmosquitto's callbacks.
    void onConnect(int rc);
    void onDisconnect(int rc);
    void onPublish(int mid);
    void onError(const std::string& text);

private:
    void publishRetained(const std::string& topic, const std::string& payload);

    struct mosquitto* mosq_ = nullptr;
    MqttOptions options_;
    mutable std::mutex mutex_; //!< guards everything below
    std::deque<std::string> queue_;
    std::size_t dropped_ = 0;
    std::size_t inFlight_ = 0;
    bool connected_ = false;
    bool everConnected_ = false;
    bool reportedDown_ = false;
    bool refused_ = false;     // the last connection attempt was refused (and said so)
    bool tlsReported_ = false; // a TLS failure since the last connection was said
    std::string sensor_ = "settling";
    std::string alarm_;
    std::optional<std::string> fatal_;
    int offlineMid_ = -1;
    bool offlineSent_ = false;
};

} // namespace orvane::tools
