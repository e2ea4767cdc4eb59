#include "Replies.h"

#include "PeFrame.h"
#include "XBuffer.h"

#include <cstdio>
#include <cstring>

namespace {

void PutDeviceInfo(PeMessage& m, const EmuDevice& d)
{
    m.command = kPeCommandSearch;
    m.kind = kPeKindDeviceInfo;
    std::memcpy(m.mac, d.mac, 6);
    m.payloadLength = kPeDeviceInfoLength;
    std::memcpy(m.payload + kPeIpOffset, d.ip, 4);
    std::memcpy(m.payload + kPeMaskOffset, d.mask, 4);
    std::memcpy(m.payload + kPeGatewayOffset, d.gateway, 4);
    std::memcpy(m.payload + kPeNameOffset, d.name, 32);
    std::memcpy(m.payload + kPeModelOffset, d.model, 32);
    std::memcpy(m.payload + kPeVersionOffset, d.version, 32);
}

// A device that does not exist, numbered so each bad datagram is told apart.
EmuDevice MadeUp(int number)
{
    EmuDevice d;
    std::memcpy(d.mac, kBadMacPrefix, 5);
    d.mac[5] = static_cast<std::uint8_t>(number);
    const std::uint8_t ip[4] = {10, 77, 255, static_cast<std::uint8_t>(number)};
    std::memcpy(d.ip, ip, 4);
    std::memset(d.mask, 0xFF, 4);
    std::memcpy(d.gateway, ip, 4);
    std::snprintf(d.name, sizeof d.name, "BAD-%d", number);
    std::snprintf(d.model, sizeof d.model, "BAD");
    std::snprintf(d.version, sizeof d.version, "BAD");
    std::snprintf(d.serial, sizeof d.serial, "BAD-SERIAL-%d", number);
    return d;
}

void Recheck(Datagram& frame)
{
    frame.back() = static_cast<std::uint8_t>(
        PeChecksum(frame.data() + kPeChecksumOffset, static_cast<int>(frame.size()) - kPeChecksumOffset - 1));
}

} // namespace

Datagram EncodeFrame(const PeMessage& message)
{
    XBuffer buffer;
    if (EncodePeFrame(buffer, message) != 0)
        return Datagram();
    return Datagram(buffer.GetData(), buffer.GetData() + buffer.GetSize());
}

Datagram DeviceInfoReply(const EmuDevice& device)
{
    PeMessage m{};
    PutDeviceInfo(m, device);
    return EncodeFrame(m);
}

Datagram SerialReply(const EmuDevice& device)
{
    PeMessage m{};
    m.command = kPeCommandSearch;
    m.kind = kPeKindSerial;
    std::memcpy(m.mac, device.mac, 6);
    m.payloadLength = kPeSerialLength;
    std::memcpy(m.payload + kPeSerialOffset, device.serial, 32);
    return EncodeFrame(m);
}

std::vector<Datagram> BadDatagrams(const EmuDevice& known)
{
    std::vector<Datagram> bad;

    Datagram magic = DeviceInfoReply(MadeUp(1));
    magic[5] = 0x02;
    bad.push_back(magic);

    Datagram checksum = DeviceInfoReply(MadeUp(2));
    checksum.back() = static_cast<std::uint8_t>(checksum.back() + 1);
    bad.push_back(checksum);

    // Only the length byte is wrong: the checksum matches the bytes sent.
    Datagram length = DeviceInfoReply(MadeUp(3));
    length[kPeLengthOffset] = kPeDeviceInfoLength - 1;
    Recheck(length);
    bad.push_back(length);

    Datagram shortOne = DeviceInfoReply(MadeUp(4));
    shortOne.resize(kPeFrameOverhead - 1);
    bad.push_back(shortOne);

    bad.push_back(Datagram());

    PeMessage other{};
    PutDeviceInfo(other, MadeUp(6));
    other.command = 6;
    bad.push_back(EncodeFrame(other));

    PeMessage kind{};
    PutDeviceInfo(kind, MadeUp(7));
    kind.kind = 3;
    bad.push_back(EncodeFrame(kind));

    // A well-formed frame from a real device whose length is not 108: if a
    // client took it, that device's row would show these made-up values.
    PeMessage shortInfo{};
    EmuDevice changed = MadeUp(8);
    std::memcpy(changed.mac, known.mac, 6);
    PutDeviceInfo(shortInfo, changed);
    shortInfo.payloadLength = kPeDeviceInfoLength - 1;
    bad.push_back(EncodeFrame(shortInfo));

    bad.push_back(SerialReply(MadeUp(9)));
    return bad;
}
