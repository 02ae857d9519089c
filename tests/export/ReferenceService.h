#pragma once
// tools/ringtone-service/reference_service.py on a free loopback port, for the export tests:
// started with the system's Python when made, stopped when destroyed. port() is 0 when it
// could not be started.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

extern char** environ;

class ReferenceService {
public:
    ReferenceService()
    {
        int out[2];
        if (::pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        char python[] = LIRROSA_SYSTEM_PYTHON;
        char script[] = LIRROSA_REFERENCE_SERVICE;
        char* argv[] = {python, script, nullptr};
        if (posix_spawn(&pid_, python, &actions, nullptr, argv, environ) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        FILE* lines = ::fdopen(out[0], "r");
        char line[256] = {};
        if (pid_ != 0 && std::fgets(line, sizeof line, lines) != nullptr)
            std::sscanf(line, "listening on http://127.0.0.1:%d", &port_);
        std::fclose(lines);
    }
    ~ReferenceService()
    {
        if (pid_ != 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ReferenceService(const ReferenceService&) = delete;
    ReferenceService& operator=(const ReferenceService&) = delete;

    int port() const { return port_; }
    // The address of its request path, with an optional query that asks for a kind of answer.
    std::string address(const std::string& query = {}) const
    {
        return "http://127.0.0.1:" + std::to_string(port_) + "/rtc" + (query.empty() ? "" : "?" + query);
    }

private:
    pid_t pid_ = 0;
    int port_ = 0;
};
