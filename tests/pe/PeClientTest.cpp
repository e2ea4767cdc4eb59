#include "PeClient.h"
#include "PeCommands.h"
#include "PeDevices.h"
#include "PeFrame.h"
#include "PeReceiver.h"
#include "XException.h"
#include "XMemory.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

// Every test talks to g_peSocket over 127.0.0.1: requests are redirected to a
// loopback "device" socket, and replies are sent from it to g_peSocket's port.
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::uint8_t kMacA[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
const std::uint8_t kMacB[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x66};

// Copies text into a 32-byte field, without a terminator when it fills it.
void PutText(std::uint8_t* field, const char* text)
{
    std::memcpy(field, text, strnlen(text, 32));
}

Bytes Encode(const PeMessage& message)
{
    XBuffer buffer;
    EXPECT_EQ(EncodePeFrame(buffer, message), 0);
    return Bytes(buffer.GetData(), buffer.GetData() + buffer.GetSize());
}

Bytes InfoReply(const std::uint8_t* mac, std::uint8_t lastOctet, const char* name, std::uint8_t length = 108)
{
    PeMessage m{};
    m.command = kPeCommandSearch;
    m.kind = kPeKindDeviceInfo;
    std::memcpy(m.mac, mac, 6);
    m.payloadLength = length;
    const std::uint8_t ip[4] = {10, 0, 0, lastOctet};
    const std::uint8_t mask[4] = {255, 255, 0, 0};
    const std::uint8_t gateway[4] = {10, 0, 0, 254};
    std::memcpy(m.payload + kPeIpOffset, ip, 4);
    std::memcpy(m.payload + kPeMaskOffset, mask, 4);
    std::memcpy(m.payload + kPeGatewayOffset, gateway, 4);
    PutText(m.payload + kPeNameOffset, name);
    PutText(m.payload + kPeModelOffset, "M-1");
    PutText(m.payload + kPeVersionOffset, "V2");
    return Encode(m);
}

Bytes SerialReply(const std::uint8_t* mac, const char* serial)
{
    PeMessage m{};
    m.command = kPeCommandSearch;
    m.kind = kPeKindSerial;
    std::memcpy(m.mac, mac, 6);
    m.payloadLength = kPeSerialLength;
    PutText(m.payload, serial);
    return Encode(m);
}

Bytes Frame(std::uint8_t command, std::uint8_t kind, std::uint8_t length)
{
    PeMessage m{};
    m.command = command;
    m.kind = kind;
    std::memcpy(m.mac, kMacA, 6);
    m.payloadLength = length;
    return Encode(m);
}

Bytes Hex(const char* text)
{
    Bytes bytes;
    for (const char* p = text; *p;) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return bytes;
}

class PeClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        device = socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(device, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(device, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
        socklen_t length = sizeof local;
        ASSERT_EQ(getsockname(device, reinterpret_cast<sockaddr*>(&local), &length), 0);
        SetPeRequestTarget("127.0.0.1", ntohs(local.sin_port));
        OpenPeSocket();
        ASSERT_NE(g_peSocket.GetHandle(), -1);
        sockaddr_in tool{};
        length = sizeof tool;
        ASSERT_EQ(getsockname(g_peSocket.GetHandle(), reinterpret_cast<sockaddr*>(&tool), &length), 0);
        toolAddress = local;
        toolAddress.sin_port = tool.sin_port;
    }
    static void TearDownTestSuite() { close(device); }

    void SetUp() override
    {
        Poll(); // nothing from an earlier test may leak in
        ClearPeDevices();
        g_peSortOrder = 1;
        refreshes = 0;
        DrainDevice();
    }
    void TearDown() override
    {
        XSetAllocFailAfter(-1);
        ClearPeDevices();
        g_peSortOrder = 1;
    }

    static void Send(const Bytes& datagram)
    {
        ASSERT_EQ(sendto(device, datagram.data(), datagram.size(), 0,
                         reinterpret_cast<const sockaddr*>(&toolAddress), sizeof toolAddress),
                  static_cast<ssize_t>(datagram.size()));
    }
    void Poll()
    {
        PollPeReplies([this] { ++refreshes; });
    }
    // Every datagram the tool sent since the last call.
    static std::vector<Bytes> DrainDevice()
    {
        std::vector<Bytes> received;
        std::uint8_t buffer[2048];
        for (;;) {
            ssize_t n = recv(device, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n < 0)
                return received;
            received.emplace_back(buffer, buffer + n);
        }
    }
    static std::string Name(int index) { return std::string(g_peDevices[index]->name); }

    static int device;
    static sockaddr_in toolAddress;
    int refreshes = 0;
};

int PeClientTest::device = -1;
sockaddr_in PeClientTest::toolAddress{};

TEST_F(PeClientTest, SearchSendsTheSixteenByteFrame)
{
    SendPeSearch(kPeEveryDevice);
    std::vector<Bytes> sent = DrainDevice();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], Hex("50 45 00 00 00 01 01 00 FF FF FF FF FF FF 00 FB"));
}

