#include "COnvifDiscoverThread.h"
#include "OnvifChecks.h"
#include "OnvifLoopback.h"
#include "XAutoLock.h"
#include "XException.h"
#include "XMemory.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

// Runs the worker's search against a fake device on 127.0.0.1: the Probe is
// redirected there, and the device answers from there.
namespace {

const char kSeparator[] = "=========================================\n";

class OnvifRunTest : public OnvifLoopbackTest {
protected:
    void TearDown() override
    {
        if (runner.joinable())
            runner.join();
        OnvifLoopbackTest::TearDown();
    }

    // Runs worker's search on a second thread; the test plays the device.
    void StartRun(COnvifDiscoverThread& target)
    {
        runner = std::thread([this, &target] { result = target.Run(); });
    }
    int FinishRun()
    {
        runner.join();
        return result;
    }
    std::vector<OnvifRecord> Records()
    {
        XAutoLock hold(&worker.lock);
        return CopyRecords(worker.devices);
    }

    COnvifDiscoverThread worker;
    std::thread runner;
    int result = 12345;
};

TEST_F(OnvifRunTest, SendsOneSoap12ProbeForVideoTransmitters)
{
    StartRun(worker);
    std::string probe = AwaitProbe();
    ASSERT_TRUE(device.Answer(kUnreadable));
    FinishRun();
    std::string extra;
    EXPECT_FALSE(device.Receive(extra, 200)) << "a second datagram went out: " << extra;

    ExpectVideoTransmitterProbe(probe);
}

TEST_F(OnvifRunTest, EachSearchHasItsOwnMessageId)
{
    StartRun(worker);
    std::string first = AwaitProbe();
    ASSERT_TRUE(device.Answer(kUnreadable));
    FinishRun();

    COnvifDiscoverThread second;
    StartRun(second);
    std::string again = AwaitProbe();
    ASSERT_TRUE(device.Answer(kUnreadable));
    FinishRun();

    EXPECT_EQ(MessageId(first).size(), 36u) << first;
    EXPECT_EQ(MessageId(again).size(), 36u) << again;
    EXPECT_NE(MessageId(first), MessageId(again));
}

TEST_F(OnvifRunTest, EachReplyBecomesOneRecordFromItsFirstMatch)
{
    StartRun(worker);
    AwaitProbe();
    // SOAP 1.2 reply whose service address names another host. The types
    // are read as qualified names, so they come out with this side's prefix.
    ASSERT_TRUE(device.Answer(ProbeMatches(ProbeMatch(
        "urn:uuid:aaaa", "dn:NetworkVideoTransmitter",
        "onvif://www.onvif.org/type/video onvif://www.onvif.org/name/Camera%201 onvif://www.onvif.org/location/x",
        "http://10.9.8.7/onvif/device_service", 3))));
    // SOAP 1.1 reply with three matches: only the first counts. Its name is
    // beyond Latin-1 and must come through byte for byte.
    ASSERT_TRUE(device.Answer(ProbeMatches(
        ProbeMatch("urn:uuid:bbbb", "dn:NetworkVideoTransmitter", "onvif://www.onvif.org/name/前门摄像机",
                   "http://127.0.0.1/a http://127.0.0.1/b", 7) +
            ProbeMatch("urn:uuid:cccc", "x", "onvif://www.onvif.org/name/Third", "http://x/", 1) +
            ProbeMatch("urn:uuid:dddd", "y", "onvif://www.onvif.org/name/Fourth", "http://y/", 1),
        kSoap11Envelope)));
    // Types, Scopes and XAddrs left out.
    ASSERT_TRUE(device.Answer(ProbeMatches(ProbeMatch("urn:uuid:eeee", nullptr, nullptr, nullptr, 0))));
    // The same device again: the worker keeps both, the merge drops one.
    ASSERT_TRUE(device.Answer(ProbeMatches(ProbeMatch("urn:uuid:aaaa", "dn:NetworkVideoTransmitter", "", "http://10.9.8.7/", 4))));
    ASSERT_TRUE(device.Answer(kUnreadable));
    int r = FinishRun();

    EXPECT_GT(r, 0);
    std::vector<OnvifRecord> expected = {
        {"Camera%201", "127.0.0.1", "urn:uuid:aaaa", "http://10.9.8.7/onvif/device_service"},
        {"前门摄像机", "127.0.0.1", "urn:uuid:bbbb", "http://127.0.0.1/a http://127.0.0.1/b"},
        {"", "127.0.0.1", "urn:uuid:eeee", ""},
        {"", "127.0.0.1", "urn:uuid:aaaa", "http://10.9.8.7/"},
    };
    EXPECT_EQ(Records(), expected);
    std::string expectedTrace = std::string(kSeparator) +
        "127.0.0.1\r\nUUID:urn:uuid:aaaa\nType:tdn:NetworkVideoTransmitter\n"
        "Scopes:onvif://www.onvif.org/type/video onvif://www.onvif.org/name/Camera%201 "
        "onvif://www.onvif.org/location/x\n"
        "Service Address:http://10.9.8.7/onvif/device_service\nMetadata Version:3\n" +
        kSeparator +
        "127.0.0.1\r\nUUID:urn:uuid:bbbb\nType:tdn:NetworkVideoTransmitter\n"
        "Scopes:onvif://www.onvif.org/name/前门摄像机\n"
        "Service Address:http://127.0.0.1/a http://127.0.0.1/b\nMetadata Version:7\n" +
        kSeparator +
        "127.0.0.1\r\nUUID:urn:uuid:eeee\nType:\nScopes:\nService Address:\nMetadata Version:0\n" +
        kSeparator +
        "127.0.0.1\r\nUUID:urn:uuid:aaaa\nType:tdn:NetworkVideoTransmitter\nScopes:\nService Address:http://10.9.8.7/\n"
        "Metadata Version:4\n"
        "共发现4个设备\n";
    EXPECT_EQ(ReadAll(trace), expectedTrace);
}

TEST_F(OnvifRunTest, ReplyWithoutMatchesEndsTheSearch)
{
    StartRun(worker);
    AwaitProbe();
    ASSERT_TRUE(device.Answer(ProbeMatches("")));
    // Not read any more: the search is over.
    ASSERT_TRUE(device.Answer(ProbeMatches(ProbeMatch("urn:uuid:late", "t", "", "http://h/"))));
    EXPECT_EQ(FinishRun(), 0);
    EXPECT_TRUE(Records().empty());
    EXPECT_EQ(ReadAll(trace), "共发现0个设备\n");
}

TEST_F(OnvifRunTest, UnreadableDatagramEndsTheSearchEvenIfOthersFollow)
{
    StartRun(worker);
    AwaitProbe();
    ASSERT_TRUE(device.Answer(ProbeMatches(ProbeMatch("urn:uuid:one", "t", "onvif://www.onvif.org/name/A", "u"))));
    ASSERT_TRUE(device.Answer(kUnreadable));
    ASSERT_TRUE(device.Answer(ProbeMatches(ProbeMatch("urn:uuid:two", "t", "", "u"))));
    int r = FinishRun();
    EXPECT_GT(r, 0);
    std::vector<OnvifRecord> expected = {{"A", "127.0.0.1", "urn:uuid:one", "u"}};
    EXPECT_EQ(Records(), expected);
    std::string text = ReadAll(trace);
    EXPECT_EQ(text.find("soap error:"), std::string::npos) << text;
    EXPECT_NE(text.find("UUID:urn:uuid:one\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("urn:uuid:two"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - std::string("共发现1个设备\n").size()), "共发现1个设备\n");
}

TEST_F(OnvifRunTest, OutOfMemoryLeavesRunWithTheLockFree)
{
    bool thrown = false;
    runner = std::thread([this, &thrown] {
        try {
            worker.Run();
        } catch (const XMemoryException&) {
            thrown = true;
        }
    });
    AwaitProbe();
    // The worker now waits for a reply; the next record cannot be made.
    XSetAllocFailAfter(0, 1);
    ASSERT_TRUE(device.Answer(ProbeMatches(ProbeMatch("urn:uuid:x", "dn:NetworkVideoTransmitter", "", "u"))));
    runner.join();
    XSetAllocFailAfter(-1);
    EXPECT_TRUE(thrown);
    // Taking the lock from this thread would hang if the worker still held it.
    EXPECT_TRUE(Records().empty());
}

// Takes the real 5 s receive time-out.
TEST_F(OnvifRunTest, SilenceAfterLastReplyEndsWithTimeoutError)
{
    StartRun(worker);
    AwaitProbe();
    ASSERT_TRUE(device.Answer(ProbeMatches(ProbeMatch("urn:uuid:only", "dn:NetworkVideoTransmitter", "", "http://h/", 2))));
    EXPECT_EQ(FinishRun(), -1);
    std::vector<OnvifRecord> expected = {{"", "127.0.0.1", "urn:uuid:only", "http://h/"}};
    EXPECT_EQ(Records(), expected);
    EXPECT_EQ(ReadAll(trace), std::string(kSeparator) +
                                  "127.0.0.1\r\nUUID:urn:uuid:only\nType:tdn:NetworkVideoTransmitter\nScopes:\nService Address:http://h/\n"
                                  "Metadata Version:2\n"
                                  "soap error:-1---\n"
                                  "共发现1个设备\n");
}

} // namespace
