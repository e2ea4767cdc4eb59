// ui-bench: scale benchmarks of the main window. Everything runs in this one
// process on Qt's offscreen platform: the real TForm1 (with its three
// dialogs), its 100 ms PE and ONVIF timers running in the event loop, its
// buttons clicked as a user would. One line per case, "name key=value ...":
//
//   ui-pe-burst devices=N order=asc|desc found= rows= serials= listed_ms=
//               max_stall_ms= last_datagram_ms= kernel_drops=
//     One PE search answered by N emulated devices (pe-emulator, device-info
//     and serial reply each, paced at 1000 Mbit/s), N = 254, 1024, 4096, each
//     with the list ascending and descending.
//   ui-onvif-burst devices=N found= rows= listed_ms= last_row_ms=
//                  max_stall_ms= last_datagram_ms= kernel_drops= reply_bytes=
//     One ONVIF search answered by N emulated devices (onvif-emulator, all
//     replies sent back to back), N = 100, 1000.
//   ui-memory idle_kib= pe4096_onvif1000_kib= pe_rows= onvif_rows=
//             extra_onvif_searches=
//     VmRSS with the window idle before any search, and after the last bursts
//     with 4096 PE and 1000 ONVIF devices listed (freed memory of the earlier
//     cases that the allocator keeps is part of the second figure). When the
//     1000-device search lost replies, the ONVIF search button is clicked
//     again (up to 20 times, each after the previous worker ended) until all
//     are listed.
//   pe-reply-cost records=N us= serial_us= paint_us= growth= per_doubling=
//   onvif-reply-cost records=N us= paint_us= growth= per_doubling=
//     The cost of one more reply as the table grows (see ReplyCostCases.h),
//     medians of 15 runs; growth is the ratio to the previous size and
//     per_doubling that ratio per doubling of the records: 2 is linear.
//
// How the burst figures are taken:
// - last datagram: the emulator logs "# sent <n> datagrams" right after its
//   last reply; a watcher thread polls the log every 1 ms and notes when the
//   line appears (LogMarkWatcher). last_datagram_ms counts from the click on
//   "搜索" to that moment.
// - listed_ms: from the last datagram to the end of the first timer tick
//   after which the list shows every device (PE: rowCount == N and every
//   serial cell filled; ONVIF: rowCount == N), -1 when it never does. It is
//   checked by a slot connected to the window's timer after the window's own
//   handler. ONVIF also gives last_row_ms, the same up to the last tick that
//   added rows, which is meaningful when some replies were lost.
// - reply_bytes: the mean size of the ONVIF replies, from the emulator's log.
// - max_stall_ms: a 1 ms heartbeat timer in the window's loop (StallMeter);
//   the longest gap between two beats minus the interval, from the click to
//   200 ms after the rows were shown (that tail covers the painting).
// - kernel_drops: the namespace's Udp RcvbufErrors over the case, datagrams
//   the kernel dropped because a receive buffer was full.
// - found: records in the device table at the end of the case.
// The ONVIF worker's trace goes to /dev/null, as with the windowed program
// started without a console.
//
// Usage: ui-bench                 everything; needs root for the namespaces
//                                 (it makes and removes them itself, and no
//                                 traffic leaves them)
//        ui-bench [pe] [onvif] [cost]
//                                 only those groups (ui-memory needs pe and
//                                 onvif); "ui-bench cost" alone runs over the
//                                 host's loopback interface, no root needed
// Exits 0 when every search found every device, 2 when one did not, 1 when
// the harness failed.
#include "Application.h"
#include "BurstCases.h"
#include "COnvifDiscoverThread.h"
#include "EventLoopProbe.h"
#include "Main.h"
#include "NetnsFixture.h"
#include "OnvifDeviceModel.h"
#include "OnvifSearch.h"
#include "Passwordformimp.h"
#include "PeDeviceModel.h"
#include "PeDevices.h"
#include "ProcessFigures.h"
#include "ReplyCostCases.h"
#include "Setipformimp.h"
#include "Setmacformimp.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

const int kPeCounts[] = {254, 1024, 4096};
const int kOnvifCounts[] = {100, 1000};
// Searches at most added to list all 1000 ONVIF devices for the memory figure.
const int kMaxExtraSearches = 20;

