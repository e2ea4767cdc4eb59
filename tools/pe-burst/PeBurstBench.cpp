// Burst benchmark: N emulated devices answer one search at once (device-info
// plus serial reply each, 2N datagrams) while the tool's receive buffer is
// capped at 212992 bytes, the common desktop limit. Polls on a 100 ms tick as
// the window does and prints one line per case:
//   pe-burst devices=4096 found=4096 serials=4096 order=asc rcvbuf=212992 line_mbps=1000 last_record_ms=123
// Runs only inside private network namespaces that it makes and removes.
#include "NetnsFixture.h"
#include "PeClient.h"
#include "PeDevices.h"
#include "ProcessFigures.h"

#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const int kCappedBuffer = 212992;
const auto kTick = std::chrono::milliseconds(100);
const auto kGiveUp = std::chrono::seconds(30);
// The emulated devices' replies reach the tool no faster than a gigabit
// port carries them, as on a real LAN.
const int kLineRateMbps = 1000;

int Serials()
{
    int filled = 0;
    for (int i = 0; i < g_peDevices.GetSize(); ++i)
        filled += g_peDevices[i]->serial[0] != 0;
    return filled;
}

// Caps the endpoint's receive buffer; returns the size the kernel reports.
int CapReceiveBuffer()
{
    int requested = kCappedBuffer / 2; // the kernel doubles what it is given
    setsockopt(g_peSocket.GetHandle(), SOL_SOCKET, SO_RCVBUF, &requested, sizeof requested);
    int actual = 0;
    socklen_t length = sizeof actual;
    getsockopt(g_peSocket.GetHandle(), SOL_SOCKET, SO_RCVBUF, &actual, &length);
    return actual;
}

// One search against `devices` emulated devices; returns false on a harness failure.
bool RunCase(NetnsFixture& netns, int devices, int order, int rcvbuf, int mbps)
{
    std::string error;
    if (!netns.StartEmulator({"--count", std::to_string(devices), "--line-rate-mbps", std::to_string(mbps)}, error)) {
        std::fprintf(stderr, "pe-burst: %s\n", error.c_str());
        return false;
    }
    PollPeReplies(nullptr);
    ClearPeDevices();
    g_peSortOrder = order;

    long dropsBefore = UdpReceiveBufferDrops();
    Clock::time_point start = Clock::now();
    Clock::time_point lastRecord = start;
    Clock::duration longestPoll{};
    SendPeSearch(kPeEveryDevice);
    while (Clock::now() - start < kGiveUp) {
        std::this_thread::sleep_for(kTick);
        int before = g_peDevices.GetSize() + Serials();
        Clock::time_point pollStart = Clock::now();
        PollPeReplies(nullptr);
        longestPoll = std::max(longestPoll, Clock::now() - pollStart);
        if (g_peDevices.GetSize() + Serials() != before)
            lastRecord = Clock::now();
        if (g_peDevices.GetSize() == devices && Serials() == devices)
            break;
    }
    long ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(lastRecord - start).count());
    std::printf("pe-burst devices=%d found=%d serials=%d order=%s rcvbuf=%d line_mbps=%d last_record_ms=%ld "
                "kernel_drops=%ld longest_poll_ms=%ld\n",
                devices, g_peDevices.GetSize(), Serials(), order > 0 ? "asc" : "desc", rcvbuf, mbps, ms,
                UdpReceiveBufferDrops() - dropsBefore,
                static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(longestPoll).count()));
    std::fflush(stdout);
    netns.StopEmulator();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {254, 1024, 4096};

    NetnsFixture netns;
    std::string error;
    if (!netns.Up(error) || !netns.EnterToolNamespace(error)) {
        std::fprintf(stderr, "pe-burst: cannot make the test namespaces: %s\n", error.c_str());
        return 1;
    }
    OpenPeSocket();
    int rcvbuf = CapReceiveBuffer();
    int failures = 0;
    for (int devices : counts) {
        for (int order : {1, -1}) {
            if (!RunCase(netns, devices, order, rcvbuf, kLineRateMbps))
                return 1;
            failures += g_peDevices.GetSize() != devices || Serials() != devices;
        }
    }
    return failures == 0 ? 0 : 2;
}
