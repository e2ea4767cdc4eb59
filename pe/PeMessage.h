#pragma once

#include <stdint.h>

// One PE message without its framing. A plain value record: senders start
// from `PeMessage m{}` and set only what they need, so every field they leave
// alone (payloadLength of a message without payload, in particular) is zero.
struct PeMessage {
    uint8_t command;       // command code, kPeCommand*
    uint8_t kind;          // 0 in requests; in a reply, which reply it is (kPeKind*)
    uint8_t mac[6];        // device addressed or answering, first octet first; all FF = every device
    uint8_t payloadLength; // meaningful bytes in payload, 0 to 255
    uint8_t payload[255];  // only the first payloadLength bytes carry meaning
};

// Frame on the wire, N = payloadLength; a frame is exactly N + 16 bytes and
// holds no multi-byte integer (addresses travel first octet first):
//   offset 0       6 bytes  magic 50 45 00 00 00 01 ("PE", then 0, 0, 0, 1)
//   offset 6       1 byte   command
//   offset 7       1 byte   kind
//   offset 8       6 bytes  mac
//   offset 14      1 byte   N
//   offset 15      N bytes  payload
//   offset 15 + N  1 byte   checksum: sum modulo 256 of the N + 9 bytes at
//                           offsets 6 to 14 + N (magic and checksum excluded)
constexpr uint8_t kPeMagic[6] = {0x50, 0x45, 0x00, 0x00, 0x00, 0x01};
constexpr int kPeMagicSize = 6;
constexpr int kPeCommandOffset = 6;
constexpr int kPeKindOffset = 7;
constexpr int kPeMacOffset = 8;
constexpr int kPeMacSize = 6;
constexpr int kPeLengthOffset = 14;
constexpr int kPePayloadOffset = 15;
// Bytes around the payload: magic, command, kind, mac, length and checksum.
constexpr int kPeFrameOverhead = 16;
constexpr int kPeMaxPayloadLength = 255;
constexpr int kPeMaxFrameSize = kPeMaxPayloadLength + kPeFrameOverhead; // 271
// The checksum covers command through payload: N + 9 bytes from offset 6.
constexpr int kPeChecksumOffset = kPeCommandOffset;
constexpr int kPeChecksumHeaderBytes = kPePayloadOffset - kPeChecksumOffset; // 9

// Commands. Every request carries kind kPeKindRequest.
constexpr uint8_t kPeCommandSearch = 1;   // request: no payload; replies: kinds 1 and 2
constexpr uint8_t kPeCommandSetIp = 2;    // request: kPeSetIpLength bytes
constexpr uint8_t kPeCommandRestart = 3;  // request: no payload
constexpr uint8_t kPeCommandSetMac = 4;   // request: kPeSetMacLength bytes
constexpr uint8_t kPeCommandShutdown = 5; // request: no payload

// Kinds.
constexpr uint8_t kPeKindRequest = 0;
constexpr uint8_t kPeKindDeviceInfo = 1; // reply to a search: kPeDeviceInfoLength bytes
constexpr uint8_t kPeKindSerial = 2;     // reply to a search: kPeSerialLength bytes

// Payload lengths.
constexpr uint8_t kPeDeviceInfoLength = 108;
constexpr uint8_t kPeSerialLength = 32;
constexpr uint8_t kPeSetIpLength = 12;
constexpr uint8_t kPeSetMacLength = 6;

// Payload offsets. Addresses are 4 bytes, first octet first.
// Device-info reply (108 bytes) and, for its first 12 bytes, set IP:
//   0 ip, 4 mask, 8 gateway, 12 name, 44 model, 76 version (texts 32 bytes)
// Serial reply (32 bytes): 0 serial text. Set MAC (6 bytes): 0 new MAC.
// A 32-byte text ends at its first zero byte, or fills all 32 bytes with no
// terminator.
constexpr int kPeIpOffset = 0;
constexpr int kPeMaskOffset = 4;
constexpr int kPeGatewayOffset = 8;
constexpr int kPeNameOffset = 12;
constexpr int kPeModelOffset = 44;
constexpr int kPeVersionOffset = 76;
constexpr int kPeSerialOffset = 0;
constexpr int kPeNewMacOffset = 0;
constexpr int kPeAddressSize = 4;
constexpr int kPeTextFieldSize = 32;
