#include "PeClient.h"

#include "PeDevices.h"
#include "PeFrame.h"
#include "PeReceiver.h"
#include "XBuffer.h"
#include "XSocketFunctions.h"

#include <cstring>
#include <memory>

// Construction order matters: the socket layer starts before the endpoint
// exists and stops after it is closed; the receiver stops before the endpoint
// closes. The table's records are freed before the endpoint goes.
XSocketEnv g_socketEnv;
XUdp g_peSocket(-1);
PeReceiver g_peReceiver(&g_peSocket);
XArray<tagDevice> g_peDevices;

const std::uint8_t kPeEveryDevice[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

namespace {
const char kBroadcastHost[] = "255.255.255.255";
const int kPePort = 18220;
const int kSendWaitMs = 1000;
const int kReceiveBufferBytes = 4 * 1024 * 1024;
// How long the receiver reads without sleeping after a request went out:
// devices on a LAN answer within this.
const int kReplyBurstMs = 300;

const char* g_targetHost = kBroadcastHost;
int g_targetPort = kPePort;

void ApplyDeviceInfo(const PeMessage& message)
{
    int index = FindPeDevice(message.mac);
    tagDevice* record;
    if (index < 0) {
        // Grow first, so that running out of memory loses no record.
        std::unique_ptr<tagDevice> fresh(new tagDevice());
        std::memcpy(fresh->mac, message.mac, sizeof fresh->mac);
        g_peDevices.SetSize(g_peDevices.GetSize() + 1);
        record = fresh.release();
        g_peDevices[g_peDevices.GetSize() - 1] = record;
    } else {
        record = g_peDevices[index];
    }
    const std::uint8_t* p = message.payload;
    std::memcpy(record->ip, p + kPeIpOffset, sizeof record->ip);
    std::memcpy(record->mask, p + kPeMaskOffset, sizeof record->mask);
    std::memcpy(record->gateway, p + kPeGatewayOffset, sizeof record->gateway);
    std::memcpy(record->name, p + kPeNameOffset, sizeof record->name);
    std::memcpy(record->model, p + kPeModelOffset, sizeof record->model);
    std::memcpy(record->version, p + kPeVersionOffset, sizeof record->version);
    SortPeDevices(g_peDevices, g_peSortOrder);
}

// Returns false for a serial reply from an unknown device, which is dropped
// without a redraw.
bool ApplySerial(const PeMessage& message)
{
    int index = FindPeDevice(message.mac);
    if (index < 0)
        return false;
    std::memcpy(g_peDevices[index]->serial, message.payload, sizeof(tagDevice::serial));
    return true;
}

bool IsReply(const PeMessage& m, std::uint8_t kind, std::uint8_t length)
{
    return m.command == kPeCommandSearch && m.kind == kind && m.payloadLength == length;
}

// Handles one datagram; true when refresh is due.
bool HandleDatagram(const XBuffer& datagram)
{
    PeMessage message{};
    if (DecodePeFrame(datagram, message) != 0)
        return false;
    if (IsReply(message, kPeKindDeviceInfo, kPeDeviceInfoLength))
        ApplyDeviceInfo(message);
    else if (IsReply(message, kPeKindSerial, kPeSerialLength))
        return ApplySerial(message);
    return true;
}
} // namespace

void OpenPeSocket()
{
    g_peSocket.Open(0, nullptr);
    g_peSocket.SetSendTimeout(kSendWaitMs);
    g_peSocket.SetReceiveTimeout(0);
    g_peSocket.SetBroadcast(1);
    if (g_peSocket.GetHandle() == -1)
        return;
    // Room for a burst while the receiver is not scheduled; the kernel caps
    // it at its own limit, which is also fine.
    int bytes = kReceiveBufferBytes;
    setsockopt(g_peSocket.GetHandle(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    g_peReceiver.Start();
}

void SendPeMessage(const PeMessage& message)
{
    XBuffer frame;
    if (EncodePeFrame(frame, message) != 0)
        return;
    sockaddr_in address;
    ResolveAddress(&address, g_targetPort, g_targetHost);
    // Every request is answered at once, by every device a search reaches.
    g_peReceiver.ExpectBurst(kReplyBurstMs);
    g_peSocket.SendTo(frame.GetData(), frame.GetSize(), &address);
}

void SendPeSearch(const std::uint8_t* mac)
{
    PeMessage message{};
    message.command = kPeCommandSearch;
    message.kind = kPeKindRequest;
    std::memcpy(message.mac, mac, sizeof message.mac);
    SendPeMessage(message);
}

void PollPeReplies(const std::function<void()>& refresh)
{
    // Only what has arrived by now: a flood cannot keep this tick going.
    int pending = g_peReceiver.Fill();
    for (int i = 0; i < pending; ++i) {
        std::unique_ptr<XBuffer> datagram(g_peReceiver.TakeNext());
        if (!datagram)
            return;
        if (HandleDatagram(*datagram) && refresh)
            refresh();
    }
}

void ClearPeDevices()
{
    g_peDevices.SetSize(0);
}

void SetPeRequestTarget(const char* host, int port)
{
    g_targetHost = host;
    g_targetPort = port;
}
