#include "NetnsFixture.h"
#include "OnvifChecks.h"
#include "OnvifSearch.h"
#include "XAutoLock.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// Whole ONVIF searches run for real inside the tool namespace: the Probe goes
// out by multicast over the veth, and the emulated devices answer from their
// own addresses in the device namespace.
namespace {

// A device as the emulator announces it in its log: "# device <n> <address> <uuid> <name>".
struct Announced {
    std::string address, uuid, name;
};

const char kSeparator[] = "=========================================";
const char kNamePrefix[] = "onvif://www.onvif.org/name/";

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

class OnvifNetnsTest : public NetnsTest {
protected:
    NetnsFixture::EmulatorKind Emulator() const override { return NetnsFixture::EmulatorKind::Onvif; }

    void SetUp() override
    {
        NetnsTest::SetUp();
        if (HasFatalFailure())
            return;
        trace = std::tmpfile();
        ASSERT_NE(trace, nullptr);
        SetOnvifTraceOutput(trace);
        g_onvifSortOrder = 1;
    }

    void TearDown() override
    {
        if (g_discoverThread) {
            // The worker ends by itself; its object goes only after that.
            WaitForWorker();
            g_discoverThread->Join();
            delete g_discoverThread;
            g_discoverThread = nullptr;
        }
        g_onvifDevices.devices.SetSize(0);
        SetOnvifTraceOutput(nullptr);
        if (trace)
            std::fclose(trace);
        if (!namesFile.empty())
            unlink(namesFile.c_str());
        NetnsTest::TearDown();
    }