// Which groups of cases run.
struct Groups {
    bool pe = false;
    bool onvif = false;
    bool cost = false;
    bool NeedNamespaces() const { return pe || onvif; }
};

bool ParseGroups(int argc, char** argv, Groups& groups)
{
    if (argc == 1) {
        groups.pe = groups.onvif = groups.cost = true;
        return true;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "pe") == 0)
            groups.pe = true;
        else if (std::strcmp(argv[i], "onvif") == 0)
            groups.onvif = true;
        else if (std::strcmp(argv[i], "cost") == 0)
            groups.cost = true;
        else
            return false;
    }
    return true;
}

// 0 when every search found every device, 2 when one did not, 1 when the
// harness failed.
int RunPeBursts(NetnsFixture& netns, StallMeter& stalls)
{
    int status = 0;
    for (int devices : kPeCounts) {
        for (int order : {1, -1}) {
            const int found = RunPeBurst(netns, stalls, devices, order, stdout);
            if (found < 0)
                return 1;
            if (found != devices)
                status = 2;
        }
    }
    return status;
}

int RunOnvifBursts(NetnsFixture& netns, StallMeter& stalls)
{
    int status = 0;
    for (int devices : kOnvifCounts) {
        const int found = RunOnvifBurst(netns, stalls, devices, stdout);
        if (found < 0)
            return 1;
        if (found != devices)
            status = 2;
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    Groups groups;
    if (!ParseGroups(argc, argv, groups)) {
        std::fprintf(stderr, "usage: ui-bench [pe] [onvif] [cost]   (none: all of them and the memory line)\n");
        return 1;
    }
    // Before the application object exists: no display is needed.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);

    // The window opens its PE endpoint when it is built, so the namespace
    // comes first; the ONVIF worker threads are made later from this thread
    // and live there too.
    std::unique_ptr<NetnsFixture> netns;
    if (groups.NeedNamespaces()) {
        netns.reset(new NetnsFixture);
        std::string error;
        if (!netns->Up(error) || !netns->EnterToolNamespace(error)) {
            std::fprintf(stderr, "ui-bench: cannot make the test namespaces: %s\n", error.c_str());
            return 1;
        }
    }

    TApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Netvane"));
    ApplyNetvaneLook(app);
    std::FILE* discard = std::fopen("/dev/null", "w");
    SetOnvifTraceOutput(discard);

    Form1 = new TForm1;
    SetIpForm = new TSetIpForm(Form1);
    SetMacForm = new TSetMacForm(Form1);
    PasswordForm = new TPasswordForm(Form1);
    Form1->show();
    StallMeter stalls;
    // Let start-up settle (first paints, first ticks) before the idle figure.
    RunEventLoopFor(500);
    const long idleKib = ResidentKib();

    int status = 0;
    auto worse = [&status](int result) { status = result == 1 || status == 1 ? 1 : std::max(status, result); };
    if (groups.pe)
        worse(RunPeBursts(*netns, stalls));
    if (groups.onvif && status != 1)
        worse(RunOnvifBursts(*netns, stalls));
    if (groups.pe && groups.onvif && status != 1) {
        // The last bursts left 4096 PE devices listed and up to 1000 ONVIF
        // ones; replies the ONVIF search lost are made up by searching again.
        // The row counts show what was listed in the end.
        const int extraSearches = CompleteOnvifList(*netns, kOnvifCounts[1], kMaxExtraSearches);
        if (extraSearches < 0) {
            status = 1;
        } else {
            std::printf("ui-memory idle_kib=%ld pe4096_onvif1000_kib=%ld pe_rows=%d onvif_rows=%d "
                        "extra_onvif_searches=%d\n",
                        idleKib, ResidentKib(), Form1->peModel->rowCount(), Form1->onvifModel->rowCount(),
                        extraSearches);
            std::fflush(stdout);
        }
    }
    if (groups.cost && status != 1) {
        stalls.Pause();
        if (!RunPeReplyCost(stdout) || !RunOnvifReplyCost(stdout))
            status = 1;
        stalls.Resume();
    }

    if (netns)
        netns->Down();
    delete Form1;
    Form1 = nullptr;
    SetOnvifTraceOutput(nullptr);
    if (discard)
        std::fclose(discard);
    return status;
}
