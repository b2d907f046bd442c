// fmscope's main function: start-up, then the key loop until the process is
// ended from outside.
#pragma once

[[noreturn]] void programMain(int argc, char** argv);
