// The console keyboard on a real pseudo-terminal: each case runs in a child process whose
// controlling terminal is a fresh pty. The parent types on the master side, reads what the child
// reports through a pipe, and checks the terminal's settings through its own copy of the slave.
#include "platform/keyboard/console_keyboard.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

int reportFd = -1;  // in the child: where report() writes

void report(const char* format, ...)
{
    char line[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n > 0 && write(reportFd, line, static_cast<size_t>(n)) < 0)
        _exit(99);
}

termios settingsOf(int fd)
{
    termios t;
    std::memset(&t, 0, sizeof t);  // padding compares equal too
    EXPECT_EQ(tcgetattr(fd, &t), 0);
    return t;
}

bool sameBytes(const termios& a, const termios& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Options {
    int stdinFd = -1;          // the child's standard input; the terminal when -1
    bool controlling = true;   // false: the child has no controlling terminal at all
};

class Child {
public:
    Child(const std::function<void()>& body, Options options = {})
    {
        EXPECT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
        initial_ = settingsOf(slave_);
        int pipeFds[2];
        EXPECT_EQ(pipe(pipeFds), 0);
        reports_ = pipeFds[0];
        pid_ = fork();
        if (pid_ == 0) {
            close(reports_);
            reportFd = pipeFds[1];
            setsid();
            if (options.controlling)
                ioctl(slave_, TIOCSCTTY, 0);
            const int in = options.stdinFd >= 0 ? options.stdinFd : options.controlling ? slave_ : -1;
            if (in >= 0)
                dup2(in, 0);
            dup2(options.controlling ? slave_ : reportFd, 1);
            close(master_);
            close(slave_);
            const rlimit noCore = {0, 0};  // SIGQUIT would dump core
            setrlimit(RLIMIT_CORE, &noCore);
            body();
            std::exit(0);
        }
        close(pipeFds[1]);
    }

    ~Child()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        closeMaster();
        close(slave_);
        close(reports_);
    }

    // Everything reported so far, once it contains `needle` (fails after a few seconds).
    std::string waitFor(const std::string& needle)
    {
        const auto giveUp = std::chrono::steady_clock::now() + 5s;
        while (text_.find(needle) == std::string::npos) {
            if (std::chrono::steady_clock::now() > giveUp || !readReports(100)) {
                ADD_FAILURE() << "no \"" << needle << "\" in \"" << text_ << "\"" << describeEnd();
                break;
            }
        }
        return text_;
    }

    // Whatever is reported within `ms`.
    std::string reportsWithin(int ms)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until && readReports(20)) {
        }
        return text_;
    }

    void type(const std::string& keys)
    {
        ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    // True when the terminal has written something back: an echo, for instance.
    bool terminalWrote(int ms)
    {
        pollfd p = {master_, POLLIN, 0};
        return poll(&p, 1, ms) > 0 && (p.revents & POLLIN) != 0;
    }

    termios settings() const { return settingsOf(slave_); }
    // The terminal's settings before the child started.
    const termios& initialSettings() const { return initial_; }
    int slave() const { return slave_; }
    pid_t pid() const { return pid_; }
    bool running() const { return waitpid(pid_, nullptr, WNOHANG) == 0; }

    void closeMaster()
    {
        if (master_ >= 0)
            close(master_);
        master_ = -1;
    }

    // Waits for the end of the child; its status, and the CPU time it used over its whole life.
    int finish(double* cpuSeconds = nullptr)
    {
        int status = -1;
        rusage usage;
        std::memset(&usage, 0, sizeof usage);
        for (int i = 0; i < 500; ++i) {
            if (wait4(pid_, &status, WNOHANG, &usage) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_EQ(pid_, -1) << "the child did not end";
        if (cpuSeconds != nullptr) {
            *cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                          static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        }
        return status;
    }

private:
    // False once the child can report nothing more.
    bool readReports(int ms)
    {
        pollfd p = {reports_, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0)
            return true;
        char buffer[256];
        const ssize_t n = read(reports_, buffer, sizeof buffer);
        if (n > 0)
            text_.append(buffer, static_cast<size_t>(n));
        return n > 0;
    }

    // How the child ended, when it has.
    std::string describeEnd()
    {
        int status = 0;
        if (pid_ <= 0 || waitpid(pid_, &status, WNOHANG | WUNTRACED) != pid_)
            return "";
        if (WIFSTOPPED(status))
            return "; the child was stopped by signal " + std::to_string(WSTOPSIG(status));
        pid_ = -1;
        if (WIFSIGNALED(status))
            return "; the child was ended by signal " + std::to_string(WTERMSIG(status));
        return "; the child exited with status " + std::to_string(WEXITSTATUS(status));
    }

    int master_ = -1;
    int slave_ = -1;
    int reports_ = -1;
    pid_t pid_ = -1;
    std::string text_;
    termios initial_;
};

// Reads keys until 'q', reporting each with a "!" if the key-waiting test had not announced it
// twice before the read (announcing must not consume).
void readKeysUntilQ()
{
    report("open %d\n", openConsoleKeyboard());
    for (;;) {
        consoleWaitForKey();
        const bool announced = consoleKeyWaiting() && consoleKeyWaiting();
        const int key = consoleReadKey();
        report("%d%s ", key, announced ? "" : "!");
        if (key == 'q')
            std::exit(0);
    }
}

TEST(ConsoleKeyboard, ReadsKeysUnechoedAndRestoresTheTerminalOnExit)
{
    Child child(readKeysUntilQ);
    const termios before = child.initialSettings();
    child.waitFor("open 1\n");

    const termios during = child.settings();
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_NE(during.c_lflag & ISIG, 0u) << "Ctrl-C must still work";
    EXPECT_EQ(during.c_iflag, before.c_iflag);
    EXPECT_EQ(during.c_oflag, before.c_oflag);

    child.type("ab");
    EXPECT_EQ(child.waitFor("98 "), "open 1\n97 98 ");
    child.type("\033[A");
    child.waitFor("72 ");
    child.type("\033");  // a lone ESC: decided once its timeout has passed
    child.waitFor("27 ");
    child.type("\033[Z\033[1;5D");  // Shift+Tab is swallowed, Ctrl+Left is Left
    child.waitFor("75 ");
    EXPECT_FALSE(child.terminalWrote(100)) << "keys were echoed";

    child.type("q");
    EXPECT_EQ(child.waitFor("113 "), "open 1\n97 98 224 72 27 224 75 113 ");
    const int status = child.finish();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(sameBytes(child.settings(), before));
}

struct SignalCase {
    const char* name;
    int signal;
    bool typed;  // sent by typing the interrupt key instead of kill()
};

void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.name; }

class ConsoleKeyboardSignal : public testing::TestWithParam<SignalCase> {};

TEST_P(ConsoleKeyboardSignal, RestoresTheTerminalAndEndsWithTheSameSignal)
{
    Child child([] {
        report("open %d\n", openConsoleKeyboard());
        for (;;)
            consoleWaitForKey();
    });
    const termios before = child.initialSettings();
    child.waitFor("open 1\n");
    ASSERT_FALSE(sameBytes(child.settings(), before));

    std::this_thread::sleep_for(300ms);  // waiting idle
    if (GetParam().typed)
        child.type("\003");
    else
        kill(child.pid(), GetParam().signal);

    double cpu = 0;
    const int status = child.finish(&cpu);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), GetParam().signal);
    EXPECT_TRUE(sameBytes(child.settings(), before));
    EXPECT_LT(cpu, 0.15) << "the wait for a key used the processor";
}

