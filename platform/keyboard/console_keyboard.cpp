#include "platform/keyboard/console_keyboard.h"

#include "platform/keyboard/key_decoder.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

const int kRestoringSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// What the signal handler may touch: written once, before any handler is installed.
termios savedSettings;
volatile sig_atomic_t restoreFd = -1;

int ttyFd = -1;
bool openFailed = false;
bool terminalGone = false;
bool goneReported = false;  // a read has given -1 for it, or a wait has returned for it
int lastError = 0;
KeyDecoder decoder;

void restoreTerminal()
{
    const int fd = restoreFd;
    if (fd >= 0)
        tcsetattr(fd, TCSANOW, &savedSettings);
}

extern "C" void restoreAndReraise(int sig)
{
    // Only async-signal-safe calls. The signal is blocked while this runs, so the raised one is
    // delivered with the default action as soon as the handler returns. errno is put back for
    // the interrupted code in case the default action does not end the process after all.
    const int interruptedErrno = errno;
    restoreTerminal();
    signal(sig, SIG_DFL);
    raise(sig);
    errno = interruptedErrno;
}

void installRestoringHandlers()
{
    for (int sig : kRestoringSignals) {
        struct sigaction current;
        if (sigaction(sig, nullptr, &current) != 0)
            continue;
        // An ignored signal (nohup, a background job) must stay harmless, and a handler someone
        // else installed stays theirs.
        if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL)
            continue;
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = restoreAndReraise;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(sig, &action, nullptr);
    }
}

KeyDecoder::Millis nowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<KeyDecoder::Millis>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void markGone(int error)
{
    terminalGone = true;
    lastError = error;
    // Keys already decided stay readable; a lone ESC typed just before counts as pressed.
    decoder.expire(LLONG_MAX);
}

// Feeds the decoder the bytes the terminal holds, one at a time, until a key is decided or none
// is left; then settles a pending ESC whose time has run out. Reading no further than the first
// key leaves the rest in the kernel, so the decoder never holds more than one key.
void readAvailable()
{
    while (!terminalGone && !decoder.ready()) {
        unsigned char byte;
        const ssize_t n = read(ttyFd, &byte, 1);
        if (n == 1) {
            decoder.push(byte, nowMs());
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            decoder.expire(nowMs());
            return;
        } else {
            // 0 is end of file: a terminal that was hung up reads as empty for ever.
            markGone(n == 0 ? EIO : errno);
        }
    }
}

// Blocks until a key is decided (true) or the terminal is gone (false).
bool waitForKeyOrGone()
{
    bool hungUp = false;
    for (;;) {
        readAvailable();
        if (decoder.ready())
            return true;
        if (!terminalGone && hungUp)
            markGone(EIO);  // poll says hang-up yet read says "try again": never poll that again
        if (terminalGone)
            return false;

        int timeout = -1;
        if (decoder.pending()) {
            const KeyDecoder::Millis left = decoder.deadline() - nowMs();
            timeout = left <= 0 ? 0 : left >= INT_MAX ? INT_MAX : static_cast<int>(left);
        }
        pollfd watch = {ttyFd, POLLIN, 0};
        const int n = poll(&watch, 1, timeout);
        if (n < 0 && errno != EINTR)
            markGone(errno);
        else if (n > 0 && (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            hungUp = true;
    }
}

[[noreturn]] void idleForEver()
{
    for (;;)
        pause();
}

}  // namespace

bool openConsoleKeyboard()
{
    if (ttyFd >= 0)
        return true;
    if (openFailed)
        return false;

    const int fd = open("/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings;
    if (fd < 0 || tcgetattr(fd, &settings) != 0) {
        lastError = errno;
        openFailed = true;
        if (fd >= 0)
            close(fd);
        return false;
    }

    // Saved once, published to the handlers before they exist, and only then changed.
    savedSettings = settings;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    restoreFd = fd;
    std::atexit(restoreTerminal);
    installRestoringHandlers();

    termios keys = settings;
    keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);  // byte by byte, unechoed; ISIG stays
    keys.c_cc[VMIN] = 1;
    keys.c_cc[VTIME] = 0;
    // TCSANOW, not TCSAFLUSH: keys typed ahead during start-up are kept.
    if (tcsetattr(fd, TCSANOW, &keys) != 0) {
        lastError = errno;
        openFailed = true;
        restoreFd = -1;
        close(fd);
        return false;
    }
    ttyFd = fd;
    return true;
}

const char* consoleKeyboardError()
{
    return lastError == 0 ? "" : std::strerror(lastError);
}

bool consoleKeyWaiting()
{
    if (!openConsoleKeyboard())
        return false;
    readAvailable();
    return decoder.ready();
}

int consoleReadKey()
{
    if (!openConsoleKeyboard())
        return -1;
    if (waitForKeyOrGone())
        return decoder.pop();
    goneReported = true;
    return -1;
}

void consoleWaitForKey()
{
    if (!openConsoleKeyboard())
        idleForEver();
    if (waitForKeyOrGone())
        return;
    if (goneReported)
        idleForEver();
    goneReported = true;
}
