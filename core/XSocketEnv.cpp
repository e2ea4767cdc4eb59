#include "XSocketEnv.h"

// Nothing to start: the socket interface is part of the kernel and usable from
// the first call. A write to a connection whose peer has gone would raise
// SIGPIPE, but every send of this layer passes MSG_NOSIGNAL, so the process
// signal disposition is left as the program set it.
XSocketEnv::XSocketEnv() {}

// Nothing to release: sockets still open are closed by their owners.
XSocketEnv::~XSocketEnv() {}