INSTANTIATE_TEST_SUITE_P(Signals, ConsoleKeyboardSignal,
                         testing::Values(SignalCase{"SIGINT", SIGINT, false},
                                         SignalCase{"CtrlC", SIGINT, true},
                                         SignalCase{"SIGTERM", SIGTERM, false},
                                         SignalCase{"SIGHUP", SIGHUP, false},
                                         SignalCase{"SIGQUIT", SIGQUIT, false}),
                         [](const testing::TestParamInfo<SignalCase>& p) { return p.param.name; });

TEST(ConsoleKeyboard, LeavesAnIgnoredSignalIgnored)
{
    Child child([] {
        signal(SIGTERM, SIG_IGN);  // as nohup leaves SIGHUP
        report("open %d\n", openConsoleKeyboard());
        report("key %d\n", consoleReadKey());
    });
    child.waitFor("open 1\n");
    kill(child.pid(), SIGTERM);
    child.type("k");
    child.waitFor("key 107\n");
    EXPECT_EQ(child.finish(), 0);
}

TEST(ConsoleKeyboard, NeverReadsARedirectedStandardInput)
{
    int input[2];
    ASSERT_EQ(pipe(input), 0);
    ASSERT_EQ(write(input[1], "4\n", 2), 2);
    Options options;
    options.stdinFd = input[0];
    Child child(
        [] {
            report("open %d waiting %d\n", openConsoleKeyboard(), consoleKeyWaiting());
            // The key-waiting test alone, asked over and over, settles a lone ESC.
            while (!consoleKeyWaiting())
                usleep(1000);
            const int key = consoleReadKey();
            char left[8] = {};
            fcntl(0, F_SETFL, O_NONBLOCK);
            const ssize_t n = read(0, left, sizeof left - 1);
            report("key %d stdin %zd \"%s\"\n", key, n, left);
        },
        options);
    close(input[0]);
    EXPECT_EQ(child.waitFor("\n"), "open 1 waiting 0\n");
    child.type("\033");
    EXPECT_EQ(child.waitFor("\"\n"), "open 1 waiting 0\nkey 27 stdin 2 \"4\n\"\n");
    close(input[1]);
}

