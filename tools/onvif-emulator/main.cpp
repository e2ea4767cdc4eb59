// onvif-emulator: plays ONVIF devices for the namespace tests and the demo.
// Each device owns an address on the device-side interface and answers a
// WS-Discovery Probe from it, unicast to the Probe's source. It never sends
// to a group or a broadcast address, and it refuses to run outside a test
// network namespace.

#include "Addresses.h"
#include "Messages.h"
#include "NetnsCheck.h"
#include "Options.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

const int kDiscoveryPort = 3702;
const char kGroup[] = "239.255.255.250";

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int)
{
    g_stop = 1;
}

class LogFile {
public:
    bool Open(const char* path)
    {
        file = path ? std::fopen(path, "w") : stdout;
        return file != nullptr;
    }
    ~LogFile()
    {
        if (file && file != stdout)
            std::fclose(file);
    }
    void Line(const std::string& text)
    {
        std::fputs(text.c_str(), file);
        std::fputc('\n', file);
        std::fflush(file);
    }

private:
    FILE* file = nullptr;
};

bool WriteReadyFile(const char* path)
{
    // Written whole under another name first, so a waiting reader never sees half.
    const std::string temp = std::string(path) + ".tmp";
    FILE* f = std::fopen(temp.c_str(), "w");
    if (!f)
        return false;
    std::fprintf(f, "%d %d\n", static_cast<int>(getpid()), kDiscoveryPort);
    if (std::fclose(f) != 0)
        return false;
    return std::rename(temp.c_str(), path) == 0;
}

double Now()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

void SleepMs(int ms)
{
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
}

// A UDP socket bound to address:port; -1 with error set when it cannot be.
int BoundSocket(in_addr address, std::string& error)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kDiscoveryPort);
    local.sin_addr = address;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        error = "socket on " + IPv4Text(address) + ":" + std::to_string(kDiscoveryPort) + ": " + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return -1;
    }
    return fd;
}

struct Sockets {
    int probes = -1;
    std::vector<int> devices; // one per device, same order
    ~Sockets()
    {
        if (probes >= 0)
            close(probes);
        for (int fd : devices)
            close(fd);
    }
};

