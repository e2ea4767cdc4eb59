// Fuzz target for the ONVIF reply path. Each input is one datagram that
// answers the worker's Probe: the worker runs its real search against a
// stand-in device on 127.0.0.1, so the bytes go through the same socket,
// SOAP parser and record making as a device's reply would. Empty datagrams
// follow the input: they read as end of input, which ends a reply that the
// input left unfinished and the receive after a complete one, so no run waits
// for the worker's receive time-out (the test's -timeout is below it).
//
// Checked per input: at most one record, whose address is the loopback
// sender; a trace of the shape the worker promises, with the record's texts
// in it and nothing in it that a terminal would act on.

#include "COnvifDiscoverThread.h"
#include "XAutoLock.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

// What the worker returns after a receive that found nothing more to read.
constexpr int kEndOfInput = -1;
// The largest payload of one UDP datagram over IPv4.
constexpr std::size_t kMaxDatagram = 65507;
const char kNamePrefix[] = "onvif://www.onvif.org/name/";

[[noreturn]] void Fail(const char* what, const std::string& detail = std::string())
{
    std::fprintf(stderr, "onvif_reply_fuzz: %s\n%s\n", what, detail.c_str());
    std::abort();
}

// The empty datagrams sent after each reply. One reads as end of input, but
// in some parser states gSOAP reads once more after that end before it gives
// up; spares cost nothing, as the worker's socket drops what it has not read.
constexpr int kEndMarks = 4;

// A device on 127.0.0.1 that answers every Probe with the current reply and
// then kEndMarks empty datagrams. It lives as long as the process: libFuzzer
// ends the process without unwinding, and the serving thread never stops. It
// allocates nothing while serving, so the per-input leak check sees only the
// worker's blocks.
class LoopbackDevice {
public:
    LoopbackDevice()
    {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof local;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
            Fail("cannot open the loopback device socket");
        endpoint = "soap.udp://127.0.0.1:" + std::to_string(ntohs(local.sin_port));
        std::thread(&LoopbackDevice::Serve, this).detach();
    }

    const std::string& Endpoint() const { return endpoint; }

    // The answer to the next Probe (size at most kMaxDatagram). The caller
    // sets it before the worker sends that Probe.
    void SetReply(const uint8_t* data, std::size_t size)
    {
        std::lock_guard<std::mutex> hold(mutex);
        if (size > 0)
            std::memcpy(reply, data, size);
        replySize = size;
    }

private:
    void Serve()
    {
        for (;;) {
            sockaddr_in sender{};
            socklen_t length = sizeof sender;
            ssize_t n = recvfrom(fd, probe, sizeof probe, 0, reinterpret_cast<sockaddr*>(&sender), &length);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                Fail("the loopback device cannot receive");
            }
            const sockaddr* to = reinterpret_cast<const sockaddr*>(&sender);
            std::lock_guard<std::mutex> hold(mutex);
            if (sendto(fd, reply, replySize, 0, to, length) != static_cast<ssize_t>(replySize))
                Fail("the loopback device cannot answer");
            for (int i = 0; i < kEndMarks; ++i)
                if (sendto(fd, "", 0, 0, to, length) != 0)
                    Fail("the loopback device cannot answer");
        }
    }

    int fd = -1;
    std::string endpoint;
    std::mutex mutex;
    char probe[65536];
    char reply[kMaxDatagram];
    std::size_t replySize = 0;
};

LoopbackDevice* g_device = nullptr;

std::string Escaped(const char* text)
{
    std::string out;
    AppendTraceText(out, text);
    return out;
}

// Length of the well-formed UTF-8 sequence at p (RFC 3629: no overlong forms,
// no surrogates, nothing above U+10FFFF) of a character that is neither a C0
// nor a C1 control nor DEL; 0 if there is none.
std::size_t SafeCharacter(const unsigned char* p, std::size_t left)
{
    unsigned char lead = p[0];
    if (lead >= 0x20 && lead < 0x7F)
        return 1;
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        if (lead == 0xC2)
            low = 0xA0; // U+0080 to U+009F are the C1 controls
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (left < length || p[1] < low || p[1] > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    return length;
}

// One trace line as written for device-supplied text: well-formed UTF-8
// without controls.
void CheckSafeLine(const std::string& line, const std::string& trace)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(line.data());
    std::size_t left = line.size();
    while (left > 0) {
        std::size_t n = SafeCharacter(p, left);
        if (n == 0)
            Fail("trace line holds a control character or malformed UTF-8", trace);
        p += n;
        left -= n;
    }
}

