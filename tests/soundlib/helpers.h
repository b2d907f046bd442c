// Child processes and environment for the sound library tests.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

// Path of the running test binary (children re-run it with --child=NAME).
extern std::string selfPath;

using EnvOverrides = std::vector<std::pair<std::string, std::string>>;

// Start `argv` with the environment plus `env`; stdout and stderr go to
// the given files (or /dev/null when empty). Returns the pid, or -1.
pid_t spawn(const std::vector<std::string>& argv, const EnvOverrides& env = {},
            const std::string& stdoutPath = "", const std::string& stderrPath = "");

// Start `argv` with stdout into a pipe; *readFd gets the read end.
pid_t spawnReading(const std::vector<std::string>& argv, int* readFd);

// Wait at most timeoutMs; the wait status, or -1 after killing it on timeout.
int waitFor(pid_t pid, int timeoutMs);

// Retry `argv` (quietly) until it exits 0, at most timeoutMs.
bool waitUntilSucceeds(const std::vector<std::string>& argv, const EnvOverrides& env, int timeoutMs);

std::string readFile(const std::string& path);

// Set an environment variable for the scope, restoring it after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();

private:
    std::string name_;
    bool had_;
    std::string old_;
};

// A private server that a test may kill: JACK on the dummy driver or
// PulseAudio with a null sink. Stopped when destroyed.
class PrivateServer {
public:
    enum Kind { kJack, kPulse };
    explicit PrivateServer(Kind kind);
    ~PrivateServer();
    bool running() const { return pid_ > 0; }
    void kill();                   // SIGKILL, as a crash would
    const EnvOverrides& env() const { return env_; }  // how clients reach it

private:
    pid_t pid_ = -1;
    std::string dir_;
    EnvOverrides env_;
};
