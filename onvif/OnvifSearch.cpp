#include "OnvifSearch.h"

#include "XAutoLock.h"

COnvifDevices g_onvifDevices;
int g_onvifSortOrder = 1;
COnvifDiscoverThread* g_discoverThread = nullptr;

void StartOnvifSearch()
{
    if (g_discoverThread) {
        if (g_discoverThread->IsRunning())
            return;
        g_discoverThread->Join();
        delete g_discoverThread;
        g_discoverThread = nullptr;
    }
    g_discoverThread = new COnvifDiscoverThread;
    g_discoverThread->Start();
}

int MergeOnvifResults()
{
    if (!g_discoverThread)
        return 0;
    int added = 0;
    {
        XAutoLock hold(&g_discoverThread->lock);
        XArray<COnvifDevice>& found = g_discoverThread->devices;
        XArray<COnvifDevice>& table = g_onvifDevices.devices;
        for (int i = 0; i < found.GetSize(); ++i) {
            COnvifDevice* record = found[i];
            if (!record || FindOnvifDevice(g_onvifDevices, record->uuid.GetText()))
                continue;
            table.SetSize(table.GetSize() + 1);
            table[table.GetSize() - 1] = record;
            found[i] = nullptr;
            ++added;
        }
        // Deletes the duplicates left behind.
        found.SetSize(0);
    }
    if (added == 0)
        return 0;
    SortOnvifDevices(g_onvifDevices, g_onvifSortOrder);
    return added;
}
