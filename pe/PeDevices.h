#pragma once

#include "XArray.h"

#include <cstdint>

// One PE device, identified by its MAC. Addresses are first octet first; the
// four texts are the 32-byte fields exactly as received: they end at the first
// zero byte, or fill all 32 bytes with no terminator.
struct tagDevice {
    std::uint8_t mac[6];
    std::uint8_t ip[4];
    std::uint8_t mask[4];
    std::uint8_t gateway[4];
    char name[32];
    char model[32];
    char version[32];
    char serial[32];
};

// The PE devices found since start-up or the last clear, in display order
// (sorted by IP in the direction of g_peSortOrder). Owns its records; used on
// the user-interface thread only.
extern XArray<tagDevice> g_peDevices;
// +1 ascending, -1 descending; only the IP column click negates it.
extern int g_peSortOrder;

// Index of the first record in g_peDevices whose MAC equals the 6 bytes, or -1.
int FindPeDevice(const std::uint8_t* mac);
// -1, 0 or +1: a's IP against b's, numerically octet by octet.
int ComparePeDeviceIp(const tagDevice* a, const tagDevice* b);
// Sorts table by IP: ascending for order > 0, descending for order < 0,
// untouched for 0. Records with equal IPs keep their relative order, so the
// result is the one and only stable order. Moves pointers only.
void SortPeDevices(XArray<tagDevice>& table, int order);
