// pe-emulator: plays PE devices on UDP port 18220 for the integration tests
// and the namespace demo. It answers only to the source of each request and
// never broadcasts, and it refuses to run outside a test network namespace.

#include "Emulator.h"
#include "EmulatorRuntime.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const int kPePort = 18220;
const int kMaxReplyDelayMs = 5000;
const int kMaxLineRateMbps = 100000;
// Bytes a datagram occupies on an Ethernet wire besides its payload: UDP, IPv4
// and Ethernet headers, frame check sequence, preamble and inter-frame gap.
const int kWireOverhead = 8 + 20 + 18 + 20;

// Holds each datagram back until a wire of the given rate would have carried
// the ones before it: devices on a real LAN answer at once, but their replies
// reach the tool one after another at line rate, never faster.
class LinePacer {
public:
    explicit LinePacer(int mbps) : mbps(mbps) {}
    void Wait(size_t bytes)
    {
        if (mbps <= 0)
            return;
        auto now = std::chrono::steady_clock::now();
        if (next < now)
            next = now;
        while (std::chrono::steady_clock::now() < next) {
        }
        next += std::chrono::nanoseconds((bytes + kWireOverhead) * 8 * 1000 / static_cast<size_t>(mbps));
    }

private:
    int mbps;
    std::chrono::steady_clock::time_point next{};
};
const int kMaxLifetimeS = 86400;

const char kHelp[] =
    "usage: pe-emulator --i-am-in-a-netns (--count N | --file F) [options]\n"
    "\n"
    "Plays PE devices on UDP 0.0.0.0:18220 and answers each request to its\n"
    "source address and port. Only for a network namespace made by the test\n"
    "harness (scripts/netns.sh): it refuses to start without --i-am-in-a-netns,\n"
    "in the initial network namespace, or when the namespace holds an interface\n"
    "other than lo and ones named nv*.\n"
    "\n"
    "devices:\n"
    "  --count N          N generated devices (1-4096): MACs 02 4E 56 00 00 01 up,\n"
    "                     names \"摄像机-0001\" up, serials NV00000000000001 up,\n"
    "                     IPs --base-ip + 0..N-1 in a fixed shuffled order,\n"
    "                     mask 255.255.0.0, gateway x.y.0.1 of that /16\n"
    "  --base-ip A.B.C.D  first generated IP (default 10.77.1.1)\n"
    "  --long-name        device 0 gets a 32-byte name without terminator\n"
    "  --file F           devices from F, one per line:\n"
    "                       MAC;IP;MASK;GATEWAY;NAME;MODEL;VERSION;SERIAL\n"
    "                     e.g. 02:4E:56:00:00:01;10.77.1.1;255.255.0.0;10.77.0.1;摄像机-0001;NVC-2000;V2.1.0;NV01\n"
    "                     MAC: 12 hex digits, ':' or '-' allowed between; texts\n"
    "                     are raw bytes, at most 32 (exactly 32: no terminator),\n"
    "                     with the escapes \\xHH, \\\\ and \\;. Lines starting\n"
    "                     with '#' and blank lines are skipped.\n"
    "behaviour:\n"
    "  --evil             each search also gets bad datagrams (bad magic, bad\n"
    "                     checksum, wrong length byte, 15 bytes, empty, another\n"
    "                     command, another kind, a 107-byte device-info reply, a\n"
    "                     serial reply from an unknown MAC): all of them before\n"
    "                     the first reply and after the last, one between each\n"
    "                     device's device-info and serial reply\n"
    "  --reply-delay-ms D wait D ms (0-5000) before each datagram sent\n"
    "  --line-rate-mbps M send no faster than an Ethernet wire of M Mbit/s\n"
    "                     carries the datagrams (default 0: unpaced)\n"
    "  --lifetime-s S     exit by itself after S seconds (default 600, max 86400)\n"
    "output:\n"
    "  --log F            log file (default: standard output), one line each,\n"
    "                     flushed per line: \"RX <hex bytes>\" for every datagram\n"
    "                     received (upper-case, one space apart), then \"# <what\n"
    "                     was done>\", e.g. \"# search FFFFFFFFFFFF from\n"
    "                     10.77.0.1:40000: 20 answered\", \"# set-ip <MAC>: 1\n"
    "                     changed to ip ...\", \"# set-mac <MAC>: 1 changed to\n"
    "                     <MAC>\", \"# restart <MAC>: 1 restarted\", \"# shutdown\n"
    "                     <MAC>: 1 shut down\", \"# ignored: <why>\"; after the\n"
    "                     replies to a request \"# sent <n> datagrams\"\n"
    "  --ready-file F     written (\"<pid> 18220\") once the socket is bound\n"
    "\n"
    "Exits 0 on SIGTERM or SIGINT, 2 on bad usage, 3 when it refuses to run.\n";

struct Options {
    bool inNetns = false;
    int count = 0;
    const char* file = nullptr;
    std::uint8_t baseIp[4] = {10, 77, 1, 1};
    bool longName = false;
    bool evil = false;
    int replyDelayMs = 0;
    int lineRateMbps = 0;
    int lifetimeS = 600;
    const char* log = nullptr;
    const char* readyFile = nullptr;
};

