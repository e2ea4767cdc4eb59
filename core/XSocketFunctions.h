#pragma once

#include <netinet/in.h>
#include <sys/time.h>

// Thin helpers over the socket interface. Nothing here throws; results are
// 0 for success and -1 for failure unless stated otherwise.

// Fills *address for port (host byte order) and host. The whole record is
// first cleared, the family set to IPv4 and the port stored in network byte
// order. A null host gives 0.0.0.0. A host in dotted numeric form (the forms
// inet_aton accepts, 255.255.255.255 included) is converted without a name
// lookup. Any other text is looked up by name; the first IPv4 answer is used.
// Returns 0, or -1 when the name is unknown (or address is null).
int ResolveAddress(sockaddr_in* address, int port, const char* host);

// Creates a socket for protocol and binds it to port and host as
// ResolveAddress reads them. protocol is compared case-sensitively:
// "udp" (datagram), "tcp" (stream) or "icmp" (raw, protocol 1; needs the
// privilege to open raw sockets). Returns the new handle, owned by the caller,
// or -1 when the address cannot be resolved, the name is unknown or null, the
// socket cannot be created, or bind fails (the socket is then closed).
int OpenBoundSocket(const char* protocol, int port, const char* host);

// Switches handle to non-blocking mode. Returns 0 or -1.
int SetNonBlocking(int handle);

// Converts a wait of timeout milliseconds into select's time limit:
// timeout / 1000 seconds and (timeout % 1000) * 1000 microseconds. Returns
// false, leaving *limit untouched, for a negative timeout, which means a wait
// without limit.
bool WaitTimeToTimeval(int timeout, timeval* limit);

// Waits until handle is readable (mode 'r') or writable (mode 'w'), at most
// timeout milliseconds (0: no wait; negative: no limit). Returns select's
// result: positive when ready, 0 when the time ran out, -1 when select fails.
// Also -1, without waiting, for a handle that select cannot watch (negative,
// or not below FD_SETSIZE) and for any other mode.
int WaitSocket(int handle, int timeout, char mode);

// Test seam: after count more successful SetNonBlocking calls every further
// one fails (without touching its handle) until reset with a negative count,
// the default, which never fails. Process-wide.
void XSetNonBlockingFailAfter(long count);

// Number of name lookups ResolveAddress has made so far, failed ones
// included; numeric and null hosts make none. Process-wide.
long XGetNameLookupCount();
