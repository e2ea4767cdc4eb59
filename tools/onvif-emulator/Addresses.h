#pragma once

#include <netinet/in.h>

#include <string>
#include <vector>

// IPv4 addresses that the emulator puts on the device-side interface for its
// devices and takes off again when it ends, through the kernel's routing
// socket.
class InterfaceAddresses {
public:
    InterfaceAddresses() = default;
    // Removes every address that Add put on.
    ~InterfaceAddresses();
    InterfaceAddresses(const InterfaceAddresses&) = delete;
    InterfaceAddresses& operator=(const InterfaceAddresses&) = delete;

    // Puts address/prefixLength on interface ifindex. An address that is
    // already there counts as success (and is left there at the end). False
    // with error set otherwise.
    bool Add(int ifindex, in_addr address, int prefixLength, std::string& error);

private:
    bool Change(bool add, int ifindex, in_addr address, int prefixLength, int& kernelError);

    int fd = -1;
    struct Added {
        int ifindex;
        in_addr address;
        int prefixLength;
    };
    std::vector<Added> added;
};

// "A.B.C.D" to an address; false when the text is not exactly that.
bool ParseIPv4(const std::string& text, in_addr& address);
std::string IPv4Text(in_addr address);
