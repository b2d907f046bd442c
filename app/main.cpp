// Process entry. Does what SDL's start-up layer does on platforms that have
// one: initialise SDL without its signal parachute, register the exit
// functions (SDL_Quit last, so it runs first), then hand over to the program.
#include "app/program.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>

namespace {

void flushConsole()
{
    std::fflush(stdout);
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv)
{
    // Console text must show as it is printed, also through a pipe.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    SDL_Init(SDL_INIT_NOPARACHUTE);
    std::atexit(flushConsole);
    std::atexit(SDL_Quit);
    programMain(argc, argv);
}
