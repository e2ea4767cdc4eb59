#include "BurstCases.h"

#include "EventLoopProbe.h"
#include "LogMarkWatcher.h"
#include "Main.h"
#include "NetnsFixture.h"
#include "OnvifDeviceModel.h"
#include "OnvifSearch.h"
#include "PeDeviceModel.h"
#include "PeDevices.h"
#include "ProcessFigures.h"

#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

// After the rows are shown, the loop runs on this long so that the painting
// they cause is part of the stall figure.
const int kTailMs = 200;
// A PE case gives up this long after the last datagram went out.
const int kPeGiveUpAfterLastMs = 3000;
const int kCaseLimitMs = 30000;
// The replies reach the tool no faster than a gigabit port carries them, as
// on a real LAN.
const char kLineRateMbps[] = "1000";
// The emulators' line after the last reply to a request.
const char kSentMarker[] = "# sent ";
// The PE list's column "设备序列号".
const int kSerialColumn = 3;

int FilledSerials()
{
    int filled = 0;
    for (int row = 0; row < Form1->peModel->rowCount(); ++row)
        filled += !Form1->peModel->data(Form1->peModel->index(row, kSerialColumn)).toString().isEmpty();
    return filled;
}

// Rows shown as the user sees them: one per device, each with its serial.
bool AllPeRowsShown(int devices)
{
    return g_peDevices.GetSize() == devices && Form1->peModel->rowCount() == devices && FilledSerials() == devices;
}

// Whole ms from the last datagram to the rows being shown; 0 when a tick
// showed them before the watcher saw the log line, -1 when either is missing.
long ListedMs(const LogMarkWatcher& watcher, bool shown, BenchClock::time_point shownAt)
{
    if (!shown || !watcher.Seen())
        return -1;
    return std::max(0L, static_cast<long>(MsBetween(watcher.SeenAt(), shownAt) + 0.5));
}

// Mean size of the datagrams the ONVIF emulator sent, from its line
// "# sent <n> datagrams (<bytes> bytes) to ...", or -1.
long MeanReplyBytes(const LogMarkWatcher& watcher)
{
    long sent = 0;
    long bytes = 0;
    if (std::sscanf(watcher.Line().c_str(), "# sent %ld datagrams (%ld bytes)", &sent, &bytes) != 2 || sent <= 0)
        return -1;
    return bytes / sent;
}

long LastDatagramMs(const LogMarkWatcher& watcher, BenchClock::time_point searchAt)
{
    return watcher.Seen() ? static_cast<long>(MsBetween(searchAt, watcher.SeenAt()) + 0.5) : -1;
}

} // namespace

int RunPeBurst(NetnsFixture& netns, StallMeter& stalls, int devices, int order, std::FILE* out)
{
    std::string error;
    if (!netns.StartEmulator({"--count", std::to_string(devices), "--line-rate-mbps", kLineRateMbps}, error)) {
        std::fprintf(stderr, "ui-bench: pe-emulator: %s\n", error.c_str());
        return -1;
    }
    // A tick takes anything left from an earlier case; then the user's steps:
    // clear, and click the IP header until the order is the wanted one.
    Form1->PageControl1->setCurrentIndex(0);
    RunEventLoopFor(150);
    Form1->peButton_ClearTable->click();
    if ((g_peSortOrder > 0) != (order > 0))
        Form1->peListViewColumnClick(PeDeviceModel::kIpColumn);

    LogMarkWatcher watcher;
    if (!watcher.Start(netns.LogPath(), kSentMarker)) {
        std::fprintf(stderr, "ui-bench: cannot read %s\n", netns.LogPath().c_str());
        return -1;
    }
    bool shown = false;
    BenchClock::time_point shownAt;
    // Connected after the window's own handler, so it runs right after each
    // tick's poll and refresh.
    QMetaObject::Connection hook = QObject::connect(Form1->peTimer, &QTimer::timeout, [&] {
        if (!shown && AllPeRowsShown(devices)) {
            shown = true;
            shownAt = BenchClock::now();
        }
    });
    const long dropsBefore = UdpReceiveBufferDrops();
    stalls.Reset();
    const BenchClock::time_point searchAt = BenchClock::now();
    Form1->peButton_FindDevice->click();
    RunEventLoopUntil(
        [&] {
            return shown ||
                   (watcher.Seen() && MsBetween(watcher.SeenAt(), BenchClock::now()) > kPeGiveUpAfterLastMs);
        },
        kCaseLimitMs);
    if (shown)
        RunEventLoopFor(kTailMs);
    const double maxStallMs = stalls.MaxStallMs();
    QObject::disconnect(hook);
    watcher.Stop();

    std::fprintf(out,
                 "ui-pe-burst devices=%d order=%s found=%d rows=%d serials=%d listed_ms=%ld max_stall_ms=%.0f "
                 "last_datagram_ms=%ld kernel_drops=%ld\n",
                 devices, order > 0 ? "asc" : "desc", g_peDevices.GetSize(), Form1->peModel->rowCount(),
                 FilledSerials(), ListedMs(watcher, shown, shownAt), maxStallMs, LastDatagramMs(watcher, searchAt),
                 UdpReceiveBufferDrops() - dropsBefore);
    std::fflush(out);
    netns.StopEmulator();
    return g_peDevices.GetSize();
}

