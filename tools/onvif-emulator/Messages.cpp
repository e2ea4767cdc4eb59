#include "Messages.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <sstream>

namespace {

const char kSoap12[] = "http://www.w3.org/2003/05/soap-envelope";
const char kSoap11[] = "http://schemas.xmlsoap.org/soap/envelope/";
const char kAddressing[] = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
const char kDiscovery[] = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
const char kOnvifNetwork[] = "http://www.onvif.org/ver10/network/wsdl";
const char kNameScope[] = "onvif://www.onvif.org/name/";
// Near the largest UDP payload over IPv4 (65507), with room for the rest.
const size_t kHugeSize = 65000;

std::string XmlEscaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string FreshUrn()
{
    static unsigned sequence = 0;
    ++sequence;
    char text[64];
    std::snprintf(text, sizeof text, "urn:uuid:%08x-%04x-4000-8000-%012x", static_cast<unsigned>(getpid()),
                  (sequence >> 16) & 0xFFFF, sequence);
    return text;
}

// Odd devices carry the name scope between others (so it ends at a space),
// even ones at the very end of the text.
std::string ScopesText(const OnvifEmuDevice& device, const std::string& name)
{
    const std::string nameScope = kNameScope + name;
    if (device.number % 2 == 1)
        return "onvif://www.onvif.org/type/video_encoder " + nameScope +
               " onvif://www.onvif.org/location/city/Shenzhen onvif://www.onvif.org/hardware/NVC-2000";
    return "onvif://www.onvif.org/type/video_encoder onvif://www.onvif.org/Profile/Streaming "
           "onvif://www.onvif.org/hardware/NVC-2000 " +
           nameScope;
}

std::string MatchText(const std::string& uuid, const std::string& scopes, const std::string& xaddrs, int version,
                      const ReplyMode& mode)
{
    std::string m = "<d:ProbeMatch><a:EndpointReference><a:Address>" + XmlEscaped(uuid) +
                    "</a:Address></a:EndpointReference>";
    if (!mode.missingTypes)
        m += "<d:Types>dn:NetworkVideoTransmitter</d:Types>";
    if (!mode.missingScopes)
        m += "<d:Scopes>" + scopes + "</d:Scopes>";
    if (!mode.missingXAddrs)
        m += "<d:XAddrs>" + XmlEscaped(xaddrs) + "</d:XAddrs>";
    m += "<d:MetadataVersion>" + std::to_string(version) + "</d:MetadataVersion></d:ProbeMatch>";
    return m;
}

// Finds the first element whose local name is `local`, whatever its prefix.
// When text is given it gets the character data up to the next tag.
bool FindElement(const std::string& xml, const std::string& local, std::string* text)
{
    for (size_t open = xml.find('<'); open != std::string::npos; open = xml.find('<', open + 1)) {
        size_t end = open + 1;
        while (end < xml.size() && !std::isspace(static_cast<unsigned char>(xml[end])) && xml[end] != '>' &&
               xml[end] != '/')
            ++end;
        const std::string name = xml.substr(open + 1, end - open - 1);
        const size_t colon = name.find(':');
        if ((colon == std::string::npos ? name : name.substr(colon + 1)) != local)
            continue;
        if (text) {
            const size_t close = xml.find('>', end);
            if (close == std::string::npos)
                return false;
            const size_t next = xml.find('<', close);
            *text = xml.substr(close + 1, next == std::string::npos ? std::string::npos : next - close - 1);
            if (xml[close - 1] == '/')
                text->clear();
        }
        return true;
    }
    return false;
}

} // namespace