// Takes the next line (without its "\n") from trace at pos; fails if none.
std::string NextLine(const std::string& trace, std::size_t& pos)
{
    std::size_t end = trace.find('\n', pos);
    if (end == std::string::npos)
        Fail("trace ends inside a line", trace);
    std::string line = trace.substr(pos, end - pos);
    pos = end + 1;
    return line;
}

// Expects the next line to start with label, checks the rest as safe text
// and returns it.
std::string LabelledLine(const std::string& trace, std::size_t& pos, const char* label)
{
    std::string line = NextLine(trace, pos);
    if (line.compare(0, std::strlen(label), label) != 0)
        Fail("trace line lacks its label", label + ("\n" + trace));
    line.erase(0, std::strlen(label));
    CheckSafeLine(line, trace);
    return line;
}

void CheckRun(int result, const COnvifDevice* record, const std::string& trace)
{
    std::size_t pos = 0;
    if (record) {
        if (std::strcmp(record->ipText.GetText(), "127.0.0.1") != 0)
            Fail("record address is not the reply's sender", record->ipText.GetText());
        const char* name = record->name.GetText();

        if (NextLine(trace, pos) != "=========================================")
            Fail("trace does not open the reply with the separator", trace);
        if (NextLine(trace, pos) != "127.0.0.1\r")
            Fail("trace address line is not the sender", trace);
        if (LabelledLine(trace, pos, "UUID:") != Escaped(record->uuid.GetText()))
            Fail("trace and record disagree on the endpoint", trace);
        LabelledLine(trace, pos, "Type:");
        // Escaping keeps spaces, adds none, and cannot make or break the
        // prefix, so the name can be cut from the escaped scopes as well.
        std::string scopes = LabelledLine(trace, pos, "Scopes:");
        std::size_t prefix = scopes.find(kNamePrefix);
        std::string expected;
        if (prefix != std::string::npos) {
            std::size_t start = prefix + std::strlen(kNamePrefix);
            expected = scopes.substr(start, scopes.find(' ', start) - start);
        }
        if (Escaped(name) != expected)
            Fail("name is not the text after the first name scope prefix", name + ("\n" + trace));
        if (LabelledLine(trace, pos, "Service Address:") != Escaped(record->serviceAddress.GetText()))
            Fail("trace and record disagree on the service address", trace);
        std::string version = LabelledLine(trace, pos, "Metadata Version:");
        if (version.empty() || version.find_first_not_of("0123456789") != std::string::npos)
            Fail("metadata version is not a decimal number", trace);
        // A reply that gave a record is followed by empty datagrams, so
        // the search cannot end on a clean receive.
        if (result == 0)
            Fail("search went on past the end of input", trace);
    }
    if (result == kEndOfInput) {
        std::string error = NextLine(trace, pos);
        if (error.compare(0, 13, "soap error:-1") != 0 || error.find("---") == std::string::npos)
            Fail("error line missing", trace);
        CheckSafeLine(error, trace);
    }
    std::string count = std::string("共发现") + (record ? "1" : "0") + "个设备\n";
    if (trace.compare(pos, std::string::npos, count) != 0)
        Fail("trace does not end with the count of replies, or has more in it", trace);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_device = new LoopbackDevice;
    SetOnvifProbeEndpoint(g_device->Endpoint().c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size > kMaxDatagram)
        return 0;
    g_device->SetReply(data, size);

    char* text = nullptr;
    std::size_t length = 0;
    FILE* trace = open_memstream(&text, &length);
    if (!trace)
        Fail("cannot open the trace stream");
    SetOnvifTraceOutput(trace);

    COnvifDiscoverThread worker;
    int result = worker.Run();
    SetOnvifTraceOutput(nullptr);
    std::fclose(trace);
    std::string written(text, length);
    std::free(text);

    XAutoLock hold(&worker.lock);
    if (worker.devices.GetSize() > 1)
        Fail("one datagram gave more than one record", written);
    CheckRun(result, worker.devices.GetSize() == 1 ? worker.devices[0] : nullptr, written);
    return 0;
}
