#pragma once

#include "XString.h"

// One ONVIF device as found by a search. Filled once by the discovery worker
// and never changed afterwards; owned by exactly one XArray at a time.
class COnvifDevice {
public:
    XString name;           // from the device's name scope; empty if none
    XString ipText;         // source address of the reply, "%d.%d.%d.%d"
    XString uuid;           // endpoint reference address, as received
    XString serviceAddress; // XAddrs text, as received
};