    // True once the current worker has ended (at most 30 s).
    bool WaitForWorker()
    {
        for (int waited = 0; waited < 30000; waited += 20) {
            if (!g_discoverThread->IsRunning())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // What the worker found, in arrival order, before the merge takes it.
    std::vector<OnvifRecord> WorkerRecords()
    {
        XAutoLock hold(&g_discoverThread->lock);
        return CopyRecords(g_discoverThread->devices);
    }

    std::vector<Announced> AnnouncedDevices() const
    {
        std::vector<Announced> devices;
        static const std::regex device("^# device ([0-9]+) ([0-9.]+) (\\S+) (.*)$");
        std::smatch m;
        for (const std::string& line : netns.LogLines())
            if (std::regex_match(line, m, device))
                devices.push_back({m[2].str(), m[3].str(), Unescaped(m[4].str())});
        return devices;
    }

    // The datagrams the emulator received: source "ip:port" and text.
    std::vector<std::pair<std::string, std::string>> Probes() const
    {
        std::vector<std::pair<std::string, std::string>> probes;
        for (const std::string& line : netns.LogLines()) {
            if (line.compare(0, 6, "PROBE ") != 0)
                continue;
            const size_t space = line.find(' ', 6);
            probes.emplace_back(line.substr(6, space - 6), Unescaped(line.substr(space + 1)));
        }
        return probes;
    }

    std::string WriteNamesFile(const std::vector<std::string>& names)
    {
        char path[] = "/tmp/nv-onvif-names-XXXXXX";
        int fd = mkstemp(path);
        if (fd < 0)
            return std::string();
        close(fd);
        namesFile = path;
        std::ofstream out(namesFile, std::ios::binary);
        for (const std::string& name : names)
            out << name << "\n";
        return namesFile;
    }

    FILE* trace = nullptr;
    std::string namesFile;
};

// The trace block of one reply, as the worker writes it.
std::string TraceBlock(const OnvifRecord& r, const std::string& types, const std::string& scopes, int version)
{
    return std::string(kSeparator) + "\n" + r.ipText + "\r\nUUID:" + r.uuid + "\nType:" + types + "\nScopes:" +
           scopes + "\nService Address:" + r.serviceAddress + "\nMetadata Version:" + std::to_string(version) + "\n";
}

// ---- A dozen devices, searched twice as the window would. ----

class OnvifNetnsManyTest : public OnvifNetnsTest {
protected:
    static constexpr int kDevices = 12;
    std::vector<std::string> EmulatorArguments() const override { return {"--count", std::to_string(kDevices)}; }

    // One search with the timer's merge every 100 ms until the worker ends,
    // and one merge after that.
    int SearchAndMerge()
    {
        StartOnvifSearch();
        int added = 0;
        while (g_discoverThread->IsRunning()) {
            added += MergeOnvifResults();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return added + MergeOnvifResults();
    }
};

TEST_F(OnvifNetnsManyTest, EveryDeviceFoundFromItsOwnAddressAndKeptOnceOverTwoSearches)
{
    const std::vector<Announced> announced = AnnouncedDevices();
    ASSERT_EQ(announced.size(), static_cast<size_t>(kDevices));

    ASSERT_EQ(SearchAndMerge(), kDevices);

    // One Probe per search, from the tool's address, received on the group.
    auto probes = Probes();
    ASSERT_EQ(probes.size(), 1u);
    EXPECT_EQ(probes[0].first.compare(0, 10, "10.77.0.1:"), 0) << probes[0].first;
    ExpectVideoTransmitterProbe(probes[0].second);

    // Each record names the address its reply came from: device n sends from
    // 10.77.2.n, and its service address (which it builds from that address)
    // agrees. Names are the generated ones, Chinese for odd n.
    std::vector<OnvifRecord> expected;
    for (int n = 1; n <= kDevices; ++n) {
        const Announced& a = announced[n - 1];
        const std::string address = "10.77.2." + std::to_string(n);
        ASSERT_EQ(a.address, address);
        char name[64];
        std::snprintf(name, sizeof name, n % 2 ? "摄像机-%04d" : "Camera-%04d", n);
        EXPECT_EQ(a.name, name);
        expected.push_back({name, address, a.uuid, "http://" + address + "/onvif/device_service"});
    }
    // The table is in text order of the address: 10.77.2.1, .10, .11, .12, .2, ...
    std::sort(expected.begin(), expected.end(),
              [](const OnvifRecord& a, const OnvifRecord& b) { return a.ipText < b.ipText; });
    EXPECT_EQ(CopyRecords(g_onvifDevices.devices), expected);
    EXPECT_EQ(expected[1].ipText, "10.77.2.10");

    // Trace: one block per reply in arrival order (the devices answer in
    // turn), then the time-out and the count.
    std::string expectedTrace;
    for (int n = 1; n <= kDevices; ++n) {
        const Announced& a = announced[n - 1];
        const std::string scopes = n % 2
            ? "onvif://www.onvif.org/type/video_encoder " + std::string(kNamePrefix) + a.name +
                  " onvif://www.onvif.org/location/city/Shenzhen onvif://www.onvif.org/hardware/NVC-2000"
            : "onvif://www.onvif.org/type/video_encoder onvif://www.onvif.org/Profile/Streaming "
              "onvif://www.onvif.org/hardware/NVC-2000 " +
                  std::string(kNamePrefix) + a.name;
        expectedTrace += TraceBlock({a.name, a.address, a.uuid, "http://" + a.address + "/onvif/device_service"},
                                    "tdn:NetworkVideoTransmitter", scopes, 1);
    }
    expectedTrace += "soap error:-1---\n共发现12个设备\n";
    EXPECT_EQ(ReadAll(trace), expectedTrace);

    // A second search: a new message id, every device answers again, and
    // nothing is added since every uuid is known.
    ASSERT_EQ(SearchAndMerge(), 0);
    probes = Probes();
    ASSERT_EQ(probes.size(), 2u);
    ExpectVideoTransmitterProbe(probes[1].second);
    EXPECT_NE(MessageId(probes[0].second), MessageId(probes[1].second));
    EXPECT_EQ(CopyRecords(g_onvifDevices.devices), expected);
    EXPECT_TRUE(netns.WaitForLogLine("# sent 12 datagrams", 0));
    const std::string both = ReadAll(trace);
    EXPECT_EQ(both.substr(both.size() - std::string("共发现12个设备\n").size()), "共发现12个设备\n");
    EXPECT_EQ(both.size(), 2 * expectedTrace.size());
}

// ---- Devices that answer in odd ways: one search each. ----

struct ReplyCase {
    const char* name;
    std::vector<std::string> args;  // besides --count
    int devices;
    std::vector<std::string> names; // lines of a names file; none: generated names
    int answers;                    // replies sent by each device
    int handled;                    // replies that become records (-1: all)
    bool timeout;                   // the search ends waiting in vain (else at a bad datagram)
    bool noTypes, noScopes, noXAddrs;
    std::vector<std::string> recordNames; // expected names per device; none: as announced
    size_t minBytes = 0;                  // least size of each reply the emulator sends
};

void PrintTo(const ReplyCase& c, std::ostream* os)
{
    *os << c.name;
}

// The emulator starts here rather than in the base, with the case's options.
class OnvifNetnsReplyTest : public OnvifNetnsTest, public ::testing::WithParamInterface<ReplyCase> {
protected:
    void SetUp() override
    {
        OnvifNetnsTest::SetUp();
        if (HasFatalFailure())
            return;
        const ReplyCase& c = GetParam();
        std::vector<std::string> args = {"--count", std::to_string(c.devices)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        if (!c.names.empty()) {
            const std::string path = WriteNamesFile(c.names);
            ASSERT_FALSE(path.empty());
            args.insert(args.end(), {"--names-file", path});
        }
        std::string error;
        ASSERT_TRUE(netns.StartEmulator(args, error, NetnsFixture::EmulatorKind::Onvif)) << error;
    }
};

TEST_P(OnvifNetnsReplyTest, RecordsFollowTheReplies)
{
    const ReplyCase& c = GetParam();
    const std::vector<Announced> announced = AnnouncedDevices();
    ASSERT_EQ(announced.size(), static_cast<size_t>(c.devices));

    StartOnvifSearch();
    ASSERT_TRUE(WaitForWorker());
    const std::vector<OnvifRecord> found = WorkerRecords();

    // Every reply in the order sent, up to the first that is no ProbeMatch.
    std::vector<OnvifRecord> expected;
    std::vector<int> versions;
    for (int i = 0; i < c.devices; ++i) {
        const Announced& a = announced[i];
        for (int answer = 1; answer <= c.answers; ++answer) {
            std::string name = c.recordNames.empty() ? a.name : c.recordNames[i];
            if (answer == 2)
                name += "-again";
            expected.push_back({name, a.address, a.uuid,
                                c.noXAddrs ? std::string() : "http://" + a.address + "/onvif/device_service"});
            versions.push_back(answer);
        }
    }
    if (c.handled >= 0) {
        expected.resize(c.handled);
        versions.resize(c.handled);
    }
    EXPECT_EQ(found, expected);

    // The trace: the same replies, and device texts cannot reach the
    // terminal as control characters.
    const std::string text = ReadAll(trace);
    const std::vector<std::string> lines = Lines(text);
    for (size_t i = 0; i < expected.size(); ++i) {
        const size_t first = i * 7;
        ASSERT_LT(first + 6, lines.size()) << text.substr(0, 4000);
        EXPECT_EQ(lines[first], kSeparator);
        EXPECT_EQ(lines[first + 1], expected[i].ipText + "\r");
        EXPECT_EQ(lines[first + 2], "UUID:" + expected[i].uuid);
        EXPECT_EQ(lines[first + 3], c.noTypes ? "Type:" : "Type:tdn:NetworkVideoTransmitter");
        if (c.noScopes)
            EXPECT_EQ(lines[first + 4], "Scopes:");
        else
            EXPECT_NE(lines[first + 4].find(kNamePrefix), std::string::npos) << lines[first + 4].substr(0, 200);
        EXPECT_EQ(lines[first + 5], "Service Address:" + expected[i].serviceAddress);
        EXPECT_EQ(lines[first + 6], "Metadata Version:" + std::to_string(versions[i]));
    }
    const std::string count = "共发现" + std::to_string(expected.size()) + "个设备";
    const std::vector<std::string> tail(lines.begin() + static_cast<long>(std::min(lines.size(), expected.size() * 7)),
                                        lines.end());
    if (c.timeout)
        EXPECT_EQ(tail, (std::vector<std::string>{"soap error:-1---", count}));
    else
        EXPECT_EQ(tail, std::vector<std::string>{count});
    for (unsigned char ch : text)
        if ((ch < 0x20 && ch != '\r' && ch != '\n') || ch == 0x7F)
            ADD_FAILURE() << "raw control character " << int(ch) << " in the trace";

    // The merge keeps the first record of each device.
    std::vector<OnvifRecord> merged;
    for (const OnvifRecord& r : expected) {
        bool known = false;
        for (const OnvifRecord& m : merged)
            known = known || m.uuid == r.uuid;
        if (!known)
            merged.push_back(r);
    }
    std::sort(merged.begin(), merged.end(), [](const OnvifRecord& a, const OnvifRecord& b) { return a.ipText < b.ipText; });
    EXPECT_EQ(MergeOnvifResults(), static_cast<int>(merged.size()));
    EXPECT_EQ(CopyRecords(g_onvifDevices.devices), merged);

    // The emulator did send everything, the replies the worker no longer
    // read included.
    ASSERT_TRUE(netns.WaitForLogLine("# sent ", 5000));
    const bool garbage = std::find(c.args.begin(), c.args.end(), "--garbage-after") != c.args.end();
    const std::regex sentLine("# sent ([0-9]+) datagrams \\(([0-9]+) bytes\\) to 10\\.77\\.0\\.1:[0-9]+");
    int datagrams = -1;
    unsigned long long bytes = 0;
    for (const std::string& line : netns.LogLines()) {
        std::smatch m;
        if (std::regex_match(line, m, sentLine)) {
            datagrams = std::stoi(m[1].str());
            bytes = std::stoull(m[2].str());
        }
    }
    EXPECT_EQ(datagrams, c.devices * c.answers + (garbage ? 1 : 0));
    EXPECT_GE(bytes, c.minBytes * static_cast<size_t>(c.devices * c.answers));
}

const ReplyCase kReplyCases[] = {
    // SOAP 1.1 is read too; "%20" stays as it is.
    {"Soap11PercentNames", {"--soap11", "--percent20-names"}, 4, {}, 1, -1, true, false, false, false,
     {"摄像机%200001", "Cam%200002", "摄像机%200003", "Cam%200004"}},
    // Twice from each device: two records each in the worker, the first kept.
    {"AnswerTwice", {"--answer-twice"}, 3, {}, 2, -1, true, false, false, false, {}},
    // Only the first ProbeMatch of a message counts.
    {"ThreeMatches", {"--three-matches"}, 3, {}, 1, -1, true, false, false, false, {}},
    // A name runs to the first space or the end; an empty one stays empty;
    // escaped XML comes out plain.
    {"NamesFromFile", {}, 6, {"大门%20东侧", "", "", "Lobby Cam", "A&B<C>\"", "后门 摄像机"}, 1, -1, true, false,
     false, false, {"大门%20东侧", "", "", "Lobby", "A&B<C>\"", "后门"}},
    // Absent texts read as empty; no name without Scopes.
    {"MissingScopes", {"--missing", "scopes"}, 2, {}, 1, -1, true, false, true, false, {"", ""}},
    {"MissingTypesAndXAddrs", {"--missing", "types", "--missing", "xaddrs"}, 2, {}, 1, -1, true, true, false, true, {}},
    // Nearly 64 KiB per reply, with control characters in the Scopes.
    {"Huge", {"--huge"}, 2, {}, 1, -1, true, false, false, false, {}, 64000},
    // Each reply 2.6 s after the one before: the second comes more than 5 s
    // after the Probe and still counts.
    {"SlowReplies", {"--delay-ms", "2600"}, 2, {}, 1, -1, true, false, false, false, {}},
    // No ProbeMatch in the message: no record, and the search is over.
    {"EmptyMatches", {"--empty-matches"}, 3, {}, 1, 0, false, false, false, false, {}},
    // An unreadable datagram after two replies ends the search; the three
    // replies behind it are not read.
    {"GarbageAfterTwo", {"--garbage-after", "2", "--delay-ms", "20"}, 5, {}, 1, 2, false, false, false, false, {}},
};

INSTANTIATE_TEST_SUITE_P(Replies, OnvifNetnsReplyTest, ::testing::ValuesIn(kReplyCases),
                         [](const ::testing::TestParamInfo<ReplyCase>& info) { return info.param.name; });

} // namespace
