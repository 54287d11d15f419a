#pragma once

// A mosquitto broker of the test's own on a free loopback port, with a configuration the test
// writes, stopped by its process id; and mosquitto_sub as a recording subscriber. POSIX only.

#include "tests/support/scratch.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace orvane::test_support {

// A child process started from argv, its output in files; killed and reaped at the end.
class Child {
public:
    Child(std::vector<std::string> argv, const std::string& out, const std::string& err) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> args;
        for (std::string& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() { stop(SIGKILL); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    // Sends the signal and waits; the exit status, or -1 for a death by signal.
    int stop(int signal) {
        if (pid_ <= 0)
            return -1;
        kill(pid_, signal);
        return wait();
    }
    int wait() {
        if (pid_ <= 0)
            return -1;
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
};

inline int freeLoopbackPort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    close(s);
    return ntohs(a.sin_port);
}

inline bool acceptsConnections(int port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

class Broker {
public:
    // `config` is added to a listener on the port, without persistence.
    explicit Broker(const std::string& name, const std::string& config = "allow_anonymous true\n",
                    int port = 0)
        : port_(port ? port : freeLoopbackPort()), dir_(scratchDir() + name) {
        // Run as root, mosquitto would become its own user, who cannot read the test's files.
        std::ofstream(dir_ + ".conf") << "listener " << port_ << " 127.0.0.1\n"
                                      << "persistence false\n"
                                      << (geteuid() == 0 ? "user root\n" : "") << config;
        start();
    }
    void start() {
        child_ =
            std::make_unique<Child>(std::vector<std::string>{"mosquitto", "-c", dir_ + ".conf"},
                                    dir_ + ".out", dir_ + ".log");
        for (int i = 0; i < 200 && !acceptsConnections(port_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    void stop() { child_.reset(); }
    int port() const { return port_; }
    std::string url(const std::string& prefix, const std::string& user = "") const {
        return "mqtt://" + (user.empty() ? "" : user + "@") + "127.0.0.1:" + std::to_string(port_) +
               "/" + prefix;
    }

private:
    int port_;
    std::string dir_;
    std::unique_ptr<Child> child_;
};

// mosquitto_sub printing "topic payload" lines into a file until stopped.
class Subscriber {
public:
    Subscriber(const Broker& broker, const std::string& topic, const std::string& name,
               std::vector<std::string> extra = {})
        : path_(scratchDir() + name + ".sub") {
        std::vector<std::string> argv{
            "mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(broker.port()), "-t",
            topic,           "-v", "-q",        "1"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        child_ = std::make_unique<Child>(argv, path_, path_ + ".err");
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // subscribed
    }
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::ifstream in(path_);
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }
    void stop() { child_.reset(); }

private:
    std::string path_;
    std::unique_ptr<Child> child_;
};

} // namespace orvane::test_support
