#include "COnvifDevices.h"

COnvifDevice* FindOnvifDevice(COnvifDevices& table, const char* uuid)
{
    for (int i = 0; i < table.devices.GetSize(); ++i) {
        COnvifDevice* device = table.devices[i];
        if (device && device->uuid.Compare(uuid) == 0)
            return device;
    }
    return nullptr;
}

int CompareOnvifDeviceIp(const COnvifDevice* a, const COnvifDevice* b)
{
    int difference = a->ipText.Compare(b->ipText.GetText());
    return difference < 0 ? -1 : (difference > 0 ? 1 : 0);
}

void SortOnvifDevices(COnvifDevices& table, int direction)
{
    if (direction == 0)
        return;
    // A stable insertion sort: it gives the order of a bubble sort that only
    // swaps misordered neighbours, but a table that is sorted except for a
    // few new records at its end costs one pass, not one pass per place.
    // It needs no memory, so it cannot fail.
    XArray<COnvifDevice>& devices = table.devices;
    const int n = devices.GetSize();
    for (int i = 1; i < n; ++i) {
        COnvifDevice* record = devices[i];
        int j = i;
        while (j > 0 && CompareOnvifDeviceIp(devices[j - 1], record) * direction > 0) {
            devices[j] = devices[j - 1];
            --j;
        }
        devices[j] = record;
    }
}
