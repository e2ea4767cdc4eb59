#include "OnvifLoopback.h"
#include "OnvifSearch.h"
#include "XAutoLock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>

// Whole searches started with StartOnvifSearch, answered by a fake device on
// 127.0.0.1, merged with MergeOnvifResults as the timer would.
namespace {

template <class Condition>
bool WaitFor(Condition condition)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class OnvifSearchTest : public OnvifLoopbackTest {
protected:
    void TearDown() override
    {
        if (g_discoverThread) {
            // Ends a search still waiting, if it is ours to end.
            device.Answer(kUnreadable);
            g_discoverThread->Join();
            delete g_discoverThread;
            g_discoverThread = nullptr;
        }
        g_onvifDevices.devices.SetSize(0);
        OnvifLoopbackTest::TearDown();
    }

    void AnswerDevice(const char* uuid)
    {
        ASSERT_TRUE(device.Answer(ProbeMatches(ProbeMatch(uuid, "dn:NetworkVideoTransmitter", "", "http://h/"))));
    }
    // Ends the running search at once and waits for its thread.
    void EndSearch()
    {
        ASSERT_TRUE(device.Answer(kUnreadable));
        ASSERT_TRUE(WaitFor([] { return !g_discoverThread->IsRunning(); }));
    }
    int WorkerHolds()
    {
        XAutoLock hold(&g_discoverThread->lock);
        return g_discoverThread->devices.GetSize();
    }
};

std::string MessageId(const std::string& probe)
{
    std::smatch match;
    return std::regex_search(probe, match, std::regex("<wsa:MessageID>([^<]*)</wsa:MessageID>")) ? match[1].str()
                                                                                                : std::string();
}

TEST_F(OnvifSearchTest, RequestWhileRunningIsIgnoredAndAfterTheEndStartsAnew)
{
    StartOnvifSearch();
    COnvifDiscoverThread* first = g_discoverThread;
    ASSERT_NE(first, nullptr);
    std::string probe = AwaitProbe();

    StartOnvifSearch();
    EXPECT_EQ(g_discoverThread, first);
    std::string again;
    EXPECT_FALSE(device.Receive(again, 300)) << "a second Probe went out";

    AnswerDevice("urn:uuid:one");
    int added = 0;
    EXPECT_TRUE(WaitFor([&] { return (added += MergeOnvifResults()) > 0; }));
    EXPECT_EQ(added, 1);
    EndSearch();

    StartOnvifSearch();
    std::string next = AwaitProbe();
    EXPECT_NE(MessageId(next), MessageId(probe));
    EXPECT_TRUE(g_discoverThread->IsRunning());
    EndSearch();
    // Earlier devices stay; the new search found none.
    EXPECT_EQ(MergeOnvifResults(), 0);
    ASSERT_EQ(g_onvifDevices.devices.GetSize(), 1);
    EXPECT_STREQ(g_onvifDevices.devices[0]->uuid.GetText(), "urn:uuid:one");
}

TEST_F(OnvifSearchTest, RecordsOfAFinishedWorkerAreDroppedByTheNextSearch)
{
    StartOnvifSearch();
    AwaitProbe();
    AnswerDevice("urn:uuid:unmerged");
    EndSearch();
    EXPECT_EQ(WorkerHolds(), 1);

    StartOnvifSearch();
    AwaitProbe();
    EXPECT_EQ(WorkerHolds(), 0);
    EndSearch();
    EXPECT_EQ(MergeOnvifResults(), 0);
    EXPECT_EQ(g_onvifDevices.devices.GetSize(), 0);
}

TEST_F(OnvifSearchTest, ClearingDuringASearchKeepsTakingLaterReplies)
{
    StartOnvifSearch();
    AwaitProbe();
    AnswerDevice("urn:uuid:before");
    EXPECT_TRUE(WaitFor([] { return MergeOnvifResults() > 0; }));
    g_onvifDevices.devices.SetSize(0);

    AnswerDevice("urn:uuid:after");
    EXPECT_TRUE(WaitFor([] { return MergeOnvifResults() > 0; }));
    EXPECT_TRUE(g_discoverThread->IsRunning());
    ASSERT_EQ(g_onvifDevices.devices.GetSize(), 1);
    EXPECT_STREQ(g_onvifDevices.devices[0]->uuid.GetText(), "urn:uuid:after");
    EndSearch();
}

} // namespace