TEST_F(PeClientTest, InfoReplyCreatesThenUpdatesOneRecordPerMac)
{
    Send(InfoReply(kMacA, 5, "first"));
    Send(InfoReply(kMacA, 7, "second"));
    Poll();
    ASSERT_EQ(g_peDevices.GetSize(), 1);
    EXPECT_EQ(Name(0), "second");
    EXPECT_EQ(g_peDevices[0]->ip[3], 7);
    EXPECT_EQ(std::memcmp(g_peDevices[0]->mac, kMacA, 6), 0);
    EXPECT_EQ(std::string(g_peDevices[0]->model), "M-1");
    EXPECT_EQ(std::string(g_peDevices[0]->version), "V2");
    EXPECT_EQ(g_peDevices[0]->serial[0], 0);
    EXPECT_EQ(refreshes, 2);
}

TEST_F(PeClientTest, NewLowestIpGoesFirstAscendingAndLastDescending)
{
    for (int order : {1, -1}) {
        ClearPeDevices();
        g_peSortOrder = order;
        Send(InfoReply(kMacA, 50, "high"));
        Send(InfoReply(kMacB, 3, "low"));
        Poll();
        ASSERT_EQ(g_peDevices.GetSize(), 2);
        EXPECT_EQ(Name(order > 0 ? 0 : 1), "low") << "order " << order;
    }
}

TEST_F(PeClientTest, SerialReplyNeedsAKnownDevice)
{
    Send(SerialReply(kMacA, "SN-early"));
    Poll();
    EXPECT_EQ(g_peDevices.GetSize(), 0);
    EXPECT_EQ(refreshes, 0);

    Send(InfoReply(kMacA, 5, "cam"));
    Send(SerialReply(kMacA, "SN-0001"));
    Poll();
    ASSERT_EQ(g_peDevices.GetSize(), 1);
    EXPECT_EQ(std::string(g_peDevices[0]->serial, 7), "SN-0001");
    EXPECT_EQ(refreshes, 2);
}

