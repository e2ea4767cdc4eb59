#pragma once

#include "COnvifDevice.h"
#include "XArray.h"
#include "XLock.h"
#include "XThread.h"

#include <cstdint>
#include <cstdio>
#include <string>

struct wsdd__ProbeMatchesType;

// One ONVIF search: Run sends one WS-Discovery Probe for network video
// transmitters and turns each ProbeMatches reply into a record in devices,
// until a receive waits 5 s in vain or fails. It writes a trace of every reply
// to the trace output (standard output).
class COnvifDiscoverThread : public XThread {
public:
    COnvifDiscoverThread();
    // Deletes the records still in devices, then joins. Only destroy the
    // object after its thread has ended.
    ~COnvifDiscoverThread() override;

    // The search, on the worker's thread. Returns -1 when no SOAP context can
    // be made, else the SOAP result of the last send or receive (SOAP_EOF,
    // -1, after the usual time-out). The run flag is not looked at.
    int Run() override;

    // Guards devices and the records in it; held only while one record is
    // appended, never while waiting on the network.
    XLock lock;
    // Records found and not yet taken; the worker only appends. Read or take
    // them only while holding lock.
    XArray<COnvifDevice> devices;
};

// Test seams. Both settings are read by Run when it starts, so change them
// only while no worker runs.
// The endpoint the Probe goes to; null restores the standard multicast
// endpoint "soap.udp://239.255.255.250:3702". The text is copied.
void SetOnvifProbeEndpoint(const char* endpoint);
// Where the trace is written; null restores standard output. The caller keeps
// the stream open while a worker may write to it.
void SetOnvifTraceOutput(FILE* output);

// name becomes the text after the first "onvif://www.onvif.org/name/" in
// scopes, up to the first space or the end, taken as is (no decoding); empty
// when scopes (null reads as "") has no such prefix.
void OnvifNameFromScopes(const char* scopes, XString& name);

// Handles one received ProbeMatches from IPv4 address source (host order, most
// significant byte first in the text): only its first ProbeMatch counts.
// Returns a new record that the caller owns, and appends the reply's trace
// lines to trace; absent texts read as "". Returns null and leaves trace alone
// when matches is null or holds no ProbeMatch.
COnvifDevice* MakeOnvifRecord(const wsdd__ProbeMatchesType* matches, std::uint32_t source,
                              std::string& trace);

// Appends text (null reads as "") to trace with control characters and bytes
// that are not valid UTF-8 written as "\xHH", so device-supplied text cannot
// drive a terminal. Printable UTF-8 is kept as is.
void AppendTraceText(std::string& trace, const char* text);

// A fresh random identifier as 36 lowercase characters in the 8-4-4-4-12
// form, NUL-terminated.
void MakeOnvifMessageId(char (&id)[37]);
