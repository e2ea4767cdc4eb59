#pragma once

#include <cstdio>

// Cost of one more reply as the tables grow, measured on the window Form1
// with its timers stopped and its tick handlers called directly, between
// plain timing marks. Each prints one line per table size to out and returns
// false when the harness failed (the reason goes to stderr). The tables and
// lists are emptied first and left filled.

// PE: the table is filled directly to records - 1, then one real device-info
// reply of a new device (IP in the middle of the order) and its serial reply
// go over the loopback interface to the PE endpoint and one peTimerTimer call
// handles each. Sizes 10, 20, ... 2560, 4096.
bool RunPeReplyCost(std::FILE* out);

// ONVIF: the table is filled directly to records - 1, one new record (IP text
// in the middle of the order) is handed over as the worker would, and one
// onvifTimerTimer call merges it and rebuilds the list. Replaces
// g_discoverThread with a worker that never runs (an earlier one must have
// ended or end within 15 s). Sizes 10, 20, ... 640, 1000.
bool RunOnvifReplyCost(std::FILE* out);
