// The console keyboard: keys read one at a time, without echo, from the controlling terminal.
//
// Keys come from /dev/tty, never from standard input, so a redirected standard input is not read.
// Keys without a character of their own (arrows, Home, F1...) arrive as two reads, a prefix (0 or
// 224) and then the PC console's code for the key. A lone ESC is the ESC key once 50 ms have passed
// with nothing after it; unknown escape sequences are swallowed whole.
//
// Main thread only. The terminal's settings are restored from any thread a signal lands on.
#pragma once

// Opens the controlling terminal (/dev/tty, never standard input) for keys: non-canonical mode, no
// echo, signals kept (Ctrl-C still works). Arranges for the terminal's settings, saved once, to be
// restored on every end of the process: exit() (atexit) and SIGINT, SIGTERM, SIGHUP, SIGQUIT (the
// handler restores, then re-raises with the default action; a signal that is ignored or already
// handled when the keyboard opens is left as it is). Idempotent: later calls give the first call's
// result. False when there is no terminal; consoleKeyboardError() then says why. The other
// functions open the keyboard themselves when needed.
bool openConsoleKeyboard();
// Why the keyboard could not be opened or stopped working (strerror text); "" while all is well.
const char* consoleKeyboardError();
// True while a key (including the code following a prefix already read) is unread. Never blocks,
// consumes nothing. A lone ESC counts only once its 50 ms have passed.
bool consoleKeyWaiting();
// Blocks until a character is there and returns it, 0..255, without echo; -1 on failure (terminal
// gone, not opened), at once and on every later call. Keys without a character arrive as two
// reads: prefix 0 or 224, then the code.
int consoleReadKey();
// Blocks in the kernel (poll) until consoleKeyWaiting() would be true. Spends no CPU while waiting.
// When the terminal goes away (hang-up, EOF, EIO) it returns once, so that the following
// consoleReadKey() gives -1; later calls block idle for ever, and the process goes on until it is
// ended from outside. Without a terminal at all it blocks idle for ever at once.
void consoleWaitForKey();
