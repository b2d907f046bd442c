// Test doubles for the dialog: a scripted sound library and keyboard, for the
// cases no real server can show (an old library, eleven drivers, a failed
// initialisation, a keyboard that cannot be read).
#pragma once

#include <deque>
#include <string>
#include <vector>

struct FakeSoundLib {
    float version = 3.74f;
    bool reportChosenOutput = true;  // GetOutput reports what SetOutput took...
    int reportedOutput = 0;          // ...or this value
    std::vector<std::string> drivers{"only driver"};
    bool initSucceeds = true;
    int errorCode = 0;
    std::vector<std::string> calls;  // "SetOutput(7)", "Init(44100,32,0)", ...
};

extern FakeSoundLib fakeSound;

// Keys the fake console hands out in order; -1 once they run out.
extern std::deque<int> fakeKeys;
