#include "XSocket.h"
#include "XSocketFunctions.h"
#include "XUdp.h"

#include "SocketTestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

using sockettest::kNonLocalAddress;
using sockettest::kUnknownName;
using sockettest::OpenDescriptorCount;

bool IsOpen(int fd)
{
    return fcntl(fd, F_GETFD) != -1;
}

bool IsNonBlocking(int fd)
{
    return (fcntl(fd, F_GETFL) & O_NONBLOCK) != 0;
}

sockaddr_in LocalAddress(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return address;
}

sockaddr_in Loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Waits, outside the code under test, until fd has a datagram pending.
bool WaitReadable(int fd)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    timeval limit{10, 0};
    return select(fd + 1, &set, nullptr, nullptr, &limit) == 1;
}

bool HasPendingDatagram(int fd)
{
    char byte;
    return recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) >= 0;
}

// A free loopback port: bound once by the system's choice, then released.
int FreePort()
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = Loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int port = ntohs(LocalAddress(fd).sin_port);
    close(fd);
    return port;
}

// A plain loopback UDP socket on the far side of the endpoint under test.
class Peer {
public:
    Peer() : fd(socket(AF_INET, SOCK_DGRAM, 0))
    {
        sockaddr_in any = Loopback(0);
        bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any);
        address = LocalAddress(fd);
    }
    ~Peer() { close(fd); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool SendTo(const XUdp& endpoint, const void* data, size_t length) const
    {
        sockaddr_in to = Loopback(ntohs(LocalAddress(endpoint.GetHandle()).sin_port));
        return sendto(fd, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to)
               == static_cast<ssize_t>(length);
    }

    int fd;
    sockaddr_in address;
};

class XUdpTest : public ::testing::Test {
protected:
    void TearDown() override { XSetNonBlockingFailAfter(-1); }

    // Opens endpoint on a system-chosen loopback port.
    static void OpenLoopback(XUdp& endpoint)
    {
        ASSERT_EQ(0, endpoint.Open(0, "127.0.0.1"));
        ASSERT_GE(endpoint.GetHandle(), 0);
    }

    Peer peer;
};

// ------------------------------------------------------------- lifecycle

TEST_F(XUdpTest, StartsWithoutHandleAndWithUnlimitedWaits)
{
    XUdp byDefault;
    XUdp explicitNone(-1);
    XSocket base;
    const XSocket* sockets[] = {&byDefault, &explicitNone, &base};
    for (const XSocket* socket : sockets) {
        EXPECT_EQ(-1, socket->GetHandle());
        EXPECT_EQ(-1, socket->GetReceiveTimeout());
        EXPECT_EQ(-1, socket->GetSendTimeout());
    }
}

TEST_F(XUdpTest, TimeoutsAreKeptSeparately)
{
    XUdp endpoint;
    for (int ms : {0, 1000, 1500, -1}) {
        SCOPED_TRACE(ms);
        endpoint.SetReceiveTimeout(ms);
        endpoint.SetSendTimeout(ms + 7);
        EXPECT_EQ(ms, endpoint.GetReceiveTimeout());
        EXPECT_EQ(ms + 7, endpoint.GetSendTimeout());
    }
}

TEST_F(XUdpTest, DestructionClosesTheAdoptedHandle)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    {
        XUdp endpoint(fd);
        EXPECT_EQ(fd, endpoint.GetHandle());
    }
    EXPECT_FALSE(IsOpen(fd));
}

TEST_F(XUdpTest, AttachReturnsThePreviousHandleWithoutClosingIt)
{
    int first = socket(AF_INET, SOCK_DGRAM, 0);
    int second = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    {
        XUdp endpoint;
        EXPECT_EQ(-1, endpoint.Attach(first));
        EXPECT_EQ(first, endpoint.Attach(second));
        EXPECT_EQ(second, endpoint.GetHandle());
        EXPECT_TRUE(IsOpen(first));
    }
    EXPECT_TRUE(IsOpen(first));
    EXPECT_FALSE(IsOpen(second));
    close(first);
}

TEST_F(XUdpTest, CloseReleasesTheHandleOnceAndTheDestructorAddsNothing)
{
    auto endpoint = std::make_unique<XUdp>();
    OpenLoopback(*endpoint);
    int fd = endpoint->GetHandle();

    endpoint->Close();
    EXPECT_EQ(-1, endpoint->GetHandle());
    EXPECT_FALSE(IsOpen(fd));

    // The number is free again; a new socket takes it. Neither a second Close
    // nor the destructor may close that stranger.
    int stranger = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_EQ(fd, stranger);
    endpoint->Close();
    EXPECT_EQ(-1, endpoint->GetHandle());
    endpoint.reset();
    EXPECT_TRUE(IsOpen(stranger));
    close(stranger);
}

