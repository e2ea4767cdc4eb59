#pragma once

#include <cstdio>

class NetnsFixture;
class StallMeter;

// Both cases drive the window Form1 through its own buttons and its running
// timers, against an emulator in netns's device namespace; the calling
// (main) thread must be inside the tool namespace and Form1's PE endpoint
// opened there. Each prints one line to out and returns the number of devices
// found, or -1 when the harness failed (the reason goes to stderr).

// One search answered by `devices` PE devices (device-info and serial reply
// each) with the list in ascending (order > 0) or descending order. The PE
// table and list are emptied first and left filled.
int RunPeBurst(NetnsFixture& netns, StallMeter& stalls, int devices, int order, std::FILE* out);

// One ONVIF search answered by `devices` devices at once. Waits for an
// earlier worker to end; the ONVIF table and list are emptied first and left
// filled.
int RunOnvifBurst(NetnsFixture& netns, StallMeter& stalls, int devices, std::FILE* out);

// Searches again, without clearing, until the ONVIF list shows `devices`
// devices or maxSearches more searches were made, as a user would when some
// devices are missing; each search waits for the previous worker to end.
// Returns the number of searches made, or -1 when the harness failed.
int CompleteOnvifList(NetnsFixture& netns, int devices, int maxSearches);
