#pragma once

// Checks that the ONVIF unit tests and the namespace tests share: the Probe
// the worker sends, its MessageID, the records it made, and reading back the
// trace it wrote.

#include "COnvifDevice.h"
#include "XArray.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <vector>
#include <regex>
#include <string>

// A record's four texts, comparable and printable in test messages.
struct OnvifRecord {
    std::string name, ipText, uuid, serviceAddress;
    bool operator==(const OnvifRecord& o) const
    {
        return name == o.name && ipText == o.ipText && uuid == o.uuid && serviceAddress == o.serviceAddress;
    }
};

// Names are cut to 40 bytes: some tests use huge ones.
inline std::ostream& operator<<(std::ostream& os, const OnvifRecord& r)
{
    return os << "{" << r.name.substr(0, 40) << ", " << r.ipText << ", " << r.uuid << ", " << r.serviceAddress << "}";
}

inline void PrintTo(const OnvifRecord& r, std::ostream* os)
{
    *os << r;
}

// The texts of every record of devices, in table order.
inline std::vector<OnvifRecord> CopyRecords(const XArray<COnvifDevice>& devices)
{
    std::vector<OnvifRecord> records;
    for (int i = 0; i < devices.GetSize(); ++i) {
        const COnvifDevice* d = devices[i];
        records.push_back({d->name.GetText(), d->ipText.GetText(), d->uuid.GetText(), d->serviceAddress.GetText()});
    }
    return records;
}

// Expects probe to be the worker's Probe for video transmitters: SOAP 1.2,
// every namespace declared on the root element, no encodingStyle, and
// nothing in it but MessageID, To and Action in the header (the last two to
// be understood) and the Types and empty Scopes in the body.
inline void ExpectVideoTransmitterProbe(const std::string& probe)
{
    const char* declarations[] = {
        "xmlns:SOAP-ENV=\"http://www.w3.org/2003/05/soap-envelope\"",
        "xmlns:SOAP-ENC=\"http://www.w3.org/2003/05/soap-encoding\"",
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"",
        "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"",
        "xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\"",
        "xmlns:wsdd=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"",
        "xmlns:tdn=\"http://www.onvif.org/ver10/network/wsdl\"",
    };
    std::smatch root;
    ASSERT_TRUE(std::regex_search(probe, root, std::regex("<SOAP-ENV:Envelope[^>]*>"))) << probe;
    for (const char* text : declarations)
        EXPECT_NE(root.str().find(text), std::string::npos) << text << "\nin " << root.str();
    EXPECT_EQ(probe.find("encodingStyle"), std::string::npos) << probe;
    const std::regex whole(
        "<SOAP-ENV:Envelope[^>]*>\\s*<SOAP-ENV:Header>\\s*"
        "<wsa:MessageID>[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}</wsa:MessageID>\\s*"
        "<wsa:To SOAP-ENV:mustUnderstand=\"(true|1)\">urn:schemas-xmlsoap-org:ws:2005:04:discovery</wsa:To>\\s*"
        "<wsa:Action SOAP-ENV:mustUnderstand=\"(true|1)\">"
        "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</wsa:Action>\\s*"
        "</SOAP-ENV:Header>\\s*<SOAP-ENV:Body>\\s*<wsdd:Probe>\\s*"
        "<wsdd:Types>tdn:NetworkVideoTransmitter</wsdd:Types>\\s*(<wsdd:Scopes></wsdd:Scopes>|<wsdd:Scopes/>)\\s*"
        "</wsdd:Probe>\\s*</SOAP-ENV:Body>\\s*</SOAP-ENV:Envelope>\\s*$");
    EXPECT_TRUE(std::regex_search(probe, whole)) << probe;
}

// The text of the Probe's MessageID; empty when it has none.
inline std::string MessageId(const std::string& probe)
{
    std::smatch match;
    return std::regex_search(probe, match, std::regex("<wsa:MessageID>([^<]*)</wsa:MessageID>")) ? match[1].str()
                                                                                                : std::string();
}

// Undoes the emulator's one-line form of a text ("\xHH" escapes).
inline std::string Unescaped(const std::string& line)
{
    std::string out;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 3 < line.size() && line[i + 1] == 'x') {
            out += static_cast<char>(std::stoi(line.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += line[i];
        }
    }
    return out;
}

// Everything written to a temporary stream so far.
inline std::string ReadAll(FILE* stream)
{
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, stream)) > 0)
        text.append(buffer, n);
    return text;
}
