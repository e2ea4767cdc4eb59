#pragma once

#include "PeMessage.h"
#include "XSocketEnv.h"
#include "XUdp.h"

#include <cstdint>
#include <functional>

class PeReceiver;

// Starts the socket layer before the PE endpoint exists and stops it after.
extern XSocketEnv g_socketEnv;
// The one endpoint of all PE traffic; no socket until OpenPeSocket.
extern XUdp g_peSocket;
// Collects the endpoint's datagrams between two polls; runs from OpenPeSocket.
extern PeReceiver g_peReceiver;

// The MAC that addresses every device.
extern const std::uint8_t kPeEveryDevice[6];

// Opens g_peSocket on any local address and a port the system picks, with a
// 1000 ms send wait, no receive wait, broadcast allowed and a receive buffer
// as large as the system allows up to 4 MiB, and starts the receiver. Failures are not reported: the endpoint then stays closed and
// every later send and poll does nothing.
void OpenPeSocket();
// Frames message and broadcasts it to port 18220. The outcome is not reported.
void SendPeMessage(const PeMessage& message);
// Broadcasts a search addressed to the 6 bytes of mac.
void SendPeSearch(const std::uint8_t* mac);
// Handles every datagram received so far, in arrival order: device-info
// replies create or update records by MAC and re-sort the table, serial
// replies fill a known device's serial. refresh is called after each accepted
// frame except a serial reply from an unknown MAC; undecodable datagrams are
// dropped silently. Datagrams arriving while it runs wait for the next call.
// Runs on the user-interface thread only.
void PollPeReplies(const std::function<void()>& refresh);
// Empties g_peDevices, destroying every record. g_peSortOrder is kept.
void ClearPeDevices();

// Redirects every later request to host:port instead of the limited broadcast
// to port 18220, so that tests can run on the loopback interface.
void SetPeRequestTarget(const char* host, int port);
