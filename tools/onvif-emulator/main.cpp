// onvif-emulator: plays ONVIF devices for the namespace tests and the demo.
// Each device owns an address on the device-side interface and answers a
// WS-Discovery Probe from it, unicast to the Probe's source. It never sends
// to a group or a broadcast address, and it refuses to run outside a test
// network namespace.

#include "Addresses.h"
#include "EmulatorRuntime.h"
#include "Messages.h"
#include "Options.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int kDiscoveryPort = 3702;
const char kGroup[] = "239.255.255.250";

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
        if (StopRequested())
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

// Logs one datagram that came to the group socket and answers it when it is
// a Probe for video transmitters from a usable source.
void Handle(const std::vector<OnvifEmuDevice>& devices, const Sockets& sockets, const Options& o,
            const std::uint8_t* data, size_t size, const sockaddr_in& from, LogFile& log)
{
    const std::string xml(reinterpret_cast<const char*>(data), size);
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

} // namespace

int main(int argc, char** argv)
{
    Options o;
    const int parsed = ParseOptions(argc, argv, o);
    int exitCode = 0;
    if (!MayStart("onvif-emulator", parsed, kHelp, o.inNetns, exitCode))
        return exitCode;

    std::vector<OnvifEmuDevice> devices;
    std::string error;
    if (!MakeDevices(o, devices, error)) {
        std::fprintf(stderr, "onvif-emulator: %s\n", error.c_str());
        return 2;
    }
    LogFile log;
    if (!log.Open(o.log, "onvif-emulator"))
        return 1;
    CatchStopSignals();

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
    if (o.readyFile && !WriteReadyFile(o.readyFile, kDiscoveryPort)) {
        std::fprintf(stderr, "onvif-emulator: cannot write %s\n", o.readyFile);
        return 1;
    }
    int result = ServeDatagrams(sockets.probes, o.lifetimeS, "onvif-emulator", log,
                                [&](const std::uint8_t* data, size_t size, const sockaddr_in& from) {
                                    Handle(devices, sockets, o, data, size, from, log);
                                });
    log.Line("# stopped");
    return result;
}
