#include "PeCommands.h"

#include "PeClient.h"
#include "PeMessage.h"

#include <cstring>

namespace {
// Sends the command with its payload, then the search for the device's MAC.
void SendCommand(const tagDevice* device, std::uint8_t command, const std::uint8_t* payload,
                 std::uint8_t length)
{
    PeMessage message{};
    message.command = command;
    message.kind = kPeKindRequest;
    std::memcpy(message.mac, device->mac, sizeof message.mac);
    message.payloadLength = length;
    if (length > 0)
        std::memcpy(message.payload, payload, length);
    SendPeMessage(message);
    SendPeSearch(device->mac);
}
} // namespace

void SendPeSetIp(const tagDevice* device, const std::uint8_t* ip, const std::uint8_t* mask,
                 const std::uint8_t* gateway)
{
    std::uint8_t payload[kPeSetIpLength];
    std::memcpy(payload + kPeIpOffset, ip, 4);
    std::memcpy(payload + kPeMaskOffset, mask, 4);
    std::memcpy(payload + kPeGatewayOffset, gateway, 4);
    SendCommand(device, kPeCommandSetIp, payload, sizeof payload);
}

void SendPeRestart(const tagDevice* device)
{
    SendCommand(device, kPeCommandRestart, nullptr, 0);
}

void SendPeShutdown(const tagDevice* device)
{
    SendCommand(device, kPeCommandShutdown, nullptr, 0);
}

void SendPeSetMac(const tagDevice* device, const std::uint8_t* newMac)
{
    SendCommand(device, kPeCommandSetMac, newMac, kPeSetMacLength);
}
