#include "helpers.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

std::string selfPath;

namespace {

std::vector<std::string> environment(const EnvOverrides& env)
{
    std::vector<std::string> out;
    for (char** e = environ; *e; ++e) {
        bool replaced = false;
        for (const auto& kv : env)
            replaced = replaced || std::strncmp(*e, (kv.first + "=").c_str(), kv.first.size() + 1) == 0;
        if (!replaced) out.push_back(*e);
    }
    for (const auto& kv : env) out.push_back(kv.first + "=" + kv.second);
    return out;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> p;
    for (auto& s : strings) p.push_back(&s[0]);
    p.push_back(nullptr);
    return p;
}

pid_t spawnWith(std::vector<std::string> argv, const EnvOverrides& env,
                posix_spawn_file_actions_t* actions)
{
    std::vector<std::string> envStrings = environment(env);
    std::vector<char*> args = pointers(argv);
    std::vector<char*> envp = pointers(envStrings);
    pid_t pid;
    if (posix_spawnp(&pid, args[0], actions, nullptr, args.data(), envp.data()) != 0) return -1;
    return pid;
}

} // namespace

pid_t spawn(const std::vector<std::string>& argv, const EnvOverrides& env,
            const std::string& stdoutPath, const std::string& stderrPath)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int flags = O_WRONLY | O_CREAT | O_TRUNC;
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.empty() ? "/dev/null" : stdoutPath.c_str(),
                                     flags, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.empty() ? "/dev/null" : stderrPath.c_str(),
                                     flags, 0644);
    const pid_t pid = spawnWith(argv, env, &actions);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

pid_t spawnReading(const std::vector<std::string>& argv, int* readFd)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const pid_t pid = spawnWith(argv, {}, &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    *readFd = fds[0];
    return pid;
}

int waitFor(pid_t pid, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status;
}

bool waitUntilSucceeds(const std::vector<std::string>& argv, const EnvOverrides& env, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        const pid_t pid = spawn(argv, env);
        const int status = waitFor(pid, 5000);
        if (pid > 0 && status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name)
{
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv()
{
    if (had_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

PrivateServer::PrivateServer(Kind kind)
{
    char dir[] = "/tmp/fmscope-soundlib.XXXXXX";
    if (!mkdtemp(dir)) return;
    dir_ = dir;
    std::vector<std::string> probe;
    if (kind == kJack) {
        // A fixed name: JACK reclaims a registry slot only for the name of a
        // server that died without unregistering (these tests kill it), and
        // its registry has room for only eight servers.
        const std::string name = "fmscope-soundlib-private";
        env_ = {{"JACK_DEFAULT_SERVER", name}, {"JACK_NO_START_SERVER", "1"}};
        pid_ = spawn({"jackd", "--no-realtime", "-n", name, "-d", "dummy", "-r", "44100", "-p", "256"},
                     env_);
        probe = {"jack_lsp"};
    } else {
        std::ofstream(dir_ + "/pulse.pa")
            << "load-module module-native-protocol-unix socket=" << dir_ << "/native auth-anonymous=1\n"
            << "load-module module-null-sink sink_name=fmscope_private rate=44100\n"
            << "set-default-sink fmscope_private\n";
        env_ = {{"PULSE_SERVER", "unix:" + dir_ + "/native"},
                {"PULSE_RUNTIME_PATH", dir_},
                {"PULSE_STATE_PATH", dir_}};
        pid_ = spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                      "--disallow-exit", "-F", dir_ + "/pulse.pa"},
                     env_);
        probe = {"pactl", "info"};
    }
    if (pid_ > 0 && !waitUntilSucceeds(probe, env_, 20000)) kill();
}

void PrivateServer::kill()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

PrivateServer::~PrivateServer()
{
    kill();
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
}