ProbeRequest ReadProbe(const std::string& xml)
{
    ProbeRequest request;
    request.isProbe = FindElement(xml, "Probe", nullptr);
    FindElement(xml, "MessageID", &request.messageId);
    std::string list;
    if (!request.isProbe || !FindElement(xml, "Types", &list))
        return request;
    // Each listed QName p:NetworkVideoTransmitter counts when p is "tdn" or is
    // declared anywhere in the message for the ONVIF network namespace.
    std::istringstream names(list);
    std::string qname;
    const std::string local = ":NetworkVideoTransmitter";
    while (names >> qname) {
        if (qname.size() <= local.size() || qname.compare(qname.size() - local.size(), local.size(), local) != 0)
            continue;
        const std::string prefix = qname.substr(0, qname.size() - local.size());
        if (prefix == "tdn" || xml.find("xmlns:" + prefix + "=\"" + kOnvifNetwork + "\"") != std::string::npos ||
            xml.find("xmlns:" + prefix + "='" + kOnvifNetwork + "'") != std::string::npos) {
            request.wantsVideo = true;
            break;
        }
    }
    return request;
}

std::string ProbeMatchesText(const OnvifEmuDevice& device, const std::string& relatesTo, const ReplyMode& mode,
                             int answer)
{
    const std::string name = XmlEscaped(answer == 1 ? device.name : device.name + "-again");
    const std::string xaddrs = "http://" + device.address + "/onvif/device_service";
    // Huge: control characters a terminal would obey, then padding up to the
    // size wanted, and the name scope last so it runs to the end of the text.
    const std::string hostile = "onvif://www.onvif.org/location/\x1b[2J\x1b]0;owned\x07\x01\x7f ";
    auto build = [&](const std::string& padding) {
        std::string matches;
        if (!mode.emptyMatches) {
            std::string scopes = ScopesText(device, name);
            if (mode.huge)
                scopes = hostile + padding + "onvif://www.onvif.org/hardware/NVC-2000 " + kNameScope + name;
            matches = MatchText(device.uuid, scopes, xaddrs, answer, mode);
            if (mode.threeMatches) {
                // Other endpoints, names and hosts: none of it may reach a record.
                for (int k = 2; k <= 3; ++k) {
                    OnvifEmuDevice other = device;
                    other.number = device.number + k - 1;
                    matches += MatchText(device.uuid + "-" + std::to_string(k),
                                         ScopesText(other, name + "-entry" + std::to_string(k)),
                                         "http://10.77.255." + std::to_string(k) + "/onvif/device_service", answer,
                                         mode);
                }
            }
        }
        return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<s:Envelope xmlns:s=\"") +
               (mode.soap11 ? kSoap11 : kSoap12) + "\" xmlns:a=\"" + kAddressing + "\" xmlns:d=\"" + kDiscovery +
               "\" xmlns:dn=\"" + kOnvifNetwork + "\">\n<s:Header><a:MessageID>" + FreshUrn() +
               "</a:MessageID><a:RelatesTo>" + XmlEscaped(relatesTo) +
               "</a:RelatesTo><a:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</a:To>"
               "<a:Action>" +
               kDiscovery + "/ProbeMatches</a:Action><d:AppSequence InstanceId=\"1\" MessageNumber=\"" +
               std::to_string(answer) + "\"/></s:Header>\n<s:Body><d:ProbeMatches>" + matches +
               "</d:ProbeMatches></s:Body>\n</s:Envelope>\n";
    };
    std::string xml = build(std::string());
    if (!mode.huge || mode.emptyMatches || xml.size() >= kHugeSize)
        return xml;
    const size_t wanted = kHugeSize - xml.size();
    std::string padding;
    for (int i = 0; padding.size() < wanted; ++i)
        padding += "onvif://www.onvif.org/location/pad/" + std::to_string(i) + " ";
    // The last filler scope is cut short to hit the size exactly; it ends in
    // a space like every other.
    padding.resize(wanted);
    padding.back() = ' ';
    return build(padding);
}

std::string GarbageText()
{
    // Complete, well-formed XML, but no SOAP envelope.
    return "<?xml version=\"1.0\"?><garbage>not a SOAP message</garbage>";
}

std::string GeneratedName(int n, bool percent20)
{
    char text[64];
    if (n % 2 == 0)
        std::snprintf(text, sizeof text, percent20 ? "Cam%%20%04d" : "Camera-%04d", n);
    else
        std::snprintf(text, sizeof text, percent20 ? "摄像机%%20%04d" : "摄像机-%04d", n);
    return text;
}

std::string OneLine(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}
