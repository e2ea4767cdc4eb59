#include "COnvifDiscoverThread.h"

#include "XAutoLock.h"
#include "soapH.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <memory>
#include <random>

namespace {

const char kMulticastEndpoint[] = "soap.udp://239.255.255.250:3702";
const char kNamePrefix[] = "onvif://www.onvif.org/name/";
const char kDiscoveryTo[] = "urn:schemas-xmlsoap-org:ws:2005:04:discovery";
const char kProbeAction[] = "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe";
const char kProbeTypes[] = "tdn:NetworkVideoTransmitter";
const int kReplyBufferBytes = 4 * 1024 * 1024;

std::string g_probeEndpoint = kMulticastEndpoint;
FILE* g_traceOutput = nullptr;

// Releases everything the context allocated, closes its socket and frees it,
// also when an exception leaves Run.
struct ContextGuard {
    soap* context;
    ~ContextGuard()
    {
        soap_destroy(context);
        soap_end(context);
        soap_free(context);
    }
};

// The IPv4 source address of the last datagram, host order. A receive leaves
// it in the peer record (the context's ip field is not set for UDP).
std::uint32_t PeerAddress(const soap* context)
{
    if (context->peer.addr.sa_family == AF_INET)
        return ntohl(context->peer.in.sin_addr.s_addr);
    if (context->peer.addr.sa_family == AF_INET6) {
        const sockaddr_in6* in6 = reinterpret_cast<const sockaddr_in6*>(&context->peer.storage);
        if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) {
            const unsigned char* b = in6->sin6_addr.s6_addr;
            return (std::uint32_t(b[12]) << 24) | (std::uint32_t(b[13]) << 16) |
                   (std::uint32_t(b[14]) << 8) | std::uint32_t(b[15]);
        }
    }
    return context->ip;
}

void WriteTrace(const std::string& text)
{
    FILE* output = g_traceOutput ? g_traceOutput : stdout;
    std::fwrite(text.data(), 1, text.size(), output);
    std::fflush(output);
}

// Length of the valid UTF-8 sequence of a printable character at text, or 0.
int PrintableSequence(const unsigned char* text)
{
    unsigned char lead = text[0];
    int length;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    else
        return 0;
    for (int i = 1; i < length; ++i)
        if ((text[i] & 0xC0) != 0x80)
            return 0;
    // Overlong forms, surrogates and values past U+10FFFF are no UTF-8.
    if ((lead == 0xE0 && text[1] < 0xA0) || (lead == 0xED && text[1] > 0x9F) ||
        (lead == 0xF0 && text[1] < 0x90) || (lead == 0xF4 && text[1] > 0x8F))
        return 0;
    // C1 controls (U+0080 to U+009F) act on some terminals too.
    if (lead == 0xC2 && text[1] < 0xA0)
        return 0;
    return length;
}

} // namespace

COnvifDiscoverThread::COnvifDiscoverThread() = default;

COnvifDiscoverThread::~COnvifDiscoverThread() = default;

void SetOnvifProbeEndpoint(const char* endpoint)
{
    g_probeEndpoint = endpoint ? endpoint : kMulticastEndpoint;
}

void SetOnvifTraceOutput(FILE* output)
{
    g_traceOutput = output;
}

void OnvifNameFromScopes(const char* scopes, XString& name)
{
    name.Assign(nullptr);
    const char* found = scopes ? std::strstr(scopes, kNamePrefix) : nullptr;
    if (!found)
        return;
    const char* value = found + sizeof kNamePrefix - 1;
    const char* end = std::strchr(value, ' ');
    XString taken(value, end ? static_cast<int>(end - value) : static_cast<int>(std::strlen(value)));
    name.Assign(taken.GetText());
}

void AppendTraceText(std::string& trace, const char* text)
{
    if (!text)
        return;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        if (*p >= 0x20 && *p < 0x7F) {
            trace += static_cast<char>(*p++);
            continue;
        }
        int length = *p >= 0x80 ? PrintableSequence(p) : 0;
        if (length > 0) {
            trace.append(reinterpret_cast<const char*>(p), length);
            p += length;
            continue;
        }
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", *p++);
        trace += escaped;
    }
}

