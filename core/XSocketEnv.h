#pragma once

// Brackets the life of the socket layer for the whole run: one instance is
// built before the first socket and destroyed after the last one is closed.
// POSIX sockets need no library start-up or clean-up, so both are empty; the
// class stays so that start-up and shut-down keep one place and one order.
class XSocketEnv {
public:
    XSocketEnv();
    ~XSocketEnv();

    XSocketEnv(const XSocketEnv&) = delete;
    XSocketEnv& operator=(const XSocketEnv&) = delete;
};
