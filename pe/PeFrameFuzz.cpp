// Fuzz target for the PE frame codec. Any input is a candidate datagram: an
// accepted one must re-encode to exactly the same bytes. The same input also
// builds an arbitrary message, whose frame must decode back to it and must
// stop decoding when cut or extended by one byte.

#include "PeFrame.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void Fail(const char* what)
{
    std::fprintf(stderr, "pe_frame_fuzz: %s\n", what);
    std::abort();
}

// Payload bytes past payloadLength must survive a decode untouched.
constexpr uint8_t kFill = 0xA5;

void CheckDecodeReencodes(const uint8_t* data, int size)
{
    PeMessage message;
    std::memset(&message, kFill, sizeof message);
    if (DecodePeFrame(data, size, message) != 0)
        return;

    if (size != message.payloadLength + kPeFrameOverhead)
        Fail("accepted a datagram whose size disagrees with its length byte");
    for (int i = message.payloadLength; i < kPeMaxPayloadLength; ++i)
        if (message.payload[i] != kFill)
            Fail("decode wrote past the payload length");

    XBuffer frame;
    if (EncodePeFrame(frame, message) != 0)
        Fail("encode failed");
    if (frame.GetSize() != size || std::memcmp(frame.GetData(), data, size) != 0)
        Fail("accepted frame does not re-encode to the same bytes");
}

// Builds a message from the input (command, kind, mac, length, then payload
// bytes, zero when the input runs out) and checks its frame both ways.
void CheckEncodeDecodes(const uint8_t* data, int size)
{
    PeMessage message{};
    constexpr int header = kPeFrameOverhead - kPeMagicSize - 1; // command..length: 9
    uint8_t fields[header] = {};
    if (size > 0)
        std::memcpy(fields, data, size < header ? size : header);
    message.command = fields[0];
    message.kind = fields[1];
    std::memcpy(message.mac, fields + 2, kPeMacSize);
    message.payloadLength = fields[8];
    if (size > header) {
        int rest = size - header;
        std::memcpy(message.payload, data + header,
                    rest < kPeMaxPayloadLength ? rest : kPeMaxPayloadLength);
    }

    XBuffer frame;
    if (EncodePeFrame(frame, message) != 0)
        Fail("encode failed");
    const int n = message.payloadLength;
    if (frame.GetSize() != n + kPeFrameOverhead)
        Fail("frame size is not payload length + 16");
    const uint8_t* bytes = frame.GetData();
    if (std::memcmp(bytes, kPeMagic, kPeMagicSize) != 0)
        Fail("frame does not start with the magic");

    PeMessage decoded;
    std::memset(&decoded, kFill, sizeof decoded);
    if (DecodePeFrame(frame, decoded) != 0)
        Fail("encoded frame does not decode");
    if (decoded.command != message.command || decoded.kind != message.kind ||
        std::memcmp(decoded.mac, message.mac, kPeMacSize) != 0 ||
        decoded.payloadLength != message.payloadLength ||
        std::memcmp(decoded.payload, message.payload, n) != 0)
        Fail("decoded message differs from the encoded one");

    // One byte short and one byte too many must both be refused.
    if (DecodePeFrame(bytes, frame.GetSize() - 1, decoded) == 0)
        Fail("accepted a frame cut by one byte");
    uint8_t longer[kPeMaxFrameSize + 1];
    std::memcpy(longer, bytes, frame.GetSize());
    longer[frame.GetSize()] = size > 0 ? data[size - 1] : 0;
    if (DecodePeFrame(longer, frame.GetSize() + 1, decoded) == 0)
        Fail("accepted a frame with a byte appended");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    // Datagrams of the PE protocol are far below this; larger inputs add
    // nothing but would not fit the int size of the codec.
    if (size > 65536)
        return 0;
    const int length = static_cast<int>(size);
    CheckDecodeReencodes(data, length);
    CheckEncodeDecodes(data, length);
    return 0;
}