TEST_F(PeClientTest, ThirtyTwoByteTextsAreKeptWithoutTerminator)
{
    const char full[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"; // 32 characters
    Send(InfoReply(kMacA, 5, full));
    Send(SerialReply(kMacA, full));
    Poll();
    ASSERT_EQ(g_peDevices.GetSize(), 1);
    EXPECT_EQ(std::memcmp(g_peDevices[0]->name, full, 32), 0);
    EXPECT_EQ(std::memcmp(g_peDevices[0]->serial, full, 32), 0);
}

// Frames that decode but carry nothing for the table still redraw.
TEST_F(PeClientTest, AcceptedFramesWithoutDataRedrawOnly)
{
    const Bytes frames[] = {
        Frame(1, 1, 107), Frame(1, 1, 109), Frame(1, 2, 31), Frame(1, 0, 0),
        Frame(1, 3, 108), Frame(2, 0, 12), Frame(3, 0, 0), Frame(9, 1, 108),
    };
    Send(InfoReply(kMacA, 5, "cam"));
    Poll();
    refreshes = 0;
    int expected = 0;
    for (const Bytes& frame : frames) {
        Send(frame);
        Poll();
        EXPECT_EQ(refreshes, ++expected);
        ASSERT_EQ(g_peDevices.GetSize(), 1);
        EXPECT_EQ(Name(0), "cam");
        EXPECT_EQ(g_peDevices[0]->ip[3], 5);
    }
}

// Each bad datagram is dropped without a redraw, and the good reply queued
// behind it is still handled in the same poll.
TEST_F(PeClientTest, BadDatagramsAreDroppedAndTheNextOneIsHandled)
{
    Bytes good = InfoReply(kMacB, 9, "good");
    Bytes badMagic = good;
    badMagic[1] = 0x46;
    Bytes badSixth = good;
    badSixth[5] = 0x02;
    Bytes badChecksum = good;
    badChecksum.back() ^= 0x01;
    Bytes badLength = good;
    badLength[14] = 107;
    Bytes extraByte = good;
    extraByte.push_back(0);
    Bytes cut(good.begin(), good.end() - 1);
    Bytes fifteen(good.begin(), good.begin() + 15);
    Bytes huge(1500, 0x50); // longer than the receive buffer
    const Bytes bad[] = {badMagic, badSixth, badChecksum, badLength, extraByte, cut, fifteen, Bytes(), huge};

    for (const Bytes& datagram : bad) {
        ClearPeDevices();
        refreshes = 0;
        Send(datagram);
        Poll();
        EXPECT_EQ(g_peDevices.GetSize(), 0);
        EXPECT_EQ(refreshes, 0) << "size " << datagram.size();
        Send(datagram);
        Send(good);
        Poll();
        ASSERT_EQ(g_peDevices.GetSize(), 1) << "size " << datagram.size();
        EXPECT_EQ(Name(0), "good");
        EXPECT_EQ(refreshes, 1);
    }
}

TEST_F(PeClientTest, ClearEmptiesTheTableButKeepsTheOrder)
{
    g_peSortOrder = -1;
    Send(InfoReply(kMacA, 5, "a"));
    Send(InfoReply(kMacB, 6, "b"));
    Poll();
    ASSERT_EQ(g_peDevices.GetSize(), 2);
    ClearPeDevices();
    EXPECT_EQ(g_peDevices.GetSize(), 0);
    EXPECT_EQ(g_peSortOrder, -1);
    Send(InfoReply(kMacA, 5, "a"));
    Poll();
    EXPECT_EQ(g_peDevices.GetSize(), 1);
}

TEST_F(PeClientTest, ChangedIpMovesTheRecordInPlace)
{
    Send(InfoReply(kMacA, 5, "a"));
    Send(InfoReply(kMacB, 6, "b"));
    Poll();
    tagDevice* a = g_peDevices[0];
    Send(InfoReply(kMacA, 200, "a"));
    Poll();
    ASSERT_EQ(g_peDevices.GetSize(), 2);
    EXPECT_EQ(g_peDevices[1], a);
    EXPECT_EQ(a->ip[3], 200);
}

struct CommandCase {
    const char* name;
    void (*send)(const tagDevice*);
    const char* frame;
};

TEST_F(PeClientTest, CommandsSendTheFrameThenASearchAndLeaveTheRecord)
{
    static const std::uint8_t newMac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x66};
    const CommandCase cases[] = {
        {"restart", SendPeRestart, "50 45 00 00 00 01 03 00 00 11 22 33 44 55 00 02"},
        {"shutdown", SendPeShutdown, "50 45 00 00 00 01 05 00 00 11 22 33 44 55 00 04"},
        {"set mac", [](const tagDevice* d) { SendPeSetMac(d, newMac); },
         "50 45 00 00 00 01 04 00 00 11 22 33 44 55 06 00 11 22 33 44 66 19"},
        {"set ip",
         [](const tagDevice* d) {
             const std::uint8_t ip[4] = {192, 168, 1, 100};
             const std::uint8_t mask[4] = {255, 255, 255, 0};
             const std::uint8_t gateway[4] = {192, 168, 1, 1};
             SendPeSetIp(d, ip, mask, gateway);
         },
         "50 45 00 00 00 01 02 00 00 11 22 33 44 55 0C C0 A8 01 64 FF FF FF 00 C0 A8 01 01 41"},
    };
    Send(InfoReply(kMacA, 5, "cam"));
    Poll();
    ASSERT_EQ(g_peDevices.GetSize(), 1);
    tagDevice before = *g_peDevices[0];
    for (const CommandCase& c : cases) {
        c.send(g_peDevices[0]);
        std::vector<Bytes> sent = DrainDevice();
        ASSERT_EQ(sent.size(), 2u) << c.name;
        EXPECT_EQ(sent[0], Hex(c.frame)) << c.name;
        EXPECT_EQ(sent[1], Hex("50 45 00 00 00 01 01 00 00 11 22 33 44 55 00 00")) << c.name;
        EXPECT_EQ(std::memcmp(g_peDevices[0], &before, sizeof before), 0) << c.name;
    }
}

