#pragma once

// The run-time pieces both device emulators use the same way: their start,
// their log and ready files, the stop signals, numeric options and the
// receive loop. `program` is always the emulator's name, the prefix of its
// messages on standard error.

#include <netinet/in.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// Decides whether main goes on after its options were parsed; parsed is the
// emulator's ParseOptions result (0 go on, 1 --help, 2 usage error already
// printed). False with exitCode set when main must return it: 0 after
// printing help to standard output, 2 for bad usage, 3 when MayRunHere
// refuses (inNetns is --i-am-in-a-netns).
bool MayStart(const char* program, int parsed, const char* help, bool inNetns, int& exitCode);

// The emulator's log: one line per call, flushed at once, because the tests
// read it while the emulator runs.
class LogFile {
public:
    LogFile() = default;
    // Closes the file unless it is standard output.
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens path for writing (truncated), or standard output when path is
    // null. False after printing "<program>: cannot write <path>" when the
    // file cannot be opened.
    bool Open(const char* path, const char* program);
    // Writes text and a newline. Needs a successful Open.
    void Line(const std::string& text);

private:
    FILE* file = nullptr;
};

// Writes "<pid> <port>\n" to path, whole: under path + ".tmp" first, then
// renamed, so a waiting reader never sees half. False when it cannot.
bool WriteReadyFile(const char* path, int port);

// A decimal number in low..high and nothing else into value; false (value
// untouched) otherwise.
bool ParseInt(const char* text, int low, int high, int& value);

// Sleeps ms milliseconds (0 or more); a signal may end it early.
void SleepMs(int ms);

// From now on SIGTERM and SIGINT only ask the emulator to stop; see
// StopRequested.
void CatchStopSignals();

// True once SIGTERM or SIGINT came after CatchStopSignals.
bool StopRequested();

// Called for each datagram received: its bytes and its source.
using DatagramHandler = std::function<void(const std::uint8_t* data, size_t size, const sockaddr_in& from)>;

// Receives datagrams on the UDP socket fd and hands each to handle, until a
// stop is requested (returns 0) or lifetimeS seconds have passed (logs
// "# lifetime over", returns 0). Returns 1 after printing "<program>: poll:
// <error>" when waiting fails. fd stays the caller's.
int ServeDatagrams(int fd, int lifetimeS, const char* program, LogFile& log, const DatagramHandler& handle);
