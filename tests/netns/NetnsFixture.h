#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>

#include <atomic>
#include <string>
#include <vector>

// One pair of test network namespaces (nv-<tag>-tool and nv-<tag>-dev, made
// by scripts/netns.sh) with an emulator (PE or ONVIF) in the device side, for
// integration tests that must never touch the host's network.
//
// The test process's main thread joins the tool namespace; every socket and
// thread made after that lives there too, while sockets made before stay in
// the namespace they were made in (reopen them). The namespaces are removed
// by Down, by the destructor, at exit and on SIGINT, SIGTERM, SIGHUP and
// SIGABRT, whichever comes first; a later Up also removes pairs left by test
// processes that died without any of these.
class NetnsFixture {
public:
    // Picks a tag unique on this machine: t<pid>n<number>.
    NetnsFixture();
    // Stops the emulator, leaves the tool namespace, removes both namespaces.
    ~NetnsFixture();
    NetnsFixture(const NetnsFixture&) = delete;
    NetnsFixture& operator=(const NetnsFixture&) = delete;

    // Makes the pair. False with error set when it cannot (not root, no ip
    // tool, ...); the script's own message is part of error.
    bool Up(std::string& error);
    // Moves the calling thread, which must be the process's main thread, into
    // the tool namespace. Needs Up. False with error set otherwise.
    bool EnterToolNamespace(std::string& error);
    // Returns the calling thread to the namespace it was in before Enter.
    void LeaveToolNamespace();
    // Stops the emulator and removes the pair; true when the namespaces are
    // gone afterwards. Leaves the tool namespace first.
    bool Down();

    // The emulator programs the fixture can start.
    enum class EmulatorKind { Pe, Onvif };

    // Starts the emulator (pe-emulator unless kind says otherwise; one at a
    // time) in the device namespace with args plus --i-am-in-a-netns, --log
    // and --ready-file of its own, and waits up to 5 s for it to be ready. A
    // running emulator is stopped first, and its log starts afresh. False with
    // error set (including the emulator's messages) when it does not come up.
    bool StartEmulator(const std::vector<std::string>& args, std::string& error,
                       EmulatorKind kind = EmulatorKind::Pe);
    // SIGTERM, then SIGKILL after 3 s; waits for the end. Harmless when none
    // runs. Stops the extra emulators too.
    void StopEmulator();

    // Most extra emulators at a time.
    static constexpr int kMaxExtraEmulators = 6;
    // Starts one more emulator in the device namespace beside the one of
    // StartEmulator and any earlier extras (e.g. a PE and several ONVIF ones
    // with other addresses and modes), as StartEmulator does but with a log of
    // its own, and waits up to 5 s for it to be ready. Returns its number,
    // 0 up, for ExtraLogLines; -1 with error set when it does not come up or
    // kMaxExtraEmulators already run. Running ones are left alone.
    int StartExtraEmulator(const std::vector<std::string>& args, std::string& error, EmulatorKind kind);
    // The log of extra emulator number, one entry per line.
    std::vector<std::string> ExtraLogLines(int number) const;

    // The emulator's log, one entry per line (newline removed).
    std::vector<std::string> LogLines() const;
    // The datagrams the emulator received, in order, as the hex text of its
    // "RX" lines: "50 45 00 ...".
    std::vector<std::string> ReceivedFrames() const;
    // Waits up to timeoutMs for a log line that contains text; true when found.
    bool WaitForLogLine(const std::string& text, int timeoutMs) const;

    const std::string& Tag() const { return tag; }
    std::string ToolNamespace() const { return "nv-" + tag + "-tool"; }
    std::string DeviceNamespace() const { return "nv-" + tag + "-dev"; }
    // The emulator's log file.
    const std::string& LogPath() const { return logPath; }

private:
    // Runs program in the device namespace with the harness's arguments and
    // args, and waits up to 5 s for its ready file. pid holds the process
    // from the fork on (and slotPid, when given, for the exit path); on
    // failure it is stopped and pid is -1 again.
    bool Launch(const std::vector<std::string>& args, EmulatorKind kind, const std::string& log,
                const std::string& ready, const std::string& out, pid_t& pid, std::atomic<pid_t>* slotPid,
                std::string& error);
    std::string ExtraPath(int number, const char* suffix) const;

    std::string tag;
    std::string dir; // holds the log, the ready file and the scripts' output
    std::string logPath;
    bool up = false;
    int originalNs = -1; // the namespace before Enter, while inside
    pid_t emulator = -1;
    std::vector<pid_t> extras; // extra emulators in start order, until StopEmulator
    int slot = -1; // entry in the process-wide clean-up list
};

// Base for gtest integration tests: SetUp makes a fresh pair, enters the tool
// namespace and, when EmulatorArguments() is not empty, starts the emulator
// with them; any of it failing fails the test. TearDown removes everything
// and prints the emulator's log when the test failed.
class NetnsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Arguments of the emulator started by SetUp; none: the test starts it.
    virtual std::vector<std::string> EmulatorArguments() const { return {}; }
    // Which emulator SetUp starts.
    virtual NetnsFixture::EmulatorKind Emulator() const { return NetnsFixture::EmulatorKind::Pe; }

    NetnsFixture netns;
};
