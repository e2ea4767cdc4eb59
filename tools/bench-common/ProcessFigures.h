#pragma once

// Resident memory of this process (VmRSS in /proc/self/status) in KiB, or -1.
long ResidentKib();

// Datagrams the kernel dropped because a socket's receive buffer was full
// (Udp RcvbufErrors of the calling thread's network namespace), or -1.
long UdpReceiveBufferDrops();
