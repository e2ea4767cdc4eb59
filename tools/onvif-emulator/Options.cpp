#include "Options.h"

#include "Addresses.h"
#include "EmulatorRuntime.h"

#include <cstdio>
#include <fstream>

namespace {

const int kMaxDevices = 1000;
const int kMaxDelayMs = 5000;
const int kMaxLifetimeS = 86400;

} // namespace

const char kHelp[] =
    "usage: onvif-emulator --i-am-in-a-netns [options]\n"
    "\n"
    "Plays N ONVIF devices. It puts the addresses <first>, <first>+1, ... (/16)\n"
    "on the device-side interface itself and takes them off when it ends;\n"
    "each device sends from its own address, port 3702. One socket joined to\n"
    "239.255.255.250:3702 on that interface receives the Probes. A Probe whose\n"
    "Types hold NetworkVideoTransmitter with the prefix tdn or a prefix bound\n"
    "to http://www.onvif.org/ver10/network/wsdl gets one ProbeMatches from\n"
    "every device (SOAP 1.2, WS-Discovery 2005/04, WS-Addressing 2004/08,\n"
    "RelatesTo = the Probe's MessageID), unicast to the Probe's source.\n"
    "Only for a namespace made by the test harness (scripts/netns.sh): it\n"
    "refuses to start without --i-am-in-a-netns, in the initial network\n"
    "namespace, or when the namespace holds an interface other than lo and\n"
    "ones named nv*.\n"
    "\n"
    "devices:\n"
    "  --count N           N devices (1-1000, default 1)\n"
    "  --first-address A   address of device 1 (default 10.77.2.1); all must\n"
    "                      lie in 10.77.0.3 to 10.77.255.254\n"
    "  --interface I       device-side interface (default nv-dev)\n"
    "  --names-file F      device n is named by line n of F (UTF-8, taken as\n"
    "                      is; an empty line gives an empty name); devices\n"
    "                      past the end get generated names\n"
    "  --percent20-names   generated names hold \"%20\"\n"
    "                      Device n: uuid urn:uuid:6e766e76-<n, 4 hex>-4000-8000-\n"
    "                      <its address, 12 hex>; generated name \"Camera-NNNN\"\n"
    "                      (even n) or \"摄像机-NNNN\" (odd n), with --percent20-names\n"
    "                      \"Cam%20NNNN\" / \"摄像机%20NNNN\"; Scopes hold\n"
    "                      onvif://www.onvif.org/name/<name> between other scopes\n"
    "                      (odd n) or last (even n); XAddrs\n"
    "                      http://<address>/onvif/device_service; MetadataVersion 1\n"
    "replies:\n"
    "  --soap11            SOAP 1.1 envelope\n"
    "  --answer-twice      each device answers twice; the second reply names\n"
    "                      the device \"<name>-again\", MetadataVersion 2\n"
    "  --three-matches     two more ProbeMatch entries (other uuid, name, host)\n"
    "                      after the device's own, in the same message\n"
    "  --missing W         the ProbeMatch lacks W: types, scopes or xaddrs\n"
    "                      (repeatable)\n"
    "  --empty-matches     a ProbeMatches without any ProbeMatch\n"
    "  --garbage-after K   after the first K replies to a Probe, one datagram\n"
    "                      that is no SOAP message; the other replies follow\n"
    "  --delay-ms D        wait D ms (0-5000) before each datagram sent\n"
    "  --huge              replies of 65000 bytes: Scopes padded, with\n"
    "                      raw control characters, the name scope last, and\n"
    "                      each name 300 \"长\" longer\n"
    "  --lifetime-s S      exit by itself after S seconds (default 600)\n"
    "output:\n"
    "  --log F             log file (default: standard output), flushed per\n"
    "                      line: \"PROBE <source ip:port> <datagram>\" for every\n"
    "                      datagram received (bytes below 0x20, 0x7F and \\\n"
    "                      as \\xHH), \"# device <n> <address> <uuid> <name>\" at\n"
    "                      the start, \"# ...\" notes, and after the replies to a\n"
    "                      Probe \"# sent <n> datagrams (<bytes> bytes) to <source>\"\n"
    "  --ready-file F      written (\"<pid> 3702\") once every socket is ready\n"
    "\n"
    "Exits 0 on SIGTERM or SIGINT, 2 on bad usage, 3 when it refuses to run.\n";

int ParseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto fail = [&](const std::string& why) {
            std::fprintf(stderr, "onvif-emulator: %s (try --help)\n", why.c_str());
            return 2;
        };
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool flag = true;
        if (arg == "--help" || arg == "-h")
            return 1;
        else if (arg == "--i-am-in-a-netns")
            o.inNetns = true;
        else if (arg == "--percent20-names")
            o.percent20 = true;
        else if (arg == "--soap11")
            o.mode.soap11 = true;
        else if (arg == "--answer-twice")
            o.answerTwice = true;
        else if (arg == "--three-matches")
            o.mode.threeMatches = true;
        else if (arg == "--empty-matches")
            o.mode.emptyMatches = true;
        else if (arg == "--huge")
            o.mode.huge = true;
        else
            flag = false;
        if (flag)
            continue;
        if (!value)
            return fail("unknown option or missing value: " + arg);
        ++i;
        if (arg == "--count") {
            if (!ParseInt(value, 1, kMaxDevices, o.count))
                return fail("--count needs 1 to " + std::to_string(kMaxDevices));
        } else if (arg == "--first-address") {
            if (!ParseIPv4(value, o.first))
                return fail("--first-address needs A.B.C.D");
        } else if (arg == "--interface") {
            o.interface = value;
        } else if (arg == "--names-file") {
            o.namesFile = value;
        } else if (arg == "--missing") {
            const std::string what = value;
            if (what == "types")
                o.mode.missingTypes = true;
            else if (what == "scopes")
                o.mode.missingScopes = true;
            else if (what == "xaddrs")
                o.mode.missingXAddrs = true;
            else
                return fail("--missing needs types, scopes or xaddrs");
        } else if (arg == "--garbage-after") {
            if (!ParseInt(value, 0, 2 * kMaxDevices, o.garbageAfter))
                return fail("--garbage-after needs 0 to " + std::to_string(2 * kMaxDevices));
        } else if (arg == "--delay-ms") {
            if (!ParseInt(value, 0, kMaxDelayMs, o.delayMs))
                return fail("--delay-ms needs 0 to " + std::to_string(kMaxDelayMs));
        } else if (arg == "--lifetime-s") {
            if (!ParseInt(value, 1, kMaxLifetimeS, o.lifetimeS))
                return fail("--lifetime-s needs 1 to " + std::to_string(kMaxLifetimeS));
        } else if (arg == "--log") {
            o.log = value;
        } else if (arg == "--ready-file") {
            o.readyFile = value;
        } else {
            return fail("unknown option " + arg);
        }
    }
    const std::uint32_t first = ntohl(o.first.s_addr);
    const std::uint32_t last = first + static_cast<std::uint32_t>(o.count) - 1;
    if (first < 0x0A4D0003u || first > 0x0A4DFFFEu || last > 0x0A4DFFFEu) {
        std::fprintf(stderr, "onvif-emulator: the device addresses must lie in 10.77.0.3 to 10.77.255.254\n");
        return 2;
    }
    return 0;
}

bool MakeDevices(const Options& o, std::vector<OnvifEmuDevice>& devices, std::string& error)
{
    std::vector<std::string> names;
    if (o.namesFile) {
        std::ifstream in(o.namesFile, std::ios::binary);
        if (!in) {
            error = std::string("cannot read ") + o.namesFile;
            return false;
        }
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            names.push_back(line);
        }
    }
    for (int n = 1; n <= o.count; ++n) {
        OnvifEmuDevice d;
        d.number = n;
        in_addr address{htonl(ntohl(o.first.s_addr) + static_cast<std::uint32_t>(n - 1))};
        d.address = IPv4Text(address);
        char uuid[80];
        std::snprintf(uuid, sizeof uuid, "urn:uuid:6e766e76-%04x-4000-8000-%012x", static_cast<unsigned>(n),
                      static_cast<unsigned>(ntohl(address.s_addr)));
        d.uuid = uuid;
        d.name = n <= static_cast<int>(names.size()) ? names[n - 1] : GeneratedName(n, o.percent20);
        if (o.mode.huge)
            for (int k = 0; k < 300; ++k)
                d.name += "长";
        devices.push_back(d);
    }
    return true;
}
