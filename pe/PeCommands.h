#pragma once

#include "PeDevices.h"

#include <cstdint>

// Each command is broadcast to the device named by the record's MAC and is
// followed at once by a search for that MAC, so the device's fresh state comes
// back through the normal reply handling. The record itself is not changed.
// Addresses are 4 bytes and MACs 6 bytes, first octet first.
void SendPeSetIp(const tagDevice* device, const std::uint8_t* ip, const std::uint8_t* mask,
                 const std::uint8_t* gateway);
void SendPeRestart(const tagDevice* device);
void SendPeShutdown(const tagDevice* device);
void SendPeSetMac(const tagDevice* device, const std::uint8_t* newMac);
