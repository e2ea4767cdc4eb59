#include "NetnsFixture.h"
#include "TestFiles.h"
#include "OnvifChecks.h"
#include "OnvifSearch.h"
#include "PeClient.h"
#include "PeDevices.h"
#include "XAutoLock.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

// About a minute of searches on both tabs at once, as the window's two timers
// would run them, against devices that answer well mixed with devices that
// send broken or hostile datagrams. Afterwards each table must hold exactly
// the devices that answer well, once each, and nothing must have leaked.
namespace {

// ---- Timing: a fixed number of 100 ms ticks. ----

const int kTickMs = 100;
const int kTicks = 550;               // 55 s of searching
const int kPhaseTwoTick = kTicks / 2; // the empty-matches device joins here
const int kPeSearchEveryTicks = 10;   // a PE search each second

long MonotonicMs()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

void SleepUntilMs(long when)
{
    struct timespec t = {when / 1000, (when % 1000) * 1000000L};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) != 0) {
    }
}

// ---- PE devices: a file for the emulator, and what the table must hold. ----

struct PeDevice {
    std::uint8_t mac[6], ip[4], mask[4], gateway[4];
    std::string name, model, version, serial; // as the table must show them
    std::string line;                          // the emulator's file line
};

std::string Octets(const std::uint8_t* b, int n, const char* separator)
{
    std::string text;
    for (int i = 0; i < n; ++i) {
        char part[8];
        std::snprintf(part, sizeof part, n == 6 ? "%02X" : "%d", b[i]);
        text += (i ? separator : "") + std::string(part);
    }
    return text;
}

const int kPeDevices = 24;

// Addresses in a scrambled order, so that every reply may move rows; texts
// that test the edges of the 32-byte fields and of the file's escapes.
std::vector<PeDevice> MakePeDevices()
{
    std::vector<PeDevice> devices;
    for (int n = 1; n <= kPeDevices; ++n) {
        PeDevice d{};
        const std::uint8_t mac[6] = {0x02, 0x4E, 0x56, 0x5A, 0x00, static_cast<std::uint8_t>(n)};
        const std::uint8_t ip[4] = {10, 77, 1, static_cast<std::uint8_t>(n * 53 % 251 + 1)};
        const std::uint8_t mask[4] = {255, 255, static_cast<std::uint8_t>(n % 2 ? 0 : 255), 0};
        const std::uint8_t gateway[4] = {10, 77, 0, 1};
        std::memcpy(d.mac, mac, 6);
        std::memcpy(d.ip, ip, 4);
        std::memcpy(d.mask, mask, 4);
        std::memcpy(d.gateway, gateway, 4);
        char number[16];
        std::snprintf(number, sizeof number, "%04d", n);
        std::string fileName;
        if (n == 1) {
            d.name = fileName = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"; // 32 bytes, no terminator
        } else if (n == 2) {
            d.name = "a;b\\c";
            fileName = "a\\;b\\\\c";
        } else if (n == 3) {
            d.name = "\x01\x7F\xFF控制";
            fileName = "\\x01\\x7F\\xFF控制";
        } else {
            d.name = fileName = std::string("门禁-") + number;
        }
        d.model = "NVC-" + std::to_string(2000 + n % 3);
        d.version = "V2." + std::to_string(n % 5) + ".0";
        d.serial = std::string("SOAK00000000") + number;
        d.line = Octets(d.mac, 6, ":") + ";" + Octets(d.ip, 4, ".") + ";" + Octets(d.mask, 4, ".") + ";" +
                 Octets(d.gateway, 4, ".") + ";" + fileName + ";" + d.model + ";" + d.version + ";" + d.serial;
        devices.push_back(d);
    }
    return devices;
}

std::string Text(const char (&field)[32])
{
    return std::string(field, strnlen(field, sizeof field));
}

