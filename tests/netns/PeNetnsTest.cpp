#include "NetnsFixture.h"
#include "PeClient.h"
#include "PeDevices.h"

#include <ctime>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

namespace {

const int kDevices = 20;
const char kSearchEveryDevice[] = "50 45 00 00 00 01 01 00 FF FF FF FF FF FF 00 FB";

std::uint32_t IpValue(const tagDevice* d)
{
    return (std::uint32_t(d->ip[0]) << 24) | (std::uint32_t(d->ip[1]) << 16) | (std::uint32_t(d->ip[2]) << 8) |
           d->ip[3];
}

std::string Text(const char (&field)[32])
{
    return std::string(field, strnlen(field, sizeof field));
}

void SleepMs(int ms)
{
    struct timespec pause = {0, ms * 1000000L};
    nanosleep(&pause, nullptr);
}

struct SearchCase {
    const char* name;
    int order;
    bool evil;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const SearchCase& c, std::ostream* os)
{
    *os << c.name;
}

class PeNetnsSearchTest : public NetnsTest, public ::testing::WithParamInterface<SearchCase> {
protected:
    std::vector<std::string> EmulatorArguments() const override
    {
        std::vector<std::string> args = {"--count", std::to_string(kDevices)};
        if (GetParam().evil)
            args.push_back("--evil");
        return args;
    }

    void SetUp() override
    {
        NetnsTest::SetUp();
        if (HasFatalFailure())
            return;
        ClearPeDevices();
        g_peSortOrder = GetParam().order;
        // Opened here, inside the tool namespace: a socket of an earlier
        // test in this process belongs to that test's namespace.
        OpenPeSocket();
        ASSERT_NE(g_peSocket.GetHandle(), -1);
    }

    void TearDown() override
    {
        ClearPeDevices();
        NetnsTest::TearDown();
    }

    bool AllSerialsIn() const
    {
        if (g_peDevices.GetSize() < kDevices)
            return false;
        for (int i = 0; i < g_peDevices.GetSize(); ++i)
            if (g_peDevices[i]->serial[0] == '\0')
                return false;
        return true;
    }

    // Polls like the window's timer until every device is complete or 3 s have
    // passed; then, once the emulator has sent everything, a little longer so
    // that anything sent after the last good reply is handled too.
    void PollSearch()
    {
        for (int waited = 0; waited < 3000 && !AllSerialsIn(); waited += 20) {
            PollPeReplies([this] { ++refreshes; });
            SleepMs(20);
        }
        ASSERT_TRUE(netns.WaitForLogLine("# sent ", 3000));
        for (int i = 0; i < 10; ++i) {
            PollPeReplies([this] { ++refreshes; });
            SleepMs(20);
        }
    }

    int refreshes = 0;
};

TEST_P(PeNetnsSearchTest, SearchFillsTableInIpOrder)
{
    SendPeSearch(kPeEveryDevice);
    PollSearch();

    ASSERT_EQ(g_peDevices.GetSize(), kDevices);
    std::set<int> numbers;
    std::set<std::uint32_t> ips;
    for (int i = 0; i < kDevices; ++i) {
        const tagDevice* d = g_peDevices[i];
        SCOPED_TRACE("row " + std::to_string(i));
        ASSERT_EQ(std::memcmp(d->mac, "\x02\x4E\x56\x00", 4), 0);
        const int number = d->mac[4] * 256 + d->mac[5];
        numbers.insert(number);
        ips.insert(IpValue(d));
        char expected[64];
        std::snprintf(expected, sizeof expected, "摄像机-%04d", number);
        EXPECT_EQ(Text(d->name), expected);
        std::snprintf(expected, sizeof expected, "NV%014d", number);
        EXPECT_EQ(Text(d->serial), expected);
        EXPECT_EQ(std::memcmp(d->mask, "\xFF\xFF\x00\x00", 4), 0);
        EXPECT_EQ(std::memcmp(d->gateway, "\x0A\x4D\x00\x01", 4), 0);
        EXPECT_EQ(Text(d->version).compare(0, 5, "V2.1."), 0) << Text(d->version);
        EXPECT_FALSE(Text(d->model).empty());
        if (i > 0) {
            if (GetParam().order > 0)
                EXPECT_LT(IpValue(g_peDevices[i - 1]), IpValue(d));
            else
                EXPECT_GT(IpValue(g_peDevices[i - 1]), IpValue(d));
        }
    }
    // Every device once, with the addresses 10.77.1.1 to 10.77.1.20.
    EXPECT_EQ(numbers.size(), static_cast<size_t>(kDevices));
    EXPECT_EQ(*numbers.begin(), 1);
    EXPECT_EQ(*numbers.rbegin(), kDevices);
    ASSERT_EQ(ips.size(), static_cast<size_t>(kDevices));
    EXPECT_EQ(*ips.begin(), 0x0A4D0101u);
    EXPECT_EQ(*ips.rbegin(), 0x0A4D0100u + kDevices);
    // One redraw per device-info and per serial reply; bad datagrams that
    // decode add theirs.
    if (GetParam().evil)
        EXPECT_GT(refreshes, 2 * kDevices);
    else
        EXPECT_EQ(refreshes, 2 * kDevices);

    EXPECT_EQ(netns.ReceivedFrames(), std::vector<std::string>{kSearchEveryDevice});
}

const SearchCase kSearchCases[] = {
    {"Ascending", +1, false},
    {"Descending", -1, false},
    {"AscendingAmongBadDatagrams", +1, true},
    {"DescendingAmongBadDatagrams", -1, true},
};

INSTANTIATE_TEST_SUITE_P(Directions, PeNetnsSearchTest, ::testing::ValuesIn(kSearchCases),
                         [](const ::testing::TestParamInfo<SearchCase>& info) { return info.param.name; });

} // namespace
