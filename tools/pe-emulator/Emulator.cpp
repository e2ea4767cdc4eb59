#include "Emulator.h"

#include "PeFrame.h"

#include <cstring>

namespace {
const std::uint8_t kEveryDevice[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const char* const kCommandNames[] = {"", "search", "set-ip", "restart", "set-mac", "shutdown"};
} // namespace

Emulator::Emulator(std::vector<EmuDevice> devices_, bool evil_) : devices(std::move(devices_)), evil(evil_) {}

bool Emulator::Addressed(const EmuDevice& device, const std::uint8_t mac[6]) const
{
    if (device.shutDown)
        return false;
    return std::memcmp(mac, kEveryDevice, 6) == 0 || std::memcmp(mac, device.mac, 6) == 0;
}

std::string Emulator::Search(const std::uint8_t mac[6], const std::string& from, std::vector<Datagram>& replies)
{
    std::vector<const EmuDevice*> answering;
    for (const EmuDevice& d : devices)
        if (Addressed(d, mac))
            answering.push_back(&d);

    std::vector<Datagram> bad;
    if (evil)
        bad = BadDatagrams(answering.empty() ? devices.front() : *answering.front());
    size_t badSent = 0;
    auto sendAllBad = [&] {
        replies.insert(replies.end(), bad.begin(), bad.end());
        badSent += bad.size();
    };

    sendAllBad();
    for (size_t i = 0; i < answering.size(); ++i) {
        replies.push_back(DeviceInfoReply(*answering[i]));
        if (!bad.empty()) {
            replies.push_back(bad[i % bad.size()]);
            ++badSent;
        }
        replies.push_back(SerialReply(*answering[i]));
    }
    sendAllBad();

    std::string line = "search " + MacText(mac) + " from " + from + ": " + std::to_string(answering.size()) + " answered";
    if (evil)
        line += ", " + std::to_string(badSent) + " bad sent";
    return line;
}

std::string Emulator::Handle(const std::uint8_t* data, int size, const std::string& from, std::vector<Datagram>& replies)
{
    PeMessage m{};
    if (DecodePeFrame(data, size, m) != 0)
        return "ignored: not a frame";
    if (m.kind != kPeKindRequest)
        return "ignored: kind " + std::to_string(m.kind) + " is not a request";

    static const int expectedLength[] = {-1, 0, kPeSetIpLength, 0, kPeSetMacLength, 0};
    if (m.command < kPeCommandSearch || m.command > kPeCommandShutdown)
        return "ignored: unknown command " + std::to_string(m.command);
    const std::string name = kCommandNames[m.command];
    if (m.payloadLength != expectedLength[m.command])
        return "ignored: " + name + " with a " + std::to_string(m.payloadLength) + "-byte payload";

    if (m.command == kPeCommandSearch)
        return Search(m.mac, from, replies);

    int count = 0;
    for (EmuDevice& d : devices) {
        if (!Addressed(d, m.mac))
            continue;
        ++count;
        switch (m.command) {
        case kPeCommandSetIp:
            std::memcpy(d.ip, m.payload + kPeIpOffset, 4);
            std::memcpy(d.mask, m.payload + kPeMaskOffset, 4);
            std::memcpy(d.gateway, m.payload + kPeGatewayOffset, 4);
            break;
        case kPeCommandRestart:
            ++d.restarts;
            break;
        case kPeCommandSetMac:
            std::memcpy(d.mac, m.payload + kPeNewMacOffset, 6);
            break;
        case kPeCommandShutdown:
            d.shutDown = true;
            break;
        }
    }

    std::string line = name + " " + MacText(m.mac) + ": " + std::to_string(count);
    switch (m.command) {
    case kPeCommandSetIp:
        return line + " changed to ip " + IpText(m.payload + kPeIpOffset) + " mask " +
               IpText(m.payload + kPeMaskOffset) + " gateway " + IpText(m.payload + kPeGatewayOffset);
    case kPeCommandRestart:
        return line + " restarted";
    case kPeCommandSetMac:
        return line + " changed to " + MacText(m.payload + kPeNewMacOffset);
    default:
        return line + " shut down";
    }
}