// Answers one Probe from every device, to `to` only.
void Answer(const std::vector<OnvifEmuDevice>& devices, const Sockets& sockets, const Options& o,
            const std::string& messageId, const sockaddr_in& to, LogFile& log)
{
    const std::string target = IPv4Text(to.sin_addr) + ":" + std::to_string(ntohs(to.sin_port));
    int replies = 0, sent = 0;
    size_t bytes = 0;
    auto send = [&](int fd, const std::string& data) {
        if (g_stop)
            return;
        if (o.delayMs > 0)
            SleepMs(o.delayMs);
        if (sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
            log.Line("# send failed (" + std::to_string(data.size()) + " bytes): " + std::strerror(errno));
        else {
            ++sent;
            bytes += data.size();
        }
    };
    for (size_t i = 0; i < devices.size(); ++i) {
        for (int answer = 1; answer <= (o.answerTwice ? 2 : 1); ++answer) {
            if (replies == o.garbageAfter) {
                log.Line("# garbage from " + devices[i].address);
                send(sockets.devices[i], GarbageText());
            }
            send(sockets.devices[i], ProbeMatchesText(devices[i], messageId, o.mode, answer));
            ++replies;
        }
    }
    if (replies == o.garbageAfter && !devices.empty()) {
        log.Line("# garbage from " + devices.back().address);
        send(sockets.devices.back(), GarbageText());
    }
    log.Line("# sent " + std::to_string(sent) + " datagrams (" + std::to_string(bytes) + " bytes) to " + target);
}

int Serve(const std::vector<OnvifEmuDevice>& devices, const Sockets& sockets, const Options& o, LogFile& log)
{
    const double deadline = Now() + o.lifetimeS;
    std::vector<char> buffer(65536);
    while (!g_stop) {
        const double left = deadline - Now();
        if (left <= 0) {
            log.Line("# lifetime over");
            break;
        }
        pollfd p = {sockets.probes, POLLIN, 0};
        int ready = poll(&p, 1, left < 0.2 ? static_cast<int>(left * 1000) + 1 : 200);
        if (ready < 0 && errno != EINTR) {
            std::perror("onvif-emulator: poll");
            return 1;
        }
        if (ready <= 0)
            continue;
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        ssize_t n = recvfrom(sockets.probes, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from),
                             &fromSize);
        if (n < 0)
            continue;
        const std::string xml(buffer.data(), static_cast<size_t>(n));
        const std::string source = IPv4Text(from.sin_addr) + ":" + std::to_string(ntohs(from.sin_port));
        log.Line("PROBE " + source + " " + OneLine(xml));
        const std::uint32_t sender = ntohl(from.sin_addr.s_addr);
        const ProbeRequest request = ReadProbe(xml);
        // A source can never be a group or a broadcast; checked anyway, since
        // this program must not send to one.
        if (IN_MULTICAST(sender) || sender == INADDR_BROADCAST || sender == INADDR_ANY || from.sin_port == 0)
            log.Line("# ignored: unusable source " + source);
        else if (!request.isProbe)
            log.Line("# ignored: not a Probe");
        else if (!request.wantsVideo)
            log.Line("# ignored: the Probe does not ask for tdn:NetworkVideoTransmitter");
        else
            Answer(devices, sockets, o, request.messageId, from, log);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    int parsed = ParseOptions(argc, argv, o);
    if (parsed == 1) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (parsed != 0)
        return parsed;
    if (!o.inNetns) {
        std::fprintf(stderr, "onvif-emulator: refusing to run without --i-am-in-a-netns; start it through scripts/netns.sh's namespaces\n");
        return 3;
    }
    const std::string refusal = NetnsRefusal();
    if (!refusal.empty()) {
        std::fprintf(stderr, "onvif-emulator: refusing to run: %s\n", refusal.c_str());
        return 3;
    }

    std::vector<OnvifEmuDevice> devices;
    std::string error;
    if (!MakeDevices(o, devices, error)) {
        std::fprintf(stderr, "onvif-emulator: %s\n", error.c_str());
        return 2;
    }
    LogFile log;
    if (!log.Open(o.log)) {
        std::fprintf(stderr, "onvif-emulator: cannot write %s\n", o.log);
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    const int ifindex = static_cast<int>(if_nametoindex(o.interface.c_str()));
    if (ifindex == 0) {
        std::fprintf(stderr, "onvif-emulator: no interface %s\n", o.interface.c_str());
        return 1;
    }
    InterfaceAddresses addresses;
    Sockets sockets;
    for (const OnvifEmuDevice& d : devices) {
        in_addr address;
        ParseIPv4(d.address, address);
        int fd = -1;
        if (!addresses.Add(ifindex, address, 16, error) || (fd = BoundSocket(address, error)) < 0) {
            std::fprintf(stderr, "onvif-emulator: %s\n", error.c_str());
            return 1;
        }
        sockets.devices.push_back(fd);
    }
    in_addr group;
    ParseIPv4(kGroup, group);
    sockets.probes = BoundSocket(group, error);
    ip_mreqn join{};
    join.imr_multiaddr = group;
    join.imr_ifindex = ifindex;
    if (sockets.probes < 0 || setsockopt(sockets.probes, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0) {
        std::fprintf(stderr, "onvif-emulator: cannot receive %s:%d on %s: %s\n", kGroup, kDiscoveryPort,
                     o.interface.c_str(), sockets.probes < 0 ? error.c_str() : std::strerror(errno));
        return 1;
    }

    log.Line("# ready: " + std::to_string(devices.size()) + " devices from " + devices.front().address +
             ", Probes on " + kGroup + ":" + std::to_string(kDiscoveryPort) + " via " + o.interface);
    for (const OnvifEmuDevice& d : devices)
        log.Line("# device " + std::to_string(d.number) + " " + d.address + " " + d.uuid + " " + OneLine(d.name));
    if (o.readyFile && !WriteReadyFile(o.readyFile)) {
        std::fprintf(stderr, "onvif-emulator: cannot write %s\n", o.readyFile);
        return 1;
    }
    int result = Serve(devices, sockets, o, log);
    log.Line("# stopped");
    return result;
}
