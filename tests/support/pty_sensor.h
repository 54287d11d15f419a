#pragma once

// `orvane sim --pty OPTIONS` as a child process for the life of the object: the simulated sensor
// on a pseudo-terminal, for tests and measurements of the tty backend. POSIX only.

#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace orvane::test_support {

class PtySensor {
public:
    // `tool` is the path of `orvane`; empty `options` gives the sensor's defaults. `extra` are
    // more arguments, such as "--link PATH".
    PtySensor(std::string tool, std::string options, std::vector<std::string> extra = {}) {
        int out[2];
        if (pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        char sim[] = "sim", pty[] = "--pty";
        std::vector<char*> argv{tool.data(), sim, pty};
        for (std::string& arg : extra)
            argv.push_back(arg.data());
        if (!options.empty())
            argv.push_back(options.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, tool.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        // The first line of its output is the terminal's path.
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            path_ += c;
        close(out[0]);
    }
    ~PtySensor() { stop(SIGTERM); }
    PtySensor(const PtySensor&) = delete;
    PtySensor& operator=(const PtySensor&) = delete;

    // Empty when the server did not start.
    const std::string& path() const { return path_; }

    // Stops the server; its exit status, or -1 when it did not exit normally or was not running.
    int stop(int signal) {
        if (pid_ <= 0)
            return -1;
        kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    std::string path_;
};

} // namespace orvane::test_support
