#pragma once

#include <QTimer>

#include <chrono>
#include <functional>

using BenchClock = std::chrono::steady_clock;

// Milliseconds from a to b (negative when b comes first).
double MsBetween(BenchClock::time_point a, BenchClock::time_point b);

// Measures how long the calling thread's event loop goes without serving
// events: a 1 ms precise heartbeat timer notes the gap between two of its
// ticks, and a gap beyond the interval is time the loop was held up. The loop
// must run (exec or processEvents) for anything to be measured.
class StallMeter {
public:
    StallMeter();
    // Starts a fresh measurement from now.
    void Reset();
    // Longest hold-up since Reset, in ms (gap minus the 1 ms interval).
    double MaxStallMs() const { return maxStallMs; }
    // Stops or restarts the heartbeat (it must not fire during plain timing loops).
    void Pause();
    void Resume();

private:
    void Beat();

    QTimer heartbeat;
    BenchClock::time_point last;
    double maxStallMs = 0;
};

// Runs a nested event loop on the calling thread until done() is true or
// timeoutMs pass. done is evaluated after each event batch through a 1 ms
// check; returns done()'s last value.
bool RunEventLoopUntil(const std::function<bool()>& done, int timeoutMs);
// Runs the event loop for ms milliseconds.
void RunEventLoopFor(int ms);