// Out of memory while the table grows: the frame being handled is lost, the
// datagrams queued behind it wait for the next poll.
TEST_F(PeClientTest, MemoryExhaustionLosesOnlyTheFrameInHand)
{
    // Fill the table's storage so that the next new device must grow it.
    std::uint8_t filler[6] = {0x02, 0, 0, 0, 0, 0};
    do {
        ++filler[5];
        Send(InfoReply(filler, filler[5], "filler"));
        Poll();
    } while (g_peDevices.GetSize() < g_peDevices.GetCapacity());
    const int before = g_peDevices.GetSize();
    Send(InfoReply(kMacA, 5, "lost"));
    Send(InfoReply(kMacB, 6, "kept"));
    ASSERT_EQ(g_peReceiver.Fill(), 2);
    XSetAllocFailAfter(0);
    EXPECT_THROW(Poll(), XMemoryException);
    XSetAllocFailAfter(-1);
    EXPECT_EQ(g_peDevices.GetSize(), before);
    Poll();
    ASSERT_EQ(g_peDevices.GetSize(), before + 1);
    EXPECT_EQ(FindPeDevice(kMacA), -1);
    ASSERT_GE(FindPeDevice(kMacB), 0);
    EXPECT_EQ(Name(FindPeDevice(kMacB)), "kept");
}

// Replies taken off the socket by the receiving thread are handled in arrival
// order by the next poll, so a serial reply right behind its device-info reply
// is never lost.
TEST_F(PeClientTest, RepliesQueuedByTheReceiverKeepTheirOrder)
{
    const int devices = 50;
    std::uint8_t mac[6] = {0x02, 0, 0, 0, 0, 0};
    for (int i = 0; i < devices; ++i) {
        mac[5] = static_cast<std::uint8_t>(i);
        Send(InfoReply(mac, static_cast<std::uint8_t>(i), "cam"));
        Send(SerialReply(mac, "SN"));
    }
    Poll();
    ASSERT_EQ(g_peDevices.GetSize(), devices);
    for (int i = 0; i < devices; ++i) {
        EXPECT_EQ(g_peDevices[i]->ip[3], i);
        EXPECT_EQ(std::string(g_peDevices[i]->serial), "SN");
    }
    EXPECT_EQ(refreshes, 2 * devices);
}

} // namespace