TEST(ConsoleKeyboard, WithoutATerminalReportsFailureAndWaitsIdle)
{
    Options options;
    options.controlling = false;
    Child child(
        [] {
            const bool opened = openConsoleKeyboard();
            report("open %d again %d error \"%s\" waiting %d read %d %d\n", opened,
                   openConsoleKeyboard(), consoleKeyboardError(), consoleKeyWaiting(),
                   consoleReadKey(), consoleReadKey());
            consoleWaitForKey();
            report("the wait returned\n");
        },
        options);
    const std::string text = child.waitFor("\n");
    EXPECT_EQ(text, std::string("open 0 again 0 error \"") + std::strerror(ENXIO) +
                        "\" waiting 0 read -1 -1\n");
    EXPECT_EQ(child.reportsWithin(500), text);
    EXPECT_TRUE(child.running());
    kill(child.pid(), SIGKILL);
    double cpu = 0;
    child.finish(&cpu);
    EXPECT_LT(cpu, 0.15);
}

class ConsoleKeyboardHangUp : public testing::TestWithParam<bool> {};

// The terminal goes away under a blocked wait (or a blocked read): the read gives -1, and from
// then on nothing spins.
TEST_P(ConsoleKeyboardHangUp, ReadFailsOnceThenWaitsIdle)
{
    static bool waitFirst;
    waitFirst = GetParam();
    Child child([] {
        signal(SIGHUP, SIG_IGN);  // survive the hang-up to see what follows it
        report("open %d\n", openConsoleKeyboard());
        if (waitFirst)
            consoleWaitForKey();
        const int first = consoleReadKey();
        const int second = consoleReadKey();
        report("read %d %d waiting %d error \"%s\"\n", first, second, consoleKeyWaiting(),
               consoleKeyboardError());
        consoleWaitForKey();
        report("the wait returned\n");
    });
    child.waitFor("open 1\n");
    std::this_thread::sleep_for(100ms);
    child.closeMaster();

    const std::string text = child.waitFor("\"\n");
    EXPECT_EQ(text, std::string("open 1\nread -1 -1 waiting 0 error \"") + std::strerror(EIO) +
                        "\"\n");
    EXPECT_EQ(child.reportsWithin(1000), text);
    EXPECT_TRUE(child.running());
    kill(child.pid(), SIGKILL);
    double cpu = 0;
    child.finish(&cpu);
    EXPECT_LT(cpu, 0.2) << "spun after the hang-up";
}

INSTANTIATE_TEST_SUITE_P(Blocked, ConsoleKeyboardHangUp, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& p) {
                             return p.param ? "InWait" : "InRead";
                         });

}  // namespace
