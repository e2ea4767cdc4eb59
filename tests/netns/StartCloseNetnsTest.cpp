#include "NetnsFixture.h"
#include "TestFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef NETVANE_EXE
#error "NETVANE_EXE must name the netvane program"
#endif
#ifndef NETVANE_SEND_WINDOW_CLOSE
#error "NETVANE_SEND_WINDOW_CLOSE must name the send-window-close helper"
#endif
#ifndef NETVANE_LSAN_SUPPRESSIONS
#error "NETVANE_LSAN_SUPPRESSIONS must name the program's leak suppressions"
#endif

// The real program, started again and again inside the tool namespace under
// a private X server: a search is started on both tabs by clicks, and the
// window is closed the way a user closes it while the ONVIF worker is still
// waiting for replies. Every run must end by itself, at once and cleanly.
namespace {

const int kCycles = 20;
const char kXvfb[] = "/usr/bin/Xvfb";
const char kXdotool[] = "/usr/bin/xdotool";
const char kSearchEveryDevice[] = "RX 50 45 00 00 00 01 01 00 FF FF FF FF FF FF 00 FB";

// Where the window takes the clicks, relative to its top-left corner (the
// window is 890 x 580 and, with no window manager, has no frame): the
// search button of the page shown (16..91, 8..33) and the second tab on the
// bottom edge.
const int kSearchX = 53, kSearchY = 20;
const int kOnvifTabX = 194, kOnvifTabY = 567;

// The program gets longer for start-up and exit under a sanitizer.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const int kSlowFactor = 4;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
const int kSlowFactor = 4;
#else
const int kSlowFactor = 1;
#endif
#else
const int kSlowFactor = 1;
#endif

long MonotonicMs()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

void SleepMs(int ms)
{
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
}

// Starts argv[0] with the environment env, standard output to outPath and
// standard error to errPath (/dev/null when empty), and extraFd kept open
// as itself when not -1. Returns the pid, or -1.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& outPath,
            const std::string& errPath, int extraFd = -1)
{
    std::vector<char*> argv, envp;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const std::string out = outPath.empty() ? "/dev/null" : outPath;
    const std::string err = errPath.empty() ? "/dev/null" : errPath;
    pid_t child = fork();
    if (child != 0)
        return child;
    // Should the test die, nothing it started outlives it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    int in = open("/dev/null", O_RDONLY);
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || o < 0 || e < 0)
        _exit(126);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    if (extraFd >= 0)
        fcntl(extraFd, F_SETFD, 0);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
}

// Waits up to timeoutMs for pid; true with its status when it ended.
bool WaitFor(pid_t pid, int timeoutMs, int& status)
{
    const long deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return true;
        if (done < 0 && errno != EINTR)
            return false;
        if (MonotonicMs() > deadline)
            return false;
        SleepMs(10);
    }
}

