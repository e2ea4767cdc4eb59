#pragma once

#include <string>

// Empty when this process may send: it runs in a network namespace other than
// the initial one, and that namespace holds only lo and the harness's nv*
// links. Otherwise the reason to refuse; not being able to tell is a reason
// too.
std::string NetnsRefusal();
