#pragma once

#include "COnvifDevice.h"
#include "XArray.h"

// The table of ONVIF devices: owns its records. Used on one thread only.
class COnvifDevices {
public:
    XArray<COnvifDevice> devices;
};

// The first record of table whose uuid equals uuid byte for byte (null reads
// as ""), or null. The table keeps ownership.
COnvifDevice* FindOnvifDevice(COnvifDevices& table, const char* uuid);

// Three-way order (-1, 0, +1) of the ipText of a and b, compared as unsigned
// bytes: a text order, so "10.0.0.5" < "9.0.0.1". Both must be non-null.
int CompareOnvifDeviceIp(const COnvifDevice* a, const COnvifDevice* b);

// Sorts table by ipText, ascending for direction > 0, descending for
// direction < 0; direction 0 leaves it alone. Stable: records with equal
// ipText keep their order. Every slot must be non-null.
void SortOnvifDevices(COnvifDevices& table, int direction);
