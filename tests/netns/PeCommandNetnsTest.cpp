#include "NetnsFixture.h"
#include "PeClient.h"
#include "PeCommands.h"
#include "PeDevices.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>

// The four device commands against emulated devices: each reaches the device
// with the exact bytes, and the device's answer to the follow-up search
// updates the table the way the reply rules say.
namespace {

const int kDevices = 3;

void SleepMs(int ms)
{
    struct timespec pause = {0, ms * 1000000L};
    nanosleep(&pause, nullptr);
}

std::string MacHex(const std::uint8_t* mac)
{
    char text[13];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

class PeCommandNetnsTest : public NetnsTest {
protected:
    std::vector<std::string> EmulatorArguments() const override { return {"--count", std::to_string(kDevices)}; }

    void SetUp() override
    {
        NetnsTest::SetUp();
        if (HasFatalFailure())
            return;
        ClearPeDevices();
        g_peSortOrder = 1;
        OpenPeSocket();
        ASSERT_NE(g_peSocket.GetHandle(), -1);
        SendPeSearch(kPeEveryDevice);
        PollUntil([] { return g_peDevices.GetSize() == kDevices && Complete(); });
        ASSERT_EQ(g_peDevices.GetSize(), kDevices);
    }

    void TearDown() override
    {
        ClearPeDevices();
        NetnsTest::TearDown();
    }

    static bool Complete()
    {
        for (int i = 0; i < g_peDevices.GetSize(); ++i)
            if (g_peDevices[i]->serial[0] == 0)
                return false;
        return true;
    }

    // Polls every 20 ms until done() or 3 s have passed.
    template <class Done>
    static void PollUntil(Done done)
    {
        for (int waited = 0; waited < 3000 && !done(); waited += 20) {
            PollPeReplies(nullptr);
            SleepMs(20);
        }
        PollPeReplies(nullptr);
    }

    // The frames the emulator received after the first n.
    std::vector<std::string> FramesAfter(size_t n) const
    {
        std::vector<std::string> frames = netns.ReceivedFrames();
        return std::vector<std::string>(frames.begin() + static_cast<long>(std::min(n, frames.size())), frames.end());
    }
};

TEST_F(PeCommandNetnsTest, SetIpMovesTheDeviceAfterItsNextReply)
{
    tagDevice* lowest = g_peDevices[0];
    const std::string mac = MacHex(lowest->mac);
    const std::uint8_t ip[4] = {10, 77, 200, 1};
    const std::uint8_t mask[4] = {255, 255, 0, 0};
    const std::uint8_t gateway[4] = {10, 77, 0, 1};
    size_t before = netns.ReceivedFrames().size();

    SendPeSetIp(lowest, ip, mask, gateway);
    EXPECT_EQ(g_peDevices[0], lowest); // nothing changes before the answer
    PollUntil([&] { return g_peDevices[kDevices - 1] == lowest; });

    ASSERT_EQ(g_peDevices.GetSize(), kDevices);
    EXPECT_EQ(g_peDevices[kDevices - 1], lowest);
    EXPECT_EQ(std::memcmp(lowest->ip, ip, 4), 0);
    ASSERT_TRUE(netns.WaitForLogLine("# set-ip " + mac, 3000));
    std::vector<std::string> frames = FramesAfter(before);
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[0].substr(0, 44), "50 45 00 00 00 01 02 00 " + frames[0].substr(24, 17) + " 0C");
    EXPECT_NE(frames[0].find("0A 4D C8 01 FF FF 00 00 0A 4D 00 01"), std::string::npos) << frames[0];
    EXPECT_EQ(frames[1].substr(0, 23), "50 45 00 00 00 01 01 00");
    EXPECT_EQ(frames[1].size(), 16u * 3 - 1);
}

TEST_F(PeCommandNetnsTest, SetMacGivesASecondRecord)
{
    tagDevice* device = g_peDevices[1];
    const tagDevice old = *device;
    const std::uint8_t newMac[6] = {0x02, 0x4E, 0x56, 0x77, 0x00, 0x01};

    SendPeSetMac(device, newMac);
    // The follow-up search names the old MAC, which no device has any more;
    // the new MAC shows up on the next search for every device.
    ASSERT_TRUE(netns.WaitForLogLine("# set-mac " + MacHex(old.mac), 3000));
    SendPeSearch(kPeEveryDevice);
    PollUntil([] { return g_peDevices.GetSize() == kDevices + 1 && Complete(); });

    ASSERT_EQ(g_peDevices.GetSize(), kDevices + 1);
    ASSERT_GE(FindPeDevice(old.mac), 0);
    EXPECT_EQ(std::memcmp(g_peDevices[FindPeDevice(old.mac)], &old, sizeof old), 0);
    int fresh = FindPeDevice(newMac);
    ASSERT_GE(fresh, 0);
    EXPECT_EQ(std::memcmp(g_peDevices[fresh]->ip, old.ip, 4), 0);
    EXPECT_STREQ(g_peDevices[fresh]->serial, old.serial);
}

TEST_F(PeCommandNetnsTest, ShutDownDeviceNoLongerAnswersAndRestartIsDelivered)
{
    tagDevice* victim = g_peDevices[2];
    std::uint8_t victimMac[6];
    std::memcpy(victimMac, victim->mac, 6);
    SendPeRestart(g_peDevices[0]);
    ASSERT_TRUE(netns.WaitForLogLine("# restart " + MacHex(g_peDevices[0]->mac), 3000));
    SendPeShutdown(victim);
    ASSERT_TRUE(netns.WaitForLogLine("# shutdown " + MacHex(victimMac), 3000));

    ClearPeDevices();
    SendPeSearch(kPeEveryDevice);
    PollUntil([] { return g_peDevices.GetSize() == kDevices - 1 && Complete(); });
    SleepMs(300); // give the silent device every chance to answer anyway
    PollPeReplies(nullptr);
    EXPECT_EQ(g_peDevices.GetSize(), kDevices - 1);
    EXPECT_EQ(FindPeDevice(victimMac), -1);
}

} // namespace
