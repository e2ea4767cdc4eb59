#include "PeDevices.h"

#include <cstring>

int g_peSortOrder = 1;

int FindPeDevice(const std::uint8_t* mac)
{
    for (int i = 0; i < g_peDevices.GetSize(); ++i) {
        if (std::memcmp(g_peDevices[i]->mac, mac, sizeof(tagDevice::mac)) == 0)
            return i;
    }
    return -1;
}

int ComparePeDeviceIp(const tagDevice* a, const tagDevice* b)
{
    for (int k = 0; k < 4; ++k) {
        if (a->ip[k] < b->ip[k])
            return -1;
        if (a->ip[k] > b->ip[k])
            return 1;
    }
    return 0;
}

void SortPeDevices(XArray<tagDevice>& table, int order)
{
    if (order == 0)
        return;
    // A stable insertion sort: the table is kept sorted after every change, so
    // the usual call moves one record and costs one pass.
    int n = table.GetSize();
    for (int i = 1; i < n; ++i) {
        tagDevice* record = table[i];
        int j = i;
        while (j > 0 && ComparePeDeviceIp(table[j - 1], record) * order > 0) {
            table[j] = table[j - 1];
            --j;
        }
        table[j] = record;
    }
}