// Empty when g_peDevices holds exactly the expected devices, once each, in
// ascending IP order with all their fields; else what is wrong.
std::string PeTableMismatch(const std::vector<PeDevice>& expected)
{
    std::ostringstream why;
    if (g_peDevices.GetSize() != static_cast<int>(expected.size()))
        why << g_peDevices.GetSize() << " records, not " << expected.size() << "; ";
    std::set<std::string> macs;
    for (int i = 0; i < g_peDevices.GetSize(); ++i) {
        const tagDevice* d = g_peDevices[i];
        const std::string mac = Octets(d->mac, 6, "");
        if (!macs.insert(mac).second)
            why << "MAC " << mac << " twice; ";
        if (i > 0 && ComparePeDeviceIp(g_peDevices[i - 1], d) >= 0)
            why << "row " << i << " out of IP order; ";
        auto match = std::find_if(expected.begin(), expected.end(),
                                  [&](const PeDevice& e) { return std::memcmp(e.mac, d->mac, 6) == 0; });
        if (match == expected.end()) {
            why << "unexpected MAC " << mac << "; ";
            continue;
        }
        if (std::memcmp(d->ip, match->ip, 4) != 0 || std::memcmp(d->mask, match->mask, 4) != 0 ||
            std::memcmp(d->gateway, match->gateway, 4) != 0)
            why << mac << ": addresses " << Octets(d->ip, 4, ".") << " " << Octets(d->mask, 4, ".") << " "
                << Octets(d->gateway, 4, ".") << "; ";
        if (Text(d->name) != match->name || Text(d->model) != match->model || Text(d->version) != match->version ||
            Text(d->serial) != match->serial)
            why << mac << ": texts " << Text(d->name) << "|" << Text(d->model) << "|" << Text(d->version) << "|"
                << Text(d->serial) << "; ";
    }
    return why.str();
}

// ---- ONVIF devices: several emulators, one mode each. ----

// One ONVIF emulator of the mix and what its devices must leave in the table.
struct OnvifGroup {
    const char* what;
    std::vector<std::string> args;
    int found;         // its first `found` devices end up in the table
    bool keepsName;    // else the record's name is empty (no Scopes)
    bool keepsAddress; // else serviceAddress is empty (no XAddrs)
};

// Every Probe is answered by all groups at once; the delays put the replies
// of one search in a fixed order, at least 0.6 s apart where order matters:
//   0 s    plain, answer-twice and incomplete devices
//   0.3 s  huge reply 1, 0.6 s huge reply 2
//   1.3 s  first late device
//   2.0 s  (second half only) a ProbeMatches without any match: the search
//          ends here
//   2.6 s  unreadable datagram: in the first half the search ends here
//   3.9 s  second late device: never read, the search is over by then
// Each search thus reads the same 13 replies and ends at a bad datagram.
const OnvifGroup kOnvifGroups[] = {
    {"plain", {"--count", "4", "--first-address", "10.77.2.1"}, 4, true, true},
    {"answer-twice", {"--count", "2", "--first-address", "10.77.3.1", "--answer-twice"}, 2, true, true},
    {"huge", {"--count", "2", "--first-address", "10.77.4.1", "--huge", "--delay-ms", "300"}, 2, true, true},
    {"missing", {"--count", "2", "--first-address", "10.77.5.1", "--missing", "scopes", "--missing", "xaddrs"}, 2,
     false, false},
    {"garbage", {"--count", "2", "--first-address", "10.77.6.1", "--garbage-after", "1", "--delay-ms", "1300"}, 1,
     true, true},
};
const OnvifGroup kEmptyMatchesGroup = {
    "empty-matches", {"--count", "1", "--first-address", "10.77.7.1", "--empty-matches", "--delay-ms", "2000"}, 0,
    true, true};
const int kRepliesPerSearch = 4 + 2 * 2 + 2 + 2 + 1;

class SoakNetnsTest : public NetnsTest {
protected:
    std::vector<std::string> EmulatorArguments() const override { return {"--file", peFile, "--evil"}; }

    void SetUp() override
    {
        peDevices = MakePeDevices();
        char path[] = "/tmp/nv-soak-pe-XXXXXX";
        int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        close(fd);
        peFile = path;
        {
            std::ofstream out(peFile, std::ios::binary);
            out << "# the soak test's PE devices\n";
            for (const PeDevice& d : peDevices)
                out << d.line << "\n";
        }
        NetnsTest::SetUp();
        if (HasFatalFailure())
            return;
        for (const OnvifGroup& group : kOnvifGroups) {
            std::string error;
            const int number = netns.StartExtraEmulator(group.args, error, NetnsFixture::EmulatorKind::Onvif);
            ASSERT_GE(number, 0) << group.what << ": " << error;
            onvifEmulators.push_back(number);
        }
        trace = std::tmpfile();
        ASSERT_NE(trace, nullptr);
        SetOnvifTraceOutput(trace);
        g_onvifSortOrder = 1;
        g_peSortOrder = 1;
        ClearPeDevices();
        // Opened here, inside the tool namespace.
        OpenPeSocket();
        ASSERT_NE(g_peSocket.GetHandle(), -1);
    }

