#pragma once

#include "EventLoopProbe.h"

#include <atomic>
#include <string>
#include <thread>

// Notes the moment an emulator writes a given line to its log. The emulators
// flush their log per line and write "# sent <n> datagrams" right after the
// last reply to a request went out, so that moment stands for the arrival of
// the last datagram (the link between the namespaces adds microseconds). It
// watches from its own thread, every 1 ms, so a busy window loop does not
// delay the note.
class LogMarkWatcher {
public:
    LogMarkWatcher() = default;
    ~LogMarkWatcher();
    LogMarkWatcher(const LogMarkWatcher&) = delete;
    LogMarkWatcher& operator=(const LogMarkWatcher&) = delete;

    // Watches path for a line that contains marker, written after this call;
    // false when the file cannot be opened. A watch still running is stopped.
    bool Start(const std::string& path, const std::string& marker);
    // Ends the watch; harmless when none runs.
    void Stop();
    bool Seen() const { return seenNs.load() != 0; }
    // When the line was first seen; meaningful only when Seen().
    BenchClock::time_point SeenAt() const;
    // The line seen (without its newline); empty until Seen().
    std::string Line() const { return Seen() ? line : std::string(); }

private:
    void Watch(int fd, std::string marker);

    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<long long> seenNs{0}; // BenchClock ticks since its epoch, 0: not yet
    std::string line;                 // written before seenNs, read after it
};