void KillAndReap(pid_t pid)
{
    int status;
    kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

std::string DescribeStatus(int status)
{
    if (WIFEXITED(status))
        return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("signal ") + strsignal(WTERMSIG(status));
    return "status " + std::to_string(status);
}

// Lines of a report that a sanitizer or the C++ run-time writes.
bool LooksLikeRuntimeReport(const std::string& text)
{
    for (const char* mark : {"Sanitizer", "runtime error", "ASan", "terminate called"})
        if (text.find(mark) != std::string::npos)
            return true;
    return false;
}

void RemoveTree(const std::string& path)
{
    if (DIR* dir = opendir(path.c_str())) {
        while (struct dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            const std::string child = path + "/" + name;
            struct stat s;
            if (lstat(child.c_str(), &s) == 0 && S_ISDIR(s.st_mode))
                RemoveTree(child);
            else
                unlink(child.c_str());
        }
        closedir(dir);
    }
    rmdir(path.c_str());
}

class StartCloseNetnsTest : public NetnsTest {
protected:
    std::vector<std::string> EmulatorArguments() const override { return {"--count", "5"}; }

    void SetUp() override
    {
        NetnsTest::SetUp();
        if (HasFatalFailure())
            return;
        std::string error;
        // Replies 0.25 s apart keep arriving while the program closes.
        onvif = netns.StartExtraEmulator({"--count", "4", "--delay-ms", "250"}, error,
                                         NetnsFixture::EmulatorKind::Onvif);
        ASSERT_GE(onvif, 0) << error;

        SweepStaleDirs("nv-startclose-", RemoveTree);
        std::string pattern = "/tmp/nv-startclose-" + std::to_string(getpid()) + "-XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr) << std::strerror(errno);
        dir = pattern;
        runtimeDir = dir + "/runtime";
        ASSERT_EQ(mkdir(runtimeDir.c_str(), 0700), 0) << std::strerror(errno);
        ASSERT_NO_FATAL_FAILURE(StartXServer());
    }

    void TearDown() override
    {
        if (xserver > 0) {
            int status;
            kill(xserver, SIGTERM);
            if (!WaitFor(xserver, 5000, status))
                KillAndReap(xserver);
        }
        if (!dir.empty())
            RemoveTree(dir);
        NetnsTest::TearDown();
    }

    // Xvfb in the tool namespace (this thread is in it), on a display number
    // of its own choice, which it reports through a pipe once it takes
    // clients. No TCP; no reset when the last client leaves.
    void StartXServer()
    {
        ASSERT_EQ(access(kXvfb, X_OK), 0) << kXvfb << " is missing (Debian package xvfb)";
        ASSERT_EQ(access(kXdotool, X_OK), 0) << kXdotool << " is missing (Debian package xdotool)";
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
        xserver = Spawn({kXvfb, "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24", "-nolisten",
                         "tcp", "-noreset"},
                        BaseEnvironment(), "", dir + "/xvfb.err", fds[1]);
        close(fds[1]);
        ASSERT_GT(xserver, 0);
        std::string number;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        ASSERT_FALSE(number.empty()) << "Xvfb gave no display: " << ReadFile(dir + "/xvfb.err");
        display = ":" + number;
    }

    // This process's environment without what would steer the program or
    // the tools elsewhere.
    std::vector<std::string> BaseEnvironment() const
    {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "QT_QPA_PLATFORM" &&
                name != "XDG_RUNTIME_DIR" && name != "XAUTHORITY")
                env.push_back(entry);
        }
        return env;
    }

    std::vector<std::string> DisplayEnvironment() const
    {
        std::vector<std::string> env = BaseEnvironment();
        env.push_back("DISPLAY=" + display);
        return env;
    }

    // Runs xdotool with args; true when it succeeded, with its standard
    // output in output when given.
    bool Xdotool(const std::vector<std::string>& args, std::string* output = nullptr)
    {
        std::vector<std::string> all = {kXdotool};
        all.insert(all.end(), args.begin(), args.end());
        const std::string out = dir + "/xdotool.out";
        pid_t pid = Spawn(all, DisplayEnvironment(), out, dir + "/xdotool.err");
        int status = 0;
        if (pid < 0)
            return false;
        if (!WaitFor(pid, 10000, status)) {
            KillAndReap(pid);
            return false;
        }
        if (output)
            *output = ReadFile(out);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    // Moves the pointer to x, y of window and clicks the left button.
    bool Click(const std::string& window, int x, int y)
    {
        return Xdotool({"mousemove", "--window", window, std::to_string(x), std::to_string(y), "click", "1"});
    }

    // The program's visible top-level window, waited for up to timeoutMs.
    std::string FindWindow(pid_t pid, int timeoutMs)
    {
        const long deadline = MonotonicMs() + timeoutMs;
        do {
            std::string output, window;
            Xdotool({"search", "--onlyvisible", "--pid", std::to_string(pid)}, &output);
            std::istringstream found(output);
            if (found >> window)
                return window;
            SleepMs(50);
        } while (MonotonicMs() < deadline);
        return std::string();
    }

    bool WaitForLines(const std::string& prefix, int atLeast, bool onvifLog, int timeoutMs)
    {
        const long deadline = MonotonicMs() + timeoutMs;
        do {
            const std::vector<std::string> lines = onvifLog ? netns.ExtraLogLines(onvif) : netns.LogLines();
            if (CountPrefixed(lines, prefix) >= atLeast)
                return true;
            SleepMs(20);
        } while (MonotonicMs() < deadline);
        return false;
    }

    // One run of the program; every check failed is reported with the cycle.
    void RunOnce(int cycle)
    {
        SCOPED_TRACE("run " + std::to_string(cycle + 1) + " of " + std::to_string(kCycles));
        // The ONVIF emulator first finishes the replies to the last run's
        // Probe, so that it logs this run's Probe as soon as it comes.
        ASSERT_TRUE(WaitForLines("# sent ", CountPrefixed(netns.ExtraLogLines(onvif), "PROBE "), true, 5000));
        const int peSearches = CountPrefixed(netns.LogLines(), kSearchEveryDevice);
        const int probes = CountPrefixed(netns.ExtraLogLines(onvif), "PROBE ");

        std::vector<std::string> env = DisplayEnvironment();
        env.push_back("QT_QPA_PLATFORM=xcb");
        env.push_back("XDG_RUNTIME_DIR=" + runtimeDir);
        // Only the D-Bus library's own leftovers are let through.
        const char* leakOptions = std::getenv("LSAN_OPTIONS");
        env.erase(std::remove_if(env.begin(), env.end(),
                                 [](const std::string& e) { return e.compare(0, 13, "LSAN_OPTIONS=") == 0; }),
                  env.end());
        env.push_back(std::string("LSAN_OPTIONS=") + (leakOptions && *leakOptions ? leakOptions + std::string(":") : "") +
                      "suppressions=" + NETVANE_LSAN_SUPPRESSIONS + ":print_suppressions=0");
        const std::string out = dir + "/netvane.out", err = dir + "/netvane.err";
        const pid_t program = Spawn({NETVANE_EXE}, env, out, err);
        ASSERT_GT(program, 0);

        const std::string window = FindWindow(program, 10000 * kSlowFactor);
        if (window.empty()) {
            KillAndReap(program);
            FAIL() << "no window appeared; stderr: " << ReadFile(err);
        }

        // The PE tab is shown at start.
        EXPECT_TRUE(Click(window, kSearchX, kSearchY));
        const bool peSearched = WaitForLines(kSearchEveryDevice, peSearches + 1, false, 3000 * kSlowFactor);

        EXPECT_TRUE(Click(window, kOnvifTabX, kOnvifTabY));
        const long clicked = MonotonicMs();
        EXPECT_TRUE(Click(window, kSearchX, kSearchY));
        // The worker now waits 5 s after the last reply; close well within
        // that, each run a little later, so that the program ends before,
        // between and after the replies reach the worker.
        const bool probed = WaitForLines("PROBE ", probes + 1, true, 850);
        SleepMs(static_cast<int>(std::max(0L, std::min(clicked + 900 - MonotonicMs(), 150L * (cycle % 5)))));
        const long closing = MonotonicMs();
        const std::string close = std::string(NETVANE_SEND_WINDOW_CLOSE) + " " + window;
        const pid_t closer = Spawn({NETVANE_SEND_WINDOW_CLOSE, window}, DisplayEnvironment(), "", dir + "/close.err");
        int closerStatus = -1;
        const bool closerEnded = closer > 0 && WaitFor(closer, 5000, closerStatus);
        if (closer > 0 && !closerEnded)
            KillAndReap(closer);

        int status = 0;
        const bool ended = WaitFor(program, 5000 * kSlowFactor, status);
        if (!ended)
            KillAndReap(program);
        const std::string errors = ReadFile(err);

        EXPECT_TRUE(peSearched) << "the PE search click sent no search";
        EXPECT_TRUE(probed) << "the ONVIF search click sent no Probe";
        EXPECT_LT(closing - clicked, 1000) << "the close came too late to catch the ONVIF search";
        EXPECT_TRUE(closerEnded && WIFEXITED(closerStatus) && WEXITSTATUS(closerStatus) == 0)
            << close << " failed: " << ReadFile(dir + "/close.err");
        ASSERT_TRUE(ended) << "the program did not end within " << 5 * kSlowFactor
                           << " s of the close; stderr:\n"
                           << errors;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << DescribeStatus(status) << "; stderr:\n"
                                                                   << errors;
        EXPECT_FALSE(LooksLikeRuntimeReport(errors)) << errors;
    }

    int onvif = -1; // the fixture's number of the ONVIF emulator
    std::string dir, runtimeDir, display;
    pid_t xserver = -1;
};

TEST_F(StartCloseNetnsTest, ClosingTheWindowDuringBothSearchesEndsTheProgramCleanlyEveryTime)
{
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        RunOnce(cycle);
        if (HasFatalFailure())
            return;
    }
    // Every run really searched on both tabs.
    EXPECT_EQ(CountPrefixed(netns.LogLines(), kSearchEveryDevice), kCycles);
    EXPECT_EQ(CountPrefixed(netns.ExtraLogLines(onvif), "PROBE "), kCycles);
}

} // namespace
