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
    // Bubble sort: the table holds a handful of devices, it needs no memory
    // (so it cannot fail) and it never swaps equal neighbours.
    XArray<COnvifDevice>& devices = table.devices;
    for (int n = devices.GetSize(); n >= 2; --n) {
        int swaps = 0;
        for (int i = 0; i + 1 < n; ++i) {
            int order = CompareOnvifDeviceIp(devices[i], devices[i + 1]);
            if (direction > 0 ? order > 0 : order < 0) {
                COnvifDevice* held = devices[i];
                devices[i] = devices[i + 1];
                devices[i + 1] = held;
                ++swaps;
            }
        }
        if (swaps == 0)
            break;
    }
}