    void TearDown() override
    {
        // Leaves nothing that LeakSanitizer could take for a leak: the last
        // worker is joined and deleted, both tables emptied.
        if (g_discoverThread) {
            for (long end = MonotonicMs() + 30000; g_discoverThread->IsRunning() && MonotonicMs() < end;)
                SleepUntilMs(MonotonicMs() + 20);
            g_discoverThread->Join();
            delete g_discoverThread;
            g_discoverThread = nullptr;
        }
        g_onvifDevices.devices.SetSize(0);
        ClearPeDevices();
        SetOnvifTraceOutput(nullptr);
        if (trace)
            std::fclose(trace);
        if (!peFile.empty())
            unlink(peFile.c_str());
        NetnsTest::TearDown();
    }

    // What the ONVIF table must hold: every group's found devices, from the
    // announcements in its log, in ascending IP-text order.
    std::vector<OnvifRecord> ExpectedOnvif()
    {
        std::vector<OnvifRecord> expected;
        static const std::regex device("^# device ([0-9]+) ([0-9.]+) (\\S+) (.*)$");
        for (size_t g = 0; g < onvifEmulators.size(); ++g) {
            const OnvifGroup& group = kOnvifGroups[g];
            int taken = 0;
            for (const std::string& line : netns.ExtraLogLines(onvifEmulators[g])) {
                std::smatch m;
                if (taken == group.found || !std::regex_match(line, m, device))
                    continue;
                const std::string address = m[2].str();
                expected.push_back({group.keepsName ? Unescaped(m[4].str()) : std::string(), address, m[3].str(),
                                    group.keepsAddress ? "http://" + address + "/onvif/device_service"
                                                       : std::string()});
                ++taken;
            }
        }
        std::sort(expected.begin(), expected.end(),
                  [](const OnvifRecord& a, const OnvifRecord& b) { return a.ipText < b.ipText; });
        return expected;
    }

    // True when every ONVIF emulator has answered every Probe it received,
    // so that no late reply of the last search is still on its way.
    bool OnvifEmulatorsIdle() const
    {
        for (int number : onvifEmulators) {
            const std::vector<std::string> lines = netns.ExtraLogLines(number);
            if (CountPrefixed(lines, "PROBE ") != CountPrefixed(lines, "# sent "))
                return false;
        }
        return true;
    }

    std::vector<PeDevice> peDevices;
    std::string peFile;
    std::vector<int> onvifEmulators; // fixture numbers, kOnvifGroups order, then the empty-matches one
    FILE* trace = nullptr;
};