COnvifDevice* MakeOnvifRecord(const wsdd__ProbeMatchesType* matches, std::uint32_t source,
                              std::string& trace)
{
    if (!matches || matches->__sizeProbeMatch < 1 || !matches->ProbeMatch)
        return nullptr;
    const wsdd__ProbeMatchType& match = matches->ProbeMatch[0];
    const char* address = match.wsa__EndpointReference.Address;
    const char* scopes = match.Scopes ? match.Scopes->__item : nullptr;

    std::unique_ptr<COnvifDevice> record(new COnvifDevice);
    record->ipText.Format("%d.%d.%d.%d", int(source >> 24), int((source >> 16) & 0xFF),
                          int((source >> 8) & 0xFF), int(source & 0xFF));
    record->uuid.Assign(address);
    record->serviceAddress.Assign(match.XAddrs);
    OnvifNameFromScopes(scopes, record->name);

    std::string lines = "=========================================\n";
    lines += record->ipText.GetText();
    lines += "\r\nUUID:";
    AppendTraceText(lines, address);
    lines += "\nType:";
    AppendTraceText(lines, match.Types);
    lines += "\nScopes:";
    AppendTraceText(lines, scopes);
    lines += "\nService Address:";
    AppendTraceText(lines, match.XAddrs);
    lines += "\nMetadata Version:";
    lines += std::to_string(match.MetadataVersion);
    lines += "\n";
    trace += lines;
    return record.release();
}

void MakeOnvifMessageId(char (&id)[37])
{
    std::random_device source;
    unsigned char bytes[16];
    for (int i = 0; i < 16; i += 4) {
        std::uint32_t word = source();
        for (int j = 0; j < 4; ++j)
            bytes[i + j] = static_cast<unsigned char>(word >> (8 * j));
    }
    // Mark it as a random (version 4, RFC 4122 variant) identifier.
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    std::snprintf(id, sizeof id,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7],
                  bytes[8], bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14],
                  bytes[15]);
}

int COnvifDiscoverThread::Run()
{
    char messageId[37];
    MakeOnvifMessageId(messageId);
    const std::string endpoint = g_probeEndpoint;

    // Texts stay UTF-8 as received: in the default mode gSOAP squeezes each
    // character into one byte, which garbles every name beyond Latin-1.
    soap* context = soap_new1(SOAP_C_UTFSTRING);
    if (!context)
        return -1;
    ContextGuard guard{context};
    soap_set_namespaces(context, namespaces);
    context->recv_timeout = 5;
    // Every device answers the multicast at once: room for a large site's
    // replies while they wait to be parsed (the kernel caps the size).
    context->rcvbuf = kReplyBufferBytes;

    SOAP_ENV__Header header;
    wsdd__ScopesType scopes;
    wsdd__ProbeType probe;
    soap_default_SOAP_ENV__Header(context, &header);
    soap_default_wsdd__ScopesType(context, &scopes);
    soap_default_wsdd__ProbeType(context, &probe);
    // The bindings take non-const texts but only read them while sending.
    header.wsa__MessageID = messageId;
    header.wsa__To = const_cast<char*>(kDiscoveryTo);
    header.wsa__Action = const_cast<char*>(kProbeAction);
    context->header = &header;
    scopes.__item = const_cast<char*>("");
    probe.Types = const_cast<char*>(kProbeTypes);
    probe.Scopes = &scopes;

    int replies = 0;
    int r = soap_send___wsdd__Probe(context, endpoint.c_str(), nullptr, &probe);
    while (r == 0) {
        __wsdd__ProbeMatches holder;
        r = soap_recv___wsdd__ProbeMatches(context, &holder);
        std::string trace;
        std::unique_ptr<COnvifDevice> record(
            MakeOnvifRecord(holder.wsdd__ProbeMatches, PeerAddress(context), trace));
        // Anything but a ProbeMatches with an entry ends the search.
        if (!record)
            break;
        WriteTrace(trace);
        ++replies;
        XAutoLock hold(&lock);
        devices.SetSize(devices.GetSize() + 1);
        devices[devices.GetSize() - 1] = record.release();
    }

    std::string end;
    if (r == SOAP_EOF) {
        const char** code = soap_faultcode(context);
        const char** text = soap_faultstring(context);
        end = "soap error:" + std::to_string(r);
        AppendTraceText(end, code ? *code : nullptr);
        end += "---";
        AppendTraceText(end, text ? *text : nullptr);
        end += "\n";
    }
    end += "共发现" + std::to_string(replies) + "个设备\n";
    WriteTrace(end);
    return r;
}