TEST_F(XUdpTest, CloseWithoutHandleDoesNothing)
{
    int before = OpenDescriptorCount();
    XUdp endpoint;
    endpoint.SetReceiveTimeout(0);
    endpoint.Close();
    EXPECT_EQ(-1, endpoint.GetHandle());
    EXPECT_EQ(0, endpoint.GetReceiveTimeout());
    EXPECT_EQ(before, OpenDescriptorCount());
}

TEST_F(XUdpTest, CloseShutsDownTheSendingDirectionFirst)
{
    // A stream pair shows the shutdown: a duplicate keeps the socket alive
    // after Close, and its sending direction is found shut.
    int pair[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
    int duplicate = dup(pair[0]);
    ASSERT_GE(duplicate, 0);
    XSocket owner(pair[0]);
    owner.Close();

    char byte;
    EXPECT_EQ(0, recv(pair[1], &byte, 1, MSG_DONTWAIT)); // end of stream
    EXPECT_EQ(-1, send(duplicate, "x", 1, MSG_NOSIGNAL));
    EXPECT_EQ(EPIPE, errno);
    close(duplicate);
    close(pair[1]);
}

// ------------------------------------------------------------------ Open

TEST_F(XUdpTest, OpenOnAnyPortAndAddressGivesNonBlockingUdpSocket)
{
    XUdp endpoint;
    ASSERT_EQ(0, endpoint.Open(0, nullptr));
    int fd = endpoint.GetHandle();
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(IsNonBlocking(fd));
    int type = 0;
    socklen_t length = sizeof type;
    getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length);
    EXPECT_EQ(SOCK_DGRAM, type);
    sockaddr_in local = LocalAddress(fd);
    EXPECT_EQ(htonl(INADDR_ANY), local.sin_addr.s_addr);
    EXPECT_NE(0, ntohs(local.sin_port));
    // Open leaves the time limits as they were.
    EXPECT_EQ(-1, endpoint.GetReceiveTimeout());
    EXPECT_EQ(-1, endpoint.GetSendTimeout());
}

TEST_F(XUdpTest, OpenBindsTheGivenPort)
{
    int port = FreePort();
    XUdp endpoint;
    ASSERT_EQ(0, endpoint.Open(port, "127.0.0.1"));
    EXPECT_EQ(port, ntohs(LocalAddress(endpoint.GetHandle()).sin_port));
}

TEST_F(XUdpTest, SecondOpenReplacesAndClosesTheFirstSocket)
{
    XUdp endpoint;
    OpenLoopback(endpoint);
    int first = endpoint.GetHandle();
    int firstPort = ntohs(LocalAddress(first).sin_port);
    int before = OpenDescriptorCount();

    ASSERT_EQ(0, endpoint.Open(0, "127.0.0.1"));

    EXPECT_EQ(before, OpenDescriptorCount());
    // The first port is free again.
    XUdp other;
    EXPECT_EQ(0, other.Open(firstPort, "127.0.0.1"));
}

enum class Refusal { UnknownHost, NonLocalAddress, PortInUse };

struct OpenFailureCase {
    const char* label;
    Refusal refusal;
};

void PrintTo(const OpenFailureCase& c, std::ostream* out)
{
    *out << c.label;
}

class XUdpOpenFailureTest : public XUdpTest, public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(XUdpOpenFailureTest, ReturnsMinusOneAndChangesNothing)
{
    XUdp holder; // keeps a port busy
    OpenLoopback(holder);
    int port = 0;
    const char* host = "127.0.0.1";
    switch (GetParam().refusal) {
    case Refusal::UnknownHost: host = kUnknownName; break;
    case Refusal::NonLocalAddress: host = kNonLocalAddress; break;
    case Refusal::PortInUse: port = ntohs(LocalAddress(holder.GetHandle()).sin_port); break;
    }

    // Both on an endpoint without a socket and on one that holds a socket.
    XUdp fresh;
    XUdp open;
    OpenLoopback(open);
    int openHandle = open.GetHandle();
    int before = OpenDescriptorCount();

    EXPECT_EQ(-1, fresh.Open(port, host));
    EXPECT_EQ(-1, open.Open(port, host));

    EXPECT_EQ(before, OpenDescriptorCount());
    EXPECT_EQ(-1, fresh.GetHandle());
    EXPECT_EQ(openHandle, open.GetHandle());
    EXPECT_TRUE(IsOpen(openHandle));
}

INSTANTIATE_TEST_SUITE_P(Refusals, XUdpOpenFailureTest,
                         ::testing::Values(OpenFailureCase{"UnknownHost", Refusal::UnknownHost},
                                           OpenFailureCase{"NonLocalAddress", Refusal::NonLocalAddress},
                                           OpenFailureCase{"PortInUse", Refusal::PortInUse}),
                         [](const ::testing::TestParamInfo<OpenFailureCase>& info) {
                             return std::string(info.param.label);
                         });

