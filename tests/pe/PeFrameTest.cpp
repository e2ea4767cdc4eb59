#include "PeFrame.h"
#include "XMemory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <numeric>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kMacAll[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const uint8_t kMacDevice[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

PeMessage MakeMessage(uint8_t command, uint8_t kind, const uint8_t (&mac)[6], const Bytes& payload)
{
    PeMessage m{};
    m.command = command;
    m.kind = kind;
    std::memcpy(m.mac, mac, sizeof m.mac);
    m.payloadLength = static_cast<uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), m.payload);
    return m;
}

// A message whose every byte is `fill`, to see which fields a decode wrote.
PeMessage Filled(uint8_t fill)
{
    PeMessage m;
    std::memset(&m, fill, sizeof m);
    return m;
}

bool SameMessage(const PeMessage& a, const PeMessage& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

Bytes Encode(const PeMessage& m)
{
    XBuffer buffer;
    EXPECT_EQ(EncodePeFrame(buffer, m), 0);
    return Bytes(buffer.GetData(), buffer.GetData() + buffer.GetSize());
}

int Decode(const Bytes& frame, PeMessage& m)
{
    return DecodePeFrame(frame.data(), static_cast<int>(frame.size()), m);
}

// Byte sum written out here rather than taken from the codec.
uint8_t Sum(Bytes::const_iterator first, Bytes::const_iterator last)
{
    return static_cast<uint8_t>(std::accumulate(first, last, 0u));
}

Bytes Text32(const std::string& text)
{
    Bytes field(kPeTextFieldSize, 0);
    std::copy(text.begin(), text.end(), field.begin());
    return field;
}

// --- Known frames: message -> exact bytes -> same message -------------------

struct FrameCase {
    const char* name;
    PeMessage message;
    Bytes frame;
};

// Keeps test names short in listings: a case prints as its name.
void PrintTo(const FrameCase& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<FrameCase> KnownFrames()
{
    const Bytes setIp = {0xC0, 0xA8, 0x01, 0x64,  // 192.168.1.100
                         0xFF, 0xFF, 0xFF, 0x00,  // 255.255.255.0
                         0xC0, 0xA8, 0x01, 0x01}; // 192.168.1.1
    return {
        {"SearchAll", MakeMessage(kPeCommandSearch, kPeKindRequest, kMacAll, {}),
         {0x50, 0x45, 0x00, 0x00, 0x00, 0x01,  // magic
          0x01, 0x00,                          // command, kind
          0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // mac
          0x00,                                // length
          0xFB}},                              // 1 + 6 * 255 = 1531, wraps to FB
        {"SearchOneMac", MakeMessage(kPeCommandSearch, kPeKindRequest, kMacDevice, {}),
         {0x50, 0x45, 0x00, 0x00, 0x00, 0x01,
          0x01, 0x00,
          0x00, 0x11, 0x22, 0x33, 0x44, 0x55,
          0x00,
          0x00}},
        {"Restart", MakeMessage(kPeCommandRestart, kPeKindRequest, kMacDevice, {}),
         {0x50, 0x45, 0x00, 0x00, 0x00, 0x01,
          0x03, 0x00,
          0x00, 0x11, 0x22, 0x33, 0x44, 0x55,
          0x00,
          0x02}},
        {"Shutdown", MakeMessage(kPeCommandShutdown, kPeKindRequest, kMacDevice, {}),
         {0x50, 0x45, 0x00, 0x00, 0x00, 0x01,
          0x05, 0x00,
          0x00, 0x11, 0x22, 0x33, 0x44, 0x55,
          0x00,
          0x04}},
        {"SetMac",
         MakeMessage(kPeCommandSetMac, kPeKindRequest, kMacDevice, {0x00, 0x11, 0x22, 0x33, 0x44, 0x66}),
         {0x50, 0x45, 0x00, 0x00, 0x00, 0x01,
          0x04, 0x00,
          0x00, 0x11, 0x22, 0x33, 0x44, 0x55,
          0x06,
          0x00, 0x11, 0x22, 0x33, 0x44, 0x66,  // new mac
          0x19}},
        {"SetIp", MakeMessage(kPeCommandSetIp, kPeKindRequest, kMacDevice, setIp),
         {0x50, 0x45, 0x00, 0x00, 0x00, 0x01,
          0x02, 0x00,
          0x00, 0x11, 0x22, 0x33, 0x44, 0x55,
          0x0C,
          0xC0, 0xA8, 0x01, 0x64,              // ip
          0xFF, 0xFF, 0xFF, 0x00,              // mask
          0xC0, 0xA8, 0x01, 0x01,              // gateway
          0x41}},
    };
}

FrameCase Known(const std::string& name)
{
    for (const FrameCase& c : KnownFrames())
        if (name == c.name)
            return c;
    ADD_FAILURE() << "no known frame " << name;
    return {};
}

class PeKnownFrameTest : public ::testing::TestWithParam<FrameCase> {};

TEST_P(PeKnownFrameTest, EncodesToExactBytes)
{
    EXPECT_EQ(Encode(GetParam().message), GetParam().frame);
}

TEST_P(PeKnownFrameTest, DecodesBackToSameMessage)
{
    PeMessage decoded{};
    ASSERT_EQ(Decode(GetParam().frame, decoded), 0);
    EXPECT_TRUE(SameMessage(decoded, GetParam().message));

    XBuffer buffer;
    ASSERT_EQ(buffer.SetSize(static_cast<int32_t>(GetParam().frame.size())),
              static_cast<int32_t>(GetParam().frame.size()));
    std::memcpy(buffer.GetData(), GetParam().frame.data(), GetParam().frame.size());
    PeMessage fromBuffer{};
    ASSERT_EQ(DecodePeFrame(buffer, fromBuffer), 0);
    EXPECT_TRUE(SameMessage(fromBuffer, GetParam().message));
}

// Every single-byte change from the command on, checksum byte included, is
// caught: by the length check at offset 14, by the checksum everywhere else.
TEST_P(PeKnownFrameTest, AnySingleByteChangeAfterMagicIsRejected)
{
    const Bytes& good = GetParam().frame;
    for (size_t offset = kPeCommandOffset; offset < good.size(); ++offset) {
        for (int delta = 1; delta < 256; ++delta) {
            Bytes bad = good;
            bad[offset] = static_cast<uint8_t>(bad[offset] + delta);
            PeMessage m{};
            EXPECT_EQ(Decode(bad, m), -1) << "offset " << offset << " delta " << delta;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, PeKnownFrameTest, ::testing::ValuesIn(KnownFrames()),
                         [](const ::testing::TestParamInfo<FrameCase>& info) { return info.param.name; });

// --- Round trips of other messages -----------------------------------------

struct RoundTripCase {
    const char* name;
    PeMessage message;
};

void PrintTo(const RoundTripCase& c, std::ostream* os)
{
    *os << c.name;
}

Bytes Counting(int n, int start, int step)
{
    Bytes bytes(n);
    for (int i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(start + i * step);
    return bytes;
}

std::vector<RoundTripCase> RoundTrips()
{
    Bytes info = {192, 168, 1, 100, 255, 255, 255, 0, 192, 168, 1, 1};
    for (const char* text : {"Gate camera", "VX-200", "V2.1.7"}) {
        Bytes field = Text32(text);
        info.insert(info.end(), field.begin(), field.end());
    }
    Bytes serialFull = Counting(kPeSerialLength, 'A', 1); // 32 bytes, no terminator
    return {
        {"DeviceInfoReply", MakeMessage(kPeCommandSearch, kPeKindDeviceInfo, kMacDevice, info)},
        {"SerialReplyWithoutTerminator", MakeMessage(kPeCommandSearch, kPeKindSerial, kMacDevice, serialFull)},
        {"FullPayload", MakeMessage(0x7E, 0x81, kMacDevice, Counting(kPeMaxPayloadLength, 3, 7))},
        // The encoder validates nothing: unknown codes and lengths pass as they are.
        {"UnknownCommandAndLength", MakeMessage(0xEE, 0xFF, kMacAll, {0x00, 0xFF, 0x80})},
        {"AllZero", PeMessage{}},
    };
}

class PeRoundTripTest : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(PeRoundTripTest, FrameHasLayoutAndDecodesBack)
{
    const PeMessage& m = GetParam().message;
    const Bytes frame = Encode(m);
    const size_t n = m.payloadLength;
    ASSERT_EQ(frame.size(), n + 16);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 6), Bytes(kPeMagic, kPeMagic + 6));
    EXPECT_EQ(frame[6], m.command);
    EXPECT_EQ(frame[7], m.kind);
    EXPECT_EQ(Bytes(frame.begin() + 8, frame.begin() + 14), Bytes(m.mac, m.mac + 6));
    EXPECT_EQ(frame[14], m.payloadLength);
    EXPECT_EQ(Bytes(frame.begin() + 15, frame.end() - 1), Bytes(m.payload, m.payload + n));
    EXPECT_EQ(frame.back(), Sum(frame.begin() + 6, frame.end() - 1));

    PeMessage decoded{};
    ASSERT_EQ(Decode(frame, decoded), 0);
    EXPECT_TRUE(SameMessage(decoded, m));
}

INSTANTIATE_TEST_SUITE_P(Messages, PeRoundTripTest, ::testing::ValuesIn(RoundTrips()),
                         [](const ::testing::TestParamInfo<RoundTripCase>& info) { return info.param.name; });

TEST(PeFrameTest, FullPayloadIs271Bytes)
{
    const PeMessage m = MakeMessage(kPeCommandSearch, kPeKindDeviceInfo, kMacDevice, Counting(255, 0, 1));
    const Bytes frame = Encode(m);
    EXPECT_EQ(frame.size(), 271u);
    EXPECT_EQ(frame[14], 0xFF);
    PeMessage decoded = Filled(0x5A);
    ASSERT_EQ(Decode(frame, decoded), 0);
    EXPECT_TRUE(SameMessage(decoded, m));
}

// A device-info reply laid out field by field as a device sends it; the
// fields land at the payload offsets that the table code reads.
TEST(PeFrameTest, DeviceInfoReplyFieldsAtTheirOffsets)
{
    Bytes frame = {0x50, 0x45, 0x00, 0x00, 0x00, 0x01,  // magic
                   0x01, 0x01,                          // search, device-info reply
                   0x00, 0x11, 0x22, 0x33, 0x44, 0x55,  // mac
                   108,                                 // length
                   10, 0, 0, 7,                         // ip
                   255, 255, 0, 0,                      // mask
                   10, 0, 0, 1};                        // gateway
    for (const char* text : {"Lobby", "VX-310", "V3.0.1"}) {
        Bytes field = Text32(text);
        frame.insert(frame.end(), field.begin(), field.end());
    }
    frame.push_back(Sum(frame.begin() + 6, frame.end()));
    ASSERT_EQ(frame.size(), 124u);

    PeMessage m{};
    ASSERT_EQ(Decode(frame, m), 0);
    EXPECT_EQ(m.command, kPeCommandSearch);
    EXPECT_EQ(m.kind, kPeKindDeviceInfo);
    EXPECT_EQ(m.payloadLength, kPeDeviceInfoLength);
    EXPECT_EQ(Bytes(m.payload + kPeIpOffset, m.payload + kPeIpOffset + 4), Bytes({10, 0, 0, 7}));
    EXPECT_EQ(Bytes(m.payload + kPeMaskOffset, m.payload + kPeMaskOffset + 4), Bytes({255, 255, 0, 0}));
    EXPECT_EQ(Bytes(m.payload + kPeGatewayOffset, m.payload + kPeGatewayOffset + 4), Bytes({10, 0, 0, 1}));
    EXPECT_STREQ(reinterpret_cast<const char*>(m.payload + kPeNameOffset), "Lobby");
    EXPECT_STREQ(reinterpret_cast<const char*>(m.payload + kPeModelOffset), "VX-310");
    EXPECT_STREQ(reinterpret_cast<const char*>(m.payload + kPeVersionOffset), "V3.0.1");
}

TEST(PeFrameTest, DecodeLeavesPayloadPastLengthAlone)
{
    const Bytes frame = Known("SetIp").frame; // 12 payload bytes
    PeMessage m = Filled(0x5A);
    ASSERT_EQ(Decode(frame, m), 0);
    EXPECT_EQ(Bytes(m.payload, m.payload + 12), Bytes(frame.begin() + 15, frame.end() - 1));
    EXPECT_EQ(Bytes(m.payload + 12, m.payload + 255), Bytes(243, 0x5A));
}

// --- Checksum ---------------------------------------------------------------

TEST(PeChecksumTest, SumsModulo256)
{
    const struct {
        Bytes bytes;
        int count;
        int expected;
    } cases[] = {
        {{}, 0, 0},
        {{0x42}, 0, 0},                        // nothing summed
        {{0x42}, -1, 0},                       // negative counts read nothing
        {{0x42}, -1000, 0},
        {{0x42}, 1, 0x42},
        {{0x01, 0x02, 0x64}, 2, 0x03},         // stops at count
        {{0xFF, 0x01}, 2, 0x00},               // wraps to exactly 0
        {{0x80, 0x80, 0x80}, 3, 0x80},
        {{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 7, 0xFB},
        {Bytes(264, 0xFF), 264, 0xF8},         // 264 * 255 = 67320 = 0x106F8
    };
    for (const auto& c : cases)
        EXPECT_EQ(PeChecksum(c.bytes.data(), c.count), c.expected)
            << c.bytes.size() << " bytes, count " << c.count;
    EXPECT_EQ(PeChecksum(nullptr, 0), 0);
}

// --- Rejections, in the order the decoder tests them ------------------------

class PeDecodeRejectTest : public ::testing::Test {
protected:
    const Bytes restart = Known("Restart").frame; // 16 bytes, no payload
    const Bytes setIp = Known("SetIp").frame;     // 28 bytes, 12 payload bytes
    static constexpr uint8_t kFill = 0x5A;
    PeMessage m = Filled(kFill);
    const PeMessage untouched = Filled(kFill);

    // Header fields written (step 3 ran) but payload not (step 5 did not).
    void ExpectHeaderCopiedOnly(const Bytes& frame)
    {
        EXPECT_EQ(m.command, frame[6]);
        EXPECT_EQ(m.kind, frame[7]);
        EXPECT_EQ(Bytes(m.mac, m.mac + 6), Bytes(frame.begin() + 8, frame.begin() + 14));
        EXPECT_EQ(m.payloadLength, frame[14]);
        EXPECT_EQ(Bytes(m.payload, m.payload + 255), Bytes(255, kFill));
    }
};

TEST_F(PeDecodeRejectTest, ShortDatagramsBeforeAnythingIsRead)
{
    EXPECT_EQ(DecodePeFrame(nullptr, 0, m), -1);
    XBuffer empty;
    EXPECT_EQ(DecodePeFrame(empty, m), -1);
    // 15 bytes that begin with the magic and would otherwise look like a frame.
    for (size_t size = 1; size < 16; ++size)
        EXPECT_EQ(Decode(Bytes(restart.begin(), restart.begin() + size), m), -1) << size;
    EXPECT_TRUE(SameMessage(m, untouched));
}

TEST_F(PeDecodeRejectTest, EveryMagicByteIsComparedExactly)
{
    const struct {
        int offset;
        uint8_t value;
    } cases[] = {
        {0, 'p'}, {0, 0x00}, {1, 'e'}, {1, 0x50}, {2, 0x01}, {3, 0xFF}, {4, 0x80},
        {5, 0x00}, {5, 0x02}, {5, 0x81}, // the sixth byte must be exactly 1
    };
    for (const auto& c : cases) {
        for (const Bytes* good : {&restart, &setIp}) {
            Bytes bad = *good;
            bad[c.offset] = c.value;
            EXPECT_EQ(Decode(bad, m), -1) << "offset " << c.offset << " value " << int(c.value);
        }
    }
    // Rejected before any field was copied.
    EXPECT_TRUE(SameMessage(m, untouched));
}

TEST_F(PeDecodeRejectTest, LengthByteMustAccountForEveryByte)
{
    // A 16-byte datagram with a non-zero length byte, checksum mended so only
    // the length disagrees.
    Bytes claimsPayload = restart;
    claimsPayload[14] = 1;
    claimsPayload[15] = static_cast<uint8_t>(claimsPayload[15] + 1);
    EXPECT_EQ(Decode(claimsPayload, m), -1);
    ExpectHeaderCopiedOnly(claimsPayload);

    m = Filled(kFill);
    Bytes extra = setIp;
    extra.push_back(0x00); // a zero byte does not even disturb the sum
    EXPECT_EQ(Decode(extra, m), -1);
    ExpectHeaderCopiedOnly(extra);

    m = Filled(kFill);
    Bytes cut(setIp.begin(), setIp.end() - 1);
    EXPECT_EQ(Decode(cut, m), -1);
    ExpectHeaderCopiedOnly(cut);

    // No datagram over 271 bytes can pass: the length byte tops out at 255.
    m = Filled(kFill);
    Bytes huge = Encode(MakeMessage(1, 1, kMacDevice, Counting(255, 0, 1)));
    huge.push_back(0x00);
    EXPECT_EQ(Decode(huge, m), -1);
    ExpectHeaderCopiedOnly(huge);
}

TEST_F(PeDecodeRejectTest, ChecksumIsTestedLastAfterThePayloadCopy)
{
    Bytes bad = setIp;
    bad.back() = static_cast<uint8_t>(bad.back() ^ 0x01);
    EXPECT_EQ(Decode(bad, m), -1);
    // Everything but the verdict was already written.
    EXPECT_EQ(m.payloadLength, 12);
    EXPECT_EQ(Bytes(m.payload, m.payload + 12), Bytes(setIp.begin() + 15, setIp.end() - 1));
    EXPECT_EQ(m.payload[12], kFill);
}

// The decoder's order shows in what it wrote before giving up: a bad magic
// stops it before the header copy, a bad length before the payload copy,
// whatever else is wrong with the datagram.
TEST_F(PeDecodeRejectTest, MagicIsCheckedBeforeLengthAndChecksum)
{
    Bytes badMagicAndLength = setIp;
    badMagicAndLength[5] = 0x02;
    badMagicAndLength.push_back(0x33);
    badMagicAndLength[20] ^= 0xFF; // a payload byte, so the checksum is wrong too
    EXPECT_EQ(Decode(badMagicAndLength, m), -1);
    EXPECT_TRUE(SameMessage(m, untouched));

    Bytes badLengthAndChecksum = badMagicAndLength;
    badLengthAndChecksum[5] = 0x01;
    EXPECT_EQ(Decode(badLengthAndChecksum, m), -1);
    ExpectHeaderCopiedOnly(badLengthAndChecksum);
}

// --- Encoder when the buffer cannot be resized -------------------------------

class PeEncodeNoMemoryTest : public ::testing::Test {
protected:
    void TearDown() override { XSetAllocFailAfter(-1); }
};

TEST_F(PeEncodeNoMemoryTest, LeavesBufferAsItWas)
{
    const FrameCase restart = Known("Restart"); // 16-byte frame
    const struct {
        const char* name;
        Bytes before;
    } cases[] = {
        {"empty", {}},
        {"smaller", {1, 2, 3, 4, 5}},
        {"larger", Counting(40, 9, 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        XBuffer buffer;
        const int32_t size = static_cast<int32_t>(c.before.size());
        ASSERT_EQ(buffer.SetSize(size), size);
        if (size > 0)
            std::memcpy(buffer.GetData(), c.before.data(), c.before.size());

        XSetAllocFailAfter(0);
        EXPECT_EQ(EncodePeFrame(buffer, restart.message), -1);
        XSetAllocFailAfter(-1);

        ASSERT_EQ(buffer.GetSize(), size);
        if (size == 0)
            EXPECT_EQ(buffer.GetData(), nullptr);
        else
            EXPECT_EQ(Bytes(buffer.GetData(), buffer.GetData() + size), c.before);

        // Once memory is back, the same buffer takes the frame.
        EXPECT_EQ(EncodePeFrame(buffer, restart.message), 0);
        EXPECT_EQ(Bytes(buffer.GetData(), buffer.GetData() + buffer.GetSize()), restart.frame);
    }
}

TEST_F(PeEncodeNoMemoryTest, BufferOfTheRightSizeNeedsNoMemory)
{
    const FrameCase setIp = Known("SetIp");
    XBuffer buffer;
    ASSERT_EQ(buffer.SetSize(28), 28);
    std::memset(buffer.GetData(), 0xEE, 28);

    XSetAllocFailAfter(0);
    EXPECT_EQ(EncodePeFrame(buffer, setIp.message), 0);
    XSetAllocFailAfter(-1);
    EXPECT_EQ(Bytes(buffer.GetData(), buffer.GetData() + buffer.GetSize()), setIp.frame);
}

TEST(PeFrameTest, EncoderResizesAReusedBufferExactly)
{
    XBuffer buffer;
    // Grow and shrink through frames of 16, 22 and 28 bytes and back.
    for (const char* name : {"SearchAll", "SetMac", "SetIp", "Restart", "SetIp", "SearchOneMac"}) {
        const FrameCase c = Known(name);
        ASSERT_EQ(EncodePeFrame(buffer, c.message), 0);
        EXPECT_EQ(Bytes(buffer.GetData(), buffer.GetData() + buffer.GetSize()), c.frame) << name;
    }
}

} // namespace
