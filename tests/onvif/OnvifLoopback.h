#pragma once

// A stand-in ONVIF device for the tests: a plain UDP socket on 127.0.0.1
// that receives the Probe and answers the address it came from. Also builds
// reply envelopes. Nothing here ever leaves the loopback interface.

#include "COnvifDiscoverThread.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

class FakeOnvifDevice {
public:
    FakeOnvifDevice()
    {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
        socklen_t length = sizeof local;
        ok = ok && getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0;
        port = ntohs(local.sin_port);
    }
    ~FakeOnvifDevice()
    {
        if (fd >= 0)
            close(fd);
    }
    FakeOnvifDevice(const FakeOnvifDevice&) = delete;
    FakeOnvifDevice& operator=(const FakeOnvifDevice&) = delete;

    bool IsOpen() const { return ok; }
    std::string Endpoint() const { return "soap.udp://127.0.0.1:" + std::to_string(port); }

    // Waits up to timeoutMs for one datagram; remembers its sender as the
    // address of later answers. False when none came.
    bool Receive(std::string& data, int timeoutMs)
    {
        pollfd waiting{fd, POLLIN, 0};
        if (poll(&waiting, 1, timeoutMs) != 1)
            return false;
        char buffer[65536];
        socklen_t length = sizeof sender;
        ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender), &length);
        if (n < 0)
            return false;
        data.assign(buffer, static_cast<size_t>(n));
        hasSender = true;
        return true;
    }

    // Sends data to the sender of the last datagram received.
    bool Answer(const std::string& data)
    {
        return hasSender && sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&sender),
                                   sizeof sender) == static_cast<ssize_t>(data.size());
    }

private:
    int fd = -1;
    bool ok = false;
    unsigned short port = 0;
    sockaddr_in sender{};
    bool hasSender = false;
};

inline const char* kSoap12Envelope = "http://www.w3.org/2003/05/soap-envelope";
inline const char* kSoap11Envelope = "http://schemas.xmlsoap.org/soap/envelope/";
// Complete XML that is no SOAP envelope: the worker stops at it, which ends a
// test's search at once. (Unfinished XML would not do: the parser would go on
// with the next datagram, or wait for one.)
inline const char* kUnreadable = "<NotSoap>no envelope here</NotSoap>";

// One ProbeMatch; a null text leaves its element out.
inline std::string ProbeMatch(const char* address, const char* types, const char* scopes,
                              const char* xaddrs, unsigned version = 1)
{
    std::string match = "<d:ProbeMatch><a:EndpointReference><a:Address>";
    match += address;
    match += "</a:Address></a:EndpointReference>";
    if (types)
        match += std::string("<d:Types>") + types + "</d:Types>";
    if (scopes)
        match += std::string("<d:Scopes>") + scopes + "</d:Scopes>";
    if (xaddrs)
        match += std::string("<d:XAddrs>") + xaddrs + "</d:XAddrs>";
    match += "<d:MetadataVersion>" + std::to_string(version) + "</d:MetadataVersion></d:ProbeMatch>";
    return match;
}

// A ProbeMatches envelope holding the given ProbeMatch elements.
inline std::string ProbeMatches(const std::string& matches, const char* envelope = kSoap12Envelope)
{
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                       "<e:Envelope xmlns:e=\"") +
           envelope +
           "\" xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
           " xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\""
           " xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\">"
           "<e:Header><a:MessageID>uuid:0f9e3c2a-1111-4222-8333-444455556666</a:MessageID>"
           "<a:RelatesTo>uuid:unrelated</a:RelatesTo>"
           "<a:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</a:To>"
           "<a:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches</a:Action>"
           "</e:Header><e:Body><d:ProbeMatches>" +
           matches + "</d:ProbeMatches></e:Body></e:Envelope>";
}

// Points the worker's Probe at a stand-in device and its trace at a scratch
// file for one test, and puts both back afterwards.
class OnvifLoopbackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(device.IsOpen());
        trace = std::tmpfile();
        ASSERT_NE(trace, nullptr);
        SetOnvifProbeEndpoint(device.Endpoint().c_str());
        SetOnvifTraceOutput(trace);
    }
    void TearDown() override
    {
        SetOnvifTraceOutput(nullptr);
        SetOnvifProbeEndpoint(nullptr);
        if (trace)
            std::fclose(trace);
    }

    // The Probe the device received; fails the test when none came in 10 s.
    std::string AwaitProbe()
    {
        std::string probe;
        EXPECT_TRUE(device.Receive(probe, 10000)) << "no Probe arrived";
        return probe;
    }

    FakeOnvifDevice device;
    FILE* trace = nullptr;
};
