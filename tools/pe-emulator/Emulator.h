#pragma once

#include "EmuDevice.h"
#include "Replies.h"

#include <string>
#include <vector>

// The devices' side of the PE protocol, without sockets: takes one received
// datagram, changes the addressed devices and says what to send back.
// A request addresses every live device whose MAC it names, or every live
// device when its MAC is FF FF FF FF FF FF; a shut-down device is never
// addressed again.
class Emulator {
public:
    // evil: every search also gets the bad datagrams of BadDatagrams(), all of
    // them before the first reply and after the last, and one of them between
    // each device's device-info and serial reply.
    Emulator(std::vector<EmuDevice> devices, bool evil);

    // Handles the size bytes at data that came from `from` (text for the log).
    // Appends the datagrams to send back to that source, in order, to replies
    // and returns one line (no newline) saying what was done, e.g.
    //   "search FFFFFFFFFFFF from 10.77.0.1:40000: 20 answered"
    //   "set-ip 024E56000001: 1 changed to ip 10.77.9.9 mask 255.255.0.0 gateway 10.77.0.1"
    //   "set-mac 024E56000001: 1 changed to 024E560000FF"
    //   "restart 024E56000001: 1 restarted"
    //   "shutdown 024E56000001: 1 shut down"
    //   "ignored: <why>"  (not a frame, not a request, wrong payload, unknown command)
    std::string Handle(const std::uint8_t* data, int size, const std::string& from, std::vector<Datagram>& replies);

    const std::vector<EmuDevice>& Devices() const { return devices; }

private:
    bool Addressed(const EmuDevice& device, const std::uint8_t mac[6]) const;
    std::string Search(const std::uint8_t mac[6], const std::string& from, std::vector<Datagram>& replies);

    std::vector<EmuDevice> devices;
    bool evil;
};
