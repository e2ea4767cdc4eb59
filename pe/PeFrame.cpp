#include "PeFrame.h"

#include <cstring>

int PeChecksum(const uint8_t* bytes, int count)
{
    unsigned sum = 0;
    for (int i = 0; i < count; ++i)
        sum += bytes[i];
    return static_cast<int>(sum & 0xFF);
}

int EncodePeFrame(XBuffer& buffer, const PeMessage& message)
{
    const int n = message.payloadLength;
    const int frameSize = n + kPeFrameOverhead;
    if (buffer.SetSize(frameSize) != frameSize)
        return -1;

    uint8_t* frame = buffer.GetData();
    std::memcpy(frame, kPeMagic, kPeMagicSize);
    frame[kPeCommandOffset] = message.command;
    frame[kPeKindOffset] = message.kind;
    std::memcpy(frame + kPeMacOffset, message.mac, kPeMacSize);
    frame[kPeLengthOffset] = message.payloadLength;
    if (n > 0)
        std::memcpy(frame + kPePayloadOffset, message.payload, n);
    frame[frameSize - 1] =
        static_cast<uint8_t>(PeChecksum(frame + kPeChecksumOffset, n + kPeChecksumHeaderBytes));
    return 0;
}

int DecodePeFrame(const uint8_t* data, int size, PeMessage& message)
{
    // The checks run in a fixed order, each needing only what the earlier
    // ones proved: 16 bytes are there, then the magic, then that the length
    // byte accounts for every byte, so the payload copy and the checksum stay
    // inside the datagram.
    if (size < kPeFrameOverhead)
        return -1;
    if (std::memcmp(data, kPeMagic, kPeMagicSize) != 0)
        return -1;

    message.command = data[kPeCommandOffset];
    message.kind = data[kPeKindOffset];
    std::memcpy(message.mac, data + kPeMacOffset, kPeMacSize);
    message.payloadLength = data[kPeLengthOffset];

    const int n = message.payloadLength;
    if (n != size - kPeFrameOverhead)
        return -1;
    if (n > 0)
        std::memcpy(message.payload, data + kPePayloadOffset, n);

    // Command through payload: everything but the magic and the last byte.
    const int checksum = PeChecksum(data + kPeChecksumOffset, size - kPeChecksumOffset - 1);
    if (checksum != data[size - 1])
        return -1;
    return 0;
}

int DecodePeFrame(const XBuffer& buffer, PeMessage& message)
{
    return DecodePeFrame(buffer.GetData(), buffer.GetSize(), message);
}
