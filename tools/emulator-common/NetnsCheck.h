#pragma once

#include <string>

// Empty when this process may send: it runs in a network namespace other than
// the initial one, and that namespace holds only lo and the harness's nv*
// links. Otherwise the reason to refuse; not being able to tell is a reason
// too.
std::string NetnsRefusal();

// True when the emulator may run here: inNetns (its --i-am-in-a-netns) was
// given and NetnsRefusal() has nothing against it. Otherwise prints why to
// standard error, prefixed with "<program>: ", and returns false; the caller
// then exits with 3.
bool MayRunHere(const char* program, bool inNetns);
