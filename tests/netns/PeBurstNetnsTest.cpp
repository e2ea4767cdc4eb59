#include "NetnsFixture.h"
#include "PeClient.h"
#include "PeDevices.h"

#include <sys/socket.h>

#include <ctime>
#include <string>

// A few hundred devices answer one search at once while the tool's receive
// buffer is held at 212992 bytes, the usual desktop limit: far less than the
// burst, so only taking datagrams off the socket as they arrive loses none.
// The window's 100 ms tick is kept; the emulator sends at line rate.
namespace {

const int kDevices = 400;
const int kCappedBuffer = 212992;

class PeBurstNetnsTest : public NetnsTest {
protected:
    // Paced like a 100 Mbit/s port, the slowest a technician's LAN has: the
    // whole burst still reaches the tool within a few milliseconds.
    std::vector<std::string> EmulatorArguments() const override
    {
        return {"--count", std::to_string(kDevices), "--line-rate-mbps", "100"};
    }
};

int Serials()
{
    int filled = 0;
    for (int i = 0; i < g_peDevices.GetSize(); ++i)
        filled += g_peDevices[i]->serial[0] != 0;
    return filled;
}

TEST_F(PeBurstNetnsTest, BurstLargerThanTheReceiveBufferLosesNothing)
{
    ClearPeDevices();
    OpenPeSocket();
    ASSERT_NE(g_peSocket.GetHandle(), -1);
    int requested = kCappedBuffer / 2; // the kernel doubles what it is given
    ASSERT_EQ(setsockopt(g_peSocket.GetHandle(), SOL_SOCKET, SO_RCVBUF, &requested, sizeof requested), 0);
    int actual = 0;
    socklen_t length = sizeof actual;
    ASSERT_EQ(getsockopt(g_peSocket.GetHandle(), SOL_SOCKET, SO_RCVBUF, &actual, &length), 0);
    ASSERT_LE(actual, kCappedBuffer);

    SendPeSearch(kPeEveryDevice);
    ASSERT_TRUE(netns.WaitForLogLine("# sent ", 10000));
    for (int tick = 0; tick < 50 && !(g_peDevices.GetSize() == kDevices && Serials() == kDevices); ++tick) {
        struct timespec pause = {0, 100 * 1000000L};
        nanosleep(&pause, nullptr);
        PollPeReplies(nullptr);
    }
    EXPECT_EQ(g_peDevices.GetSize(), kDevices);
    EXPECT_EQ(Serials(), kDevices);
    ClearPeDevices();
}

} // namespace
