#pragma once

#include "COnvifDevices.h"
#include "COnvifDiscoverThread.h"

// The ONVIF side's state; all of it is used on the user-interface thread only.
// The devices shown, without duplicate uuid and in ipText order for
// g_onvifSortOrder (except right after emptying).
extern COnvifDevices g_onvifDevices;
// +1 ascending, -1 descending; never 0.
extern int g_onvifSortOrder;
// The current or most recent worker; null before the first search. Never
// deleted at exit.
extern COnvifDiscoverThread* g_discoverThread;

// Starts a new search unless the current worker is still running (then the
// request is ignored). A finished worker is joined and deleted first, with any
// records it still holds. g_onvifDevices is left as it is.
void StartOnvifSearch();

// Moves the worker's records into g_onvifDevices, dropping those whose uuid is
// already there (the earlier record wins, also within one batch), empties the
// worker's list and, when anything was added, sorts the table. Returns the
// number of records added (0 without a worker). Holds the worker's lock while
// it goes over the list, not while it sorts.
int MergeOnvifResults();