TEST_F(XUdpTest, NonBlockingFailureClosesTheNewSocketAndReturnsMinusTwo)
{
    int port = FreePort();
    XUdp fresh;
    XUdp open;
    OpenLoopback(open);
    int openHandle = open.GetHandle();
    int before = OpenDescriptorCount();

    XSetNonBlockingFailAfter(0);
    EXPECT_EQ(-2, fresh.Open(port, "127.0.0.1"));
    EXPECT_EQ(-2, open.Open(port, "127.0.0.1"));
    XSetNonBlockingFailAfter(-1);

    EXPECT_EQ(before, OpenDescriptorCount());
    EXPECT_EQ(-1, fresh.GetHandle());
    EXPECT_EQ(openHandle, open.GetHandle());
    EXPECT_TRUE(IsNonBlocking(openHandle));
    // The socket that was bound to port is gone: the port can be bound again.
    EXPECT_EQ(0, fresh.Open(port, "127.0.0.1"));
}

TEST_F(XUdpTest, SetBroadcastSwitchesTheOption)
{
    XUdp endpoint;
    EXPECT_EQ(-1, endpoint.SetBroadcast(1));
    OpenLoopback(endpoint);
    for (int on : {1, 0, 5}) {
        SCOPED_TRACE(on);
        EXPECT_EQ(0, endpoint.SetBroadcast(on));
        int value = -1;
        socklen_t length = sizeof value;
        ASSERT_EQ(0, getsockopt(endpoint.GetHandle(), SOL_SOCKET, SO_BROADCAST, &value, &length));
        EXPECT_EQ(on != 0, value != 0);
    }
}

// ---------------------------------------------------------- send, receive

TEST_F(XUdpTest, SendToDeliversOneDatagramFromTheBoundPort)
{
    XUdp endpoint;
    OpenLoopback(endpoint);
    for (int timeout : {-1, 0, 1000}) {
        SCOPED_TRACE(timeout);
        endpoint.SetSendTimeout(timeout);
        const char message[] = "PE search";
        ASSERT_EQ(static_cast<int>(sizeof message), endpoint.SendTo(message, sizeof message, &peer.address));

        ASSERT_TRUE(WaitReadable(peer.fd));
        char received[64] = {};
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t got = recvfrom(peer.fd, received, sizeof received, 0, reinterpret_cast<sockaddr*>(&from), &length);
        ASSERT_EQ(static_cast<ssize_t>(sizeof message), got);
        EXPECT_EQ(0, std::memcmp(message, received, sizeof message));
        EXPECT_EQ(LocalAddress(endpoint.GetHandle()).sin_port, from.sin_port);
    }
}

TEST_F(XUdpTest, ReceiveWithZeroTimeoutOnEmptyQueueFails)
{
    XUdp endpoint;
    OpenLoopback(endpoint);
    endpoint.SetReceiveTimeout(0);
    char buffer[16];
    EXPECT_EQ(-1, endpoint.Receive(buffer, sizeof buffer));
    // A bounded wait that runs out ends the same way.
    endpoint.SetReceiveTimeout(30);
    EXPECT_EQ(-1, endpoint.Receive(buffer, sizeof buffer));
}

TEST_F(XUdpTest, QueuedDatagramsComeOneByOneThenMinusOne)
{
    XUdp endpoint;
    OpenLoopback(endpoint);
    std::vector<std::vector<unsigned char>> sent = {std::vector<unsigned char>(5, 0x11),
                                                    std::vector<unsigned char>(300, 0x22),
                                                    std::vector<unsigned char>()};
    for (const auto& datagram : sent)
        ASSERT_TRUE(peer.SendTo(endpoint, datagram.data(), datagram.size()));

    // The waits make the test independent of delivery lag; each ends as soon
    // as the datagram is there.
    endpoint.SetReceiveTimeout(10000);
    for (const auto& datagram : sent) {
        unsigned char buffer[1024];
        int length = endpoint.Receive(buffer, sizeof buffer);
        ASSERT_EQ(static_cast<int>(datagram.size()), length);
        EXPECT_EQ(datagram, std::vector<unsigned char>(buffer, buffer + length));
    }
    endpoint.SetReceiveTimeout(0);
    unsigned char buffer[1024];
    EXPECT_EQ(-1, endpoint.Receive(buffer, sizeof buffer));
}