int RunOnvifBurst(NetnsFixture& netns, StallMeter& stalls, int devices, std::FILE* out)
{
    // A search is ignored while the previous worker still waits for replies
    // (5 s after its last one).
    if (!RunEventLoopUntil([] { return !g_discoverThread || !g_discoverThread->IsRunning(); }, 15000)) {
        std::fprintf(stderr, "ui-bench: the previous ONVIF search did not end\n");
        return -1;
    }
    std::string error;
    if (!netns.StartEmulator({"--count", std::to_string(devices)}, error, NetnsFixture::EmulatorKind::Onvif)) {
        std::fprintf(stderr, "ui-bench: onvif-emulator: %s\n", error.c_str());
        return -1;
    }
    Form1->PageControl1->setCurrentIndex(1); // the user searches from the ONVIF tab
    RunEventLoopFor(150);
    Form1->onvifButton_ClearTable->click();

    LogMarkWatcher watcher;
    if (!watcher.Start(netns.LogPath(), kSentMarker)) {
        std::fprintf(stderr, "ui-bench: cannot read %s\n", netns.LogPath().c_str());
        return -1;
    }
    bool shown = false;
    BenchClock::time_point shownAt;
    // The last tick that added rows, so that the lag shows even when some
    // replies never arrive.
    int rows = 0;
    BenchClock::time_point lastRowAt;
    // Runs right after each tick's merge and refresh.
    QMetaObject::Connection hook = QObject::connect(Form1->onvifTimer, &QTimer::timeout, [&] {
        if (Form1->onvifModel->rowCount() > rows) {
            rows = Form1->onvifModel->rowCount();
            lastRowAt = BenchClock::now();
        }
        if (!shown && g_onvifDevices.devices.GetSize() == devices && rows == devices) {
            shown = true;
            shownAt = BenchClock::now();
        }
    });
    const long dropsBefore = UdpReceiveBufferDrops();
    stalls.Reset();
    const BenchClock::time_point searchAt = BenchClock::now();
    Form1->onvifButton_FindDevice->click();
    // Without every reply the worker ends 5 s after the last one that came.
    RunEventLoopUntil([&] { return shown || (g_discoverThread && !g_discoverThread->IsRunning()); },
                      kCaseLimitMs);
    if (shown)
        RunEventLoopFor(kTailMs);
    else
        RunEventLoopFor(150); // the tick after the worker's end merges its last records
    const double maxStallMs = stalls.MaxStallMs();
    QObject::disconnect(hook);
    watcher.Stop();

    std::fprintf(out,
                 "ui-onvif-burst devices=%d found=%d rows=%d listed_ms=%ld last_row_ms=%ld max_stall_ms=%.0f "
                 "last_datagram_ms=%ld kernel_drops=%ld reply_bytes=%ld\n",
                 devices, g_onvifDevices.devices.GetSize(), Form1->onvifModel->rowCount(),
                 ListedMs(watcher, shown, shownAt), ListedMs(watcher, rows > 0, lastRowAt), maxStallMs,
                 LastDatagramMs(watcher, searchAt),
                 UdpReceiveBufferDrops() - dropsBefore, MeanReplyBytes(watcher));
    std::fflush(out);
    netns.StopEmulator();
    return g_onvifDevices.devices.GetSize();
}

int CompleteOnvifList(NetnsFixture& netns, int devices, int maxSearches)
{
    auto ended = [] { return !g_discoverThread || !g_discoverThread->IsRunning(); };
    auto listed = [devices] { return Form1->onvifModel->rowCount() >= devices; };
    if (listed())
        return 0;
    std::string error;
    if (!netns.StartEmulator({"--count", std::to_string(devices)}, error, NetnsFixture::EmulatorKind::Onvif)) {
        std::fprintf(stderr, "ui-bench: onvif-emulator: %s\n", error.c_str());
        return -1;
    }
    int searches = 0;
    while (!listed() && searches < maxSearches) {
        if (!RunEventLoopUntil(ended, 15000)) {
            std::fprintf(stderr, "ui-bench: the previous ONVIF search did not end\n");
            return -1;
        }
        Form1->onvifButton_FindDevice->click();
        ++searches;
        RunEventLoopUntil([&] { return listed() || ended(); }, kCaseLimitMs);
        RunEventLoopFor(150); // the merge after the worker's last record
    }
    netns.StopEmulator();
    return searches;
}