TEST_F(SoakNetnsTest, TablesHoldExactlyTheWellBehavedDevicesAfterAMinuteOfSearches)
{
    const std::vector<OnvifRecord> expectedOnvif = ExpectedOnvif();
    ASSERT_EQ(expectedOnvif.size(), 11u);

    int peSearches = 0, onvifSearches = 0, onvifSearchesInPhaseTwo = 0, ignoredClicks = 0, onvifSearchTick = 0;
    std::string firstPeMismatch, firstOnvifMismatch;
    const long start = MonotonicMs();
    for (int tick = 0; tick < kTicks; ++tick) {
        SleepUntilMs(start + static_cast<long>(tick) * kTickMs);

        // PE timer and button: every reply to the previous search has long
        // been handled when the next one goes out.
        PollPeReplies([] {});
        if (tick % kPeSearchEveryTicks == 0) {
            if (peSearches > 0 && firstPeMismatch.empty()) {
                const std::string why = PeTableMismatch(peDevices);
                if (!why.empty())
                    firstPeMismatch = "before PE search " + std::to_string(peSearches + 1) + ": " + why;
            }
            SendPeSearch(kPeEveryDevice);
            ++peSearches;
        }

        // ONVIF timer and button.
        MergeOnvifResults();
        if (tick == kPhaseTwoTick) {
            std::string error;
            const int number =
                netns.StartExtraEmulator(kEmptyMatchesGroup.args, error, NetnsFixture::EmulatorKind::Onvif);
            ASSERT_GE(number, 0) << kEmptyMatchesGroup.what << ": " << error;
            onvifEmulators.push_back(number);
        }
        if (g_discoverThread && g_discoverThread->IsRunning()) {
            // A click while the worker searches is ignored. Only in the
            // search's first second, long before its earliest end (2 s), so
            // that the click cannot catch the worker just as it ends.
            if (tick - onvifSearchTick < 10) {
                COnvifDiscoverThread* const running = g_discoverThread;
                StartOnvifSearch();
                EXPECT_EQ(g_discoverThread, running) << "a click during the search started another";
                ++ignoredClicks;
            }
        } else if (OnvifEmulatorsIdle()) {
            MergeOnvifResults();
            if (g_discoverThread && firstOnvifMismatch.empty()) {
                const std::vector<OnvifRecord> table = CopyRecords(g_onvifDevices.devices);
                if (table != expectedOnvif)
                    firstOnvifMismatch = "after ONVIF search " + std::to_string(onvifSearches) + ": " +
                                         ::testing::PrintToString(table);
            }
            StartOnvifSearch();
            onvifSearchTick = tick;
            ++onvifSearches;
            if (tick >= kPhaseTwoTick)
                ++onvifSearchesInPhaseTwo;
        }
    }

    // The last searches run out, bounded.
    for (const long end = MonotonicMs() + 10000; g_discoverThread->IsRunning() && MonotonicMs() < end;)
        SleepUntilMs(MonotonicMs() + kTickMs);
    ASSERT_FALSE(g_discoverThread->IsRunning());
    MergeOnvifResults();
    for (int i = 0; i < 10; ++i) {
        PollPeReplies([] {});
        SleepUntilMs(MonotonicMs() + kTickMs);
    }

    std::printf("soak: %d PE searches, %d ONVIF searches (%d with the empty-matches device), %d ignored clicks\n",
                peSearches, onvifSearches, onvifSearchesInPhaseTwo, ignoredClicks);
    EXPECT_EQ(firstPeMismatch, "");
    EXPECT_EQ(firstOnvifMismatch, "");
    EXPECT_EQ(PeTableMismatch(peDevices), "");
    EXPECT_EQ(CopyRecords(g_onvifDevices.devices), expectedOnvif);
    std::set<std::string> uuids;
    for (int i = 0; i < g_onvifDevices.devices.GetSize(); ++i)
        EXPECT_TRUE(uuids.insert(g_onvifDevices.devices[i]->uuid.GetText()).second)
            << g_onvifDevices.devices[i]->uuid.GetText();

    // Both halves really ran several searches, and each ONVIF search read
    // the same replies and ended at a bad datagram, never by waiting.
    EXPECT_GE(peSearches, kTicks / kPeSearchEveryTicks);
    EXPECT_GE(onvifSearches - onvifSearchesInPhaseTwo, 2);
    EXPECT_GE(onvifSearchesInPhaseTwo, 2);
    EXPECT_GT(ignoredClicks, 0);
    const std::string text = ReadAll(trace);
    const std::string ended = "共发现" + std::to_string(kRepliesPerSearch) + "个设备\n";
    int endings = 0;
    for (size_t at = text.find(ended); at != std::string::npos; at = text.find(ended, at + 1))
        ++endings;
    EXPECT_EQ(endings, onvifSearches);
    EXPECT_EQ(text.find("soap error:"), std::string::npos);
    // Every search reached every emulator; the empty-matches one joined late.
    for (size_t g = 0; g < onvifEmulators.size(); ++g) {
        const int probes = CountPrefixed(netns.ExtraLogLines(onvifEmulators[g]), "PROBE ");
        if (g < sizeof kOnvifGroups / sizeof kOnvifGroups[0])
            EXPECT_EQ(probes, onvifSearches) << kOnvifGroups[g].what;
        else
            EXPECT_EQ(probes, onvifSearchesInPhaseTwo) << kEmptyMatchesGroup.what;
    }
    EXPECT_EQ(CountPrefixed(netns.LogLines(), "RX 50 45 00 00 00 01 01 00 FF FF FF FF FF FF 00 FB"), peSearches);
}

} // namespace