TEST_F(XUdpTest, ReceiveCutsALongerDatagramAndDropsTheRest)
{
    XUdp endpoint;
    OpenLoopback(endpoint);
    unsigned char long_datagram[100];
    for (int i = 0; i < 100; ++i)
        long_datagram[i] = static_cast<unsigned char>(i);
    ASSERT_TRUE(peer.SendTo(endpoint, long_datagram, sizeof long_datagram));
    ASSERT_TRUE(WaitReadable(endpoint.GetHandle()));

    endpoint.SetReceiveTimeout(0);
    unsigned char buffer[16];
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_EQ(10, endpoint.Receive(buffer, 10));
    EXPECT_EQ(0, std::memcmp(long_datagram, buffer, 10));
    for (int i = 10; i < 16; ++i)
        EXPECT_EQ(0xEE, buffer[i]) << i;
    EXPECT_EQ(-1, endpoint.Receive(buffer, sizeof buffer));
}

TEST_F(XUdpTest, SendAndReceiveWithoutHandleFail)
{
    XUdp never;
    XUdp closed;
    OpenLoopback(closed);
    closed.Close();
    for (XUdp* endpoint : {&never, &closed}) {
        endpoint->SetReceiveTimeout(0);
        endpoint->SetSendTimeout(0);
        char buffer[8] = {};
        EXPECT_EQ(-1, endpoint->SendTo("x", 1, &peer.address));
        EXPECT_EQ(-1, endpoint->Receive(buffer, sizeof buffer));
        EXPECT_EQ(-1, endpoint->GetHandle());
    }
    EXPECT_FALSE(HasPendingDatagram(peer.fd));
}

struct RefusedSendCase {
    const char* label;
    int length;
    bool toPortZero;
    bool nullAddress;
};

void PrintTo(const RefusedSendCase& c, std::ostream* out)
{
    *out << c.label;
}

class XUdpRefusedSendTest : public XUdpTest, public ::testing::WithParamInterface<RefusedSendCase> {};

TEST_P(XUdpRefusedSendTest, ReturnsMinusOne)
{
    const RefusedSendCase& c = GetParam();
    XUdp endpoint;
    OpenLoopback(endpoint);
    endpoint.SetSendTimeout(0);
    std::vector<char> data(c.length > 0 ? c.length : 1, 'p');
    sockaddr_in target = c.toPortZero ? Loopback(0) : peer.address;

    EXPECT_EQ(-1, endpoint.SendTo(data.data(), c.length, c.nullAddress ? nullptr : &target));
    EXPECT_FALSE(HasPendingDatagram(peer.fd));
    EXPECT_GE(endpoint.GetHandle(), 0);
}

INSTANTIATE_TEST_SUITE_P(Refused, XUdpRefusedSendTest,
                         ::testing::Values(RefusedSendCase{"PortZero", 4, true, false},
                                           RefusedSendCase{"TooLongForOneDatagram", 70000, false, false},
                                           RefusedSendCase{"NoAddress", 4, false, true},
                                           RefusedSendCase{"NegativeLength", -1, false, false}),
                         [](const ::testing::TestParamInfo<RefusedSendCase>& info) {
                             return std::string(info.param.label);
                         });

TEST_F(XUdpTest, FailedWaitLeavesTheSocketUntouched)
{
    // A handle that select cannot watch makes the wait fail while the socket
    // itself is fine: neither call may use it then.
    if (!sockettest::AllowHandlesBeyondSelect())
        GTEST_SKIP() << "descriptor limit too low for a handle beyond FD_SETSIZE";
    XUdp endpoint;
    OpenLoopback(endpoint);
    int high = fcntl(endpoint.GetHandle(), F_DUPFD, FD_SETSIZE);
    ASSERT_GE(high, static_cast<int>(FD_SETSIZE));
    XSocket low(endpoint.Attach(high)); // closes the original number at the end
    endpoint.SetReceiveTimeout(0);
    endpoint.SetSendTimeout(0);

    ASSERT_TRUE(peer.SendTo(endpoint, "reply", 5));
    ASSERT_TRUE(WaitReadable(low.GetHandle()));
    char buffer[16];
    EXPECT_EQ(-1, endpoint.Receive(buffer, sizeof buffer));
    EXPECT_EQ(5, recv(low.GetHandle(), buffer, sizeof buffer, MSG_DONTWAIT));

    EXPECT_EQ(-1, endpoint.SendTo("x", 1, &peer.address));
    EXPECT_FALSE(HasPendingDatagram(peer.fd));
}

TEST_F(XUdpTest, SendOnABrokenStreamFailsWithoutSignal)
{
    // An adopted stream socket whose peer is gone: the send must fail with
    // -1 instead of raising SIGPIPE, which would end the process.
    int pair[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
    close(pair[1]);
    XUdp endpoint(pair[0]);
    endpoint.SetSendTimeout(0);
    EXPECT_EQ(-1, endpoint.SendTo("x", 1, nullptr));
}

} // namespace
