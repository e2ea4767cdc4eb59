#include "PeClient.h"
#include "PeCommands.h"
#include "PeDevices.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Without an opened endpoint every send and poll returns at once and does
// nothing. OpenPeSocket is never called in this program.
namespace {

TEST(PeClientClosedTest, SendsAndPollsDoNothing)
{
    int device = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(device, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(device, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    socklen_t length = sizeof local;
    ASSERT_EQ(getsockname(device, reinterpret_cast<sockaddr*>(&local), &length), 0);
    SetPeRequestTarget("127.0.0.1", ntohs(local.sin_port));

    EXPECT_EQ(g_peSocket.GetHandle(), -1);
    tagDevice record{};
    SendPeSearch(kPeEveryDevice);
    SendPeRestart(&record);
    SendPeShutdown(&record);
    int refreshes = 0;
    PollPeReplies([&] { ++refreshes; });
    EXPECT_EQ(refreshes, 0);
    EXPECT_EQ(g_peDevices.GetSize(), 0);

    char buffer[64];
    EXPECT_LT(recv(device, buffer, sizeof buffer, MSG_DONTWAIT), 0);
    close(device);
}

} // namespace
