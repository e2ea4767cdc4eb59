#pragma once

#include "EmuDevice.h"
#include "PeMessage.h"

#include <cstdint>
#include <vector>

// One datagram as sent: its exact bytes.
using Datagram = std::vector<std::uint8_t>;

// The frame of message, as the codec encodes it.
Datagram EncodeFrame(const PeMessage& message);

// Device-info reply (command 1, kind 1, 108 bytes) and serial reply
// (command 1, kind 2, 32 bytes) of device, under its current values.
Datagram DeviceInfoReply(const EmuDevice& device);
Datagram SerialReply(const EmuDevice& device);

// MAC of every made-up device in the bad datagrams (last byte numbers them).
// No generated device uses it, so a client that took one would show a record
// with this MAC prefix.
constexpr std::uint8_t kBadMacPrefix[5] = {0x02, 0xBA, 0xD0, 0x00, 0x00};

// The bad datagrams of evil mode, in this order: bad magic, bad checksum,
// wrong length byte, 15 bytes, empty, another command, another kind, a
// device-info reply with a 107-byte payload, a serial reply from an unknown
// MAC. All but the short and empty ones carry device-info payloads naming a
// made-up device (or, for the wrong-length reply, known's MAC with other
// values), so a client that accepts any of them changes its table visibly.
std::vector<Datagram> BadDatagrams(const EmuDevice& known);
