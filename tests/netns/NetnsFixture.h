#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>

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
    // SIGTERM, then SIGKILL after 3 s; waits for the end. Harmless when none runs.
    void StopEmulator();

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
    std::string tag;
    std::string dir; // holds the log, the ready file and the scripts' output
    std::string logPath;
    bool up = false;
    int originalNs = -1; // the namespace before Enter, while inside
    pid_t emulator = -1;
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
