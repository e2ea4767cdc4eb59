#pragma once

// The ONVIF devices' side of WS-Discovery without sockets: who the devices
// are, whether a received datagram is a Probe they answer, and the text of
// the replies. Written by hand on purpose: the emulator must not share the
// SOAP engine with the tool it tests.

#include <string>
#include <vector>

struct OnvifEmuDevice {
    int number = 0;       // 1 up
    std::string address;  // dotted IPv4 text; replies come from it
    std::string uuid;     // "urn:uuid:..." endpoint address
    std::string name;     // the value of the name scope, as written (XML-escaped on output)
};

// How the replies are shaped; every device behaves alike.
struct ReplyMode {
    bool soap11 = false;       // SOAP 1.1 envelope instead of 1.2
    bool threeMatches = false; // two more ProbeMatch entries after the device's own
    bool emptyMatches = false; // a ProbeMatches without any ProbeMatch
    bool missingTypes = false; // the ProbeMatch lacks Types
    bool missingScopes = false;
    bool missingXAddrs = false;
    bool huge = false;         // padded to nearly the largest UDP datagram, with control characters
};

// What a received datagram asks for.
struct ProbeRequest {
    bool isProbe = false;      // a Probe body was found
    bool wantsVideo = false;   // its Types ask for NetworkVideoTransmitter in the ONVIF namespace
    std::string messageId;     // its wsa:MessageID text, "" when absent
};

// Reads the few things the devices need from a datagram. Tolerant of any
// prefixes; no full XML parse.
ProbeRequest ReadProbe(const std::string& xml);

// The ProbeMatches that device sends in reply to a Probe with the given
// message id. answer is 1 for a device's first reply, 2 for its second (the
// second carries the name "<name>-again" and MetadataVersion 2, so a test can
// tell which one was kept).
std::string ProbeMatchesText(const OnvifEmuDevice& device, const std::string& relatesTo, const ReplyMode& mode,
                             int answer);

// A datagram that is no SOAP message at all.
std::string GarbageText();

// The generated name of device number n (1 up): "Camera-NNNN" for even n,
// "摄像机-NNNN" for odd n; with percent20 "Cam%20NNNN" / "摄像机%20NNNN".
std::string GeneratedName(int n, bool percent20);

// Text for one log line: bytes below 0x20, 0x7F and the backslash become
// "\xHH" escapes, everything else is kept.
std::string OneLine(const std::string& text);