// Returns 0 and fills options, 1 for --help, 2 after printing a usage error.
int ParseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        auto fail = [&](const std::string& why) {
            std::fprintf(stderr, "pe-emulator: %s (try --help)\n", why.c_str());
            return 2;
        };
        if (arg == "--help" || arg == "-h")
            return 1;
        if (arg == "--i-am-in-a-netns") {
            o.inNetns = true;
        } else if (arg == "--long-name") {
            o.longName = true;
        } else if (arg == "--evil") {
            o.evil = true;
        } else if (!hasValue) {
            return fail("unknown option or missing value: " + arg);
        } else if (arg == "--count") {
            if (!ParseInt(argv[++i], 1, kMaxEmuDevices, o.count))
                return fail("--count needs 1 to " + std::to_string(kMaxEmuDevices));
        } else if (arg == "--file") {
            o.file = argv[++i];
        } else if (arg == "--base-ip") {
            if (!ParseIp(argv[++i], o.baseIp))
                return fail("--base-ip needs A.B.C.D");
        } else if (arg == "--line-rate-mbps") {
            if (!ParseInt(argv[++i], 0, kMaxLineRateMbps, o.lineRateMbps))
                return fail("--line-rate-mbps needs 0 to " + std::to_string(kMaxLineRateMbps));
        } else if (arg == "--reply-delay-ms") {
            if (!ParseInt(argv[++i], 0, kMaxReplyDelayMs, o.replyDelayMs))
                return fail("--reply-delay-ms needs 0 to " + std::to_string(kMaxReplyDelayMs));
        } else if (arg == "--lifetime-s") {
            if (!ParseInt(argv[++i], 1, kMaxLifetimeS, o.lifetimeS))
                return fail("--lifetime-s needs 1 to " + std::to_string(kMaxLifetimeS));
        } else if (arg == "--log") {
            o.log = argv[++i];
        } else if (arg == "--ready-file") {
            o.readyFile = argv[++i];
        } else {
            return fail("unknown option " + arg);
        }
    }
    if ((o.count > 0) == (o.file != nullptr)) {
        std::fprintf(stderr, "pe-emulator: give exactly one of --count and --file (try --help)\n");
        return 2;
    }
    return 0;
}

// Logs one request, lets the emulator handle it and sends its replies back
// to the request's source through fd, paced as the options ask.
void Handle(int fd, Emulator& emulator, const Options& o, const std::uint8_t* data, size_t size,
            const sockaddr_in& from, LogFile& log)
{
    const int n = static_cast<int>(size);
    const std::string source =
        IpText(reinterpret_cast<const std::uint8_t*>(&from.sin_addr)) + ":" + std::to_string(ntohs(from.sin_port));
    log.Line("RX" + std::string(n > 0 ? " " : "") + HexText(data, n));
    std::vector<Datagram> replies;
    log.Line("# " + emulator.Handle(data, n, source, replies));
    size_t sent = 0;
    LinePacer pacer(o.lineRateMbps);
    for (const Datagram& d : replies) {
        if (StopRequested())
            break;
        if (o.replyDelayMs > 0)
            SleepMs(o.replyDelayMs);
        pacer.Wait(d.size());
        if (sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&from), sizeof from) < 0)
            log.Line(std::string("# send failed: ") + std::strerror(errno));
        else
            ++sent;
    }
    // Tells tests that every reply to this request is on its way.
    if (!replies.empty())
        log.Line("# sent " + std::to_string(sent) + " datagrams");
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    const int parsed = ParseOptions(argc, argv, o);
    int exitCode = 0;
    if (!MayStart("pe-emulator", parsed, kHelp, o.inNetns, exitCode))
        return exitCode;

    std::vector<EmuDevice> devices;
    std::string error;
    if (!(o.file ? LoadDevices(o.file, devices, error) : GenerateDevices(o.count, o.baseIp, o.longName, devices, error))) {
        std::fprintf(stderr, "pe-emulator: %s\n", error.c_str());
        return 2;
    }

    LogFile log;
    if (!log.Open(o.log, "pe-emulator"))
        return 1;

    CatchStopSignals();

    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(kPePort);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        std::perror("pe-emulator: socket on 0.0.0.0:18220");
        if (fd >= 0)
            close(fd);
        return 1;
    }
    log.Line("# ready: " + std::to_string(devices.size()) + " devices on 0.0.0.0:18220" + (o.evil ? ", evil" : ""));
    if (o.readyFile && !WriteReadyFile(o.readyFile, kPePort)) {
        std::fprintf(stderr, "pe-emulator: cannot write %s\n", o.readyFile);
        close(fd);
        return 1;
    }

    Emulator emulator(std::move(devices), o.evil);
    int result = ServeDatagrams(fd, o.lifetimeS, "pe-emulator", log,
                                [&](const std::uint8_t* data, size_t size, const sockaddr_in& from) {
                                    Handle(fd, emulator, o, data, size, from, log);
                                });
    close(fd);
    log.Line("# stopped");
    return result;
}
