#include "NetnsFixture.h"

#include "TestFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#ifndef NETVANE_NETNS_SCRIPT
#error "NETVANE_NETNS_SCRIPT must name scripts/netns.sh"
#endif
#ifndef NETVANE_PE_EMULATOR
#error "NETVANE_PE_EMULATOR must name the pe-emulator binary"
#endif
#ifndef NETVANE_ONVIF_EMULATOR
#error "NETVANE_ONVIF_EMULATOR must name the onvif-emulator binary"
#endif

extern "C" void __sanitizer_set_death_callback(void (*callback)(void)) __attribute__((weak));

namespace {

const char kScript[] = NETVANE_NETNS_SCRIPT;
const char kPeEmulator[] = NETVANE_PE_EMULATOR;
const char kOnvifEmulator[] = NETVANE_ONVIF_EMULATOR;
const char kBash[] = "/bin/bash";

// Files the fixture may leave in its directory; the extra emulators' files
// are named as ExtraPath makes them.
#define NV_EXTRA_FILES(n) "/extra" #n ".log", "/extra" #n ".out", "/extra" #n ".ready", "/extra" #n ".ready.tmp"
const char* const kDirFiles[] = {"/emulator.log", "/emulator.out", "/ready", "/ready.tmp", "/script.out", "/down.out",
                                 NV_EXTRA_FILES(0), NV_EXTRA_FILES(1), NV_EXTRA_FILES(2), NV_EXTRA_FILES(3),
                                 NV_EXTRA_FILES(4), NV_EXTRA_FILES(5)};
#undef NV_EXTRA_FILES
const int kDirFileCount = sizeof kDirFiles / sizeof kDirFiles[0];

// What each live fixture would leave behind if the process ended abnormally.
// Everything the clean-up needs is prepared here beforehand, because it may
// run in a signal handler or while a sanitizer halts the process with its
// own locks held: it then makes raw system calls only, no library calls that
// a sanitizer intercepts (fork would wait for those locks forever). A slot's
// texts are written before `used` is set.
struct CleanupSlot {
    char tag[48];
    char dir[64];
    char files[kDirFileCount][128];
    std::atomic<pid_t> emulator;
    std::atomic<bool> pairUp; // from just before "up" until a successful "down"
    std::atomic<bool> used;
};
CleanupSlot g_slots[16];
std::atomic<bool> g_handlersInstalled{false};
std::atomic<int> g_nextNumber{1};

void RawRemoveDir(const CleanupSlot& s)
{
    if (s.dir[0] == '\0')
        return;
    for (const char* file : s.files)
        syscall(SYS_unlinkat, AT_FDCWD, file, 0);
    syscall(SYS_unlinkat, AT_FDCWD, s.dir, AT_REMOVEDIR);
}

// Runs "bash netns.sh down <tag>" and waits for it.
void RawRunDown(char* tag)
{
    char* const argv[] = {const_cast<char*>(kBash), const_cast<char*>(kScript), const_cast<char*>("down"), tag,
                          nullptr};
    long child = syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0);
    if (child == 0) {
        syscall(SYS_execve, kBash, argv, environ);
        syscall(SYS_exit_group, 127);
    }
    if (child > 0) {
        int status;
        while (syscall(SYS_wait4, child, &status, 0, 0) < 0 && errno == EINTR) {
        }
    }
}

void CleanupAll()
{
    for (CleanupSlot& s : g_slots) {
        if (!s.used.load())
            continue;
        pid_t pid = s.emulator.exchange(-1);
        if (pid > 0)
            syscall(SYS_kill, pid, SIGKILL);
        if (s.pairUp.exchange(false))
            RawRunDown(s.tag);
        RawRemoveDir(s);
        s.used.store(false);
    }
}

const int kFatalSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGABRT};

void OnFatalSignal(int signal)
{
    CleanupAll();
    std::signal(signal, SIG_DFL);
    raise(signal);
}

void InstallHandlers()
{
    if (g_handlersInstalled.exchange(true))
        return;
    std::atexit(CleanupAll);
    // A sanitizer that halts the process neither exits normally nor raises a
    // signal; it calls this hook, when it is linked in, just before dying.
    if (__sanitizer_set_death_callback)
        __sanitizer_set_death_callback(CleanupAll);
    for (int s : kFatalSignals) {
        struct sigaction action {};
        action.sa_handler = OnFatalSignal;
        sigemptyset(&action.sa_mask);
        sigaction(s, &action, nullptr);
    }
}

int TakeSlot(const std::string& tag, const std::string& dir)
{
    for (int i = 0; i < static_cast<int>(sizeof g_slots / sizeof g_slots[0]); ++i) {
        CleanupSlot& s = g_slots[i];
        if (s.used.load())
            continue;
        std::snprintf(s.tag, sizeof s.tag, "%s", tag.c_str());
        std::snprintf(s.dir, sizeof s.dir, "%s", dir.c_str());
        for (int f = 0; f < kDirFileCount; ++f)
            std::snprintf(s.files[f], sizeof s.files[f], "%s%s", dir.c_str(), kDirFiles[f]);
        s.emulator.store(-1);
        s.pairUp.store(false);
        s.used.store(true);
        return i;
    }
    return -1;
}

// Runs argv (argv[0] a path) with stdout and stderr into outPath; returns the
// exit status, or -1 when it did not end normally.
int Run(const std::vector<std::string>& args, const std::string& outPath)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long MonotonicMs()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

void SleepMs(int ms)
{
    struct timespec pause = {0, ms * 1000000L};
    nanosleep(&pause, nullptr);
}

void RemoveDir(const std::string& dir)
{
    if (dir.empty())
        return;
    for (const char* name : kDirFiles)
        unlink((dir + name).c_str());
    rmdir(dir.c_str());
}

// SIGTERM, then SIGKILL after 3 s; waits for the end and sets pid to -1.
void StopProcess(pid_t& pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    const long deadline = MonotonicMs() + 3000;
    int status;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (MonotonicMs() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        SleepMs(10);
    }
    pid = -1;
}

std::vector<std::string> ReadLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path));
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

bool FileExists(const std::string& path)
{
    struct stat s;
    return stat(path.c_str(), &s) == 0;
}

// The ip tool's path, found before forking: the child may only exec.
std::string IpTool()
{
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
        if (access(path, X_OK) == 0)
            return path;
    return std::string();
}

} // namespace

NetnsFixture::NetnsFixture()
{
    tag = "t" + std::to_string(getpid()) + "n" + std::to_string(g_nextNumber.fetch_add(1));
    std::string pattern = "/tmp/nv-netns-" + std::to_string(getpid()) + "-XXXXXX";
    if (mkdtemp(&pattern[0]))
        dir = pattern;
    logPath = dir + "/emulator.log";
    InstallHandlers();
    slot = TakeSlot(tag, dir);
}

NetnsFixture::~NetnsFixture()
{
    Down();
    RemoveDir(dir);
    if (slot >= 0)
        g_slots[slot].used.store(false);
}

bool NetnsFixture::Up(std::string& error)
{
    if (up) {
        error = "the pair " + tag + " is already up";
        return false;
    }
    if (dir.empty()) {
        error = "cannot make a temporary directory under /tmp";
        return false;
    }
    if (slot < 0) {
        error = "too many namespace pairs at once in one process";
        return false;
    }
    g_slots[slot].pairUp.store(true);
    const std::string out = dir + "/script.out";
    // What test processes that were killed outright left is removed here.
    Run({kBash, kScript, "sweep"}, out);
    SweepStaleDirs("nv-netns-", RemoveDir);
    int status = Run({kBash, kScript, "up", tag}, out);
    if (status != 0) {
        error = "cannot create the network namespaces for this test (" + std::string(kScript) + " up " + tag +
                " exited with " + std::to_string(status) + "): " + ReadFile(out);
        // The script removes what it made when it fails; once more in case
        // it was cut short, and nothing is left to retry after that.
        Run({kBash, kScript, "down", tag}, dir + "/down.out");
        g_slots[slot].pairUp.store(false);
        return false;
    }
    up = true;
    return true;
}

bool NetnsFixture::EnterToolNamespace(std::string& error)
{
    if (!up) {
        error = "the namespaces are not up";
        return false;
    }
    if (syscall(SYS_gettid) != getpid()) {
        error = "EnterToolNamespace must run on the process's main thread";
        return false;
    }
    if (originalNs >= 0)
        return true;
    const std::string path = "/run/netns/" + ToolNamespace();
    int target = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (target < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    int original = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (original < 0 || setns(target, CLONE_NEWNET) != 0) {
        error = "cannot enter " + ToolNamespace() + ": " + std::strerror(errno);
        if (original >= 0)
            close(original);
        close(target);
        return false;
    }
    close(target);
    originalNs = original;
    return true;
}

void NetnsFixture::LeaveToolNamespace()
{
    if (originalNs < 0)
        return;
    setns(originalNs, CLONE_NEWNET);
    close(originalNs);
    originalNs = -1;
}

bool NetnsFixture::Down()
{
    StopEmulator();
    LeaveToolNamespace();
    bool gone = true;
    if (slot >= 0 && g_slots[slot].pairUp.load()) {
        gone = Run({kBash, kScript, "down", tag}, dir + "/script.out") == 0;
        // A failed removal stays on the list for the exit path to retry.
        if (gone)
            g_slots[slot].pairUp.store(false);
    }
    up = false;
    return gone;
}

bool NetnsFixture::StartEmulator(const std::vector<std::string>& args, std::string& error, EmulatorKind kind)
{
    if (!up) {
        error = "the namespaces are not up";
        return false;
    }
    StopProcess(emulator);
    g_slots[slot].emulator.store(-1);
    return Launch(args, kind, logPath, dir + "/ready", dir + "/emulator.out", emulator, &g_slots[slot].emulator,
                  error);
}

int NetnsFixture::StartExtraEmulator(const std::vector<std::string>& args, std::string& error, EmulatorKind kind)
{
    if (!up) {
        error = "the namespaces are not up";
        return -1;
    }
    const int number = static_cast<int>(extras.size());
    if (number >= kMaxExtraEmulators) {
        error = "at most " + std::to_string(kMaxExtraEmulators) + " extra emulators";
        return -1;
    }
    // The exit path needs no pid of its own for these: "down" ends every
    // process of the device namespace.
    pid_t pid = -1;
    if (!Launch(args, kind, ExtraPath(number, ".log"), ExtraPath(number, ".ready"), ExtraPath(number, ".out"), pid,
                nullptr, error))
        return -1;
    extras.push_back(pid);
    return number;
}

std::string NetnsFixture::ExtraPath(int number, const char* suffix) const
{
    return dir + "/extra" + std::to_string(number) + suffix;
}

bool NetnsFixture::Launch(const std::vector<std::string>& args, EmulatorKind kind, const std::string& log,
                          const std::string& ready, const std::string& out, pid_t& pid, std::atomic<pid_t>* slotPid,
                          std::string& error)
{
    unlink(ready.c_str());
    unlink(log.c_str());

    const std::string ip = IpTool();
    if (ip.empty()) {
        error = "the ip tool is missing (Debian package iproute2)";
        return false;
    }
    const char* program = kind == EmulatorKind::Onvif ? kOnvifEmulator : kPeEmulator;
    std::vector<std::string> all = {ip,    "netns", "exec",         DeviceNamespace(), program, "--i-am-in-a-netns",
                                    "--log", log,   "--ready-file", ready};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (const std::string& a : all)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t child = fork();
    if (child < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (child == 0) {
        // Should this process die without clean-up, the emulator goes too.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() == 1)
            _exit(126);
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    pid = child;
    if (slotPid)
        slotPid->store(child);

    const long deadline = MonotonicMs() + 5000;
    while (!FileExists(ready)) {
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            if (slotPid)
                slotPid->store(-1);
            error = "the emulator ended before it was ready: " + ReadFile(out);
            return false;
        }
        if (MonotonicMs() > deadline) {
            StopProcess(pid);
            if (slotPid)
                slotPid->store(-1);
            error = "the emulator was not ready within 5 s: " + ReadFile(out);
            return false;
        }
        SleepMs(10);
    }
    return true;
}

void NetnsFixture::StopEmulator()
{
    StopProcess(emulator);
    if (slot >= 0)
        g_slots[slot].emulator.store(-1);
    for (pid_t& pid : extras)
        StopProcess(pid);
    extras.clear();
}

std::vector<std::string> NetnsFixture::LogLines() const
{
    return ReadLines(logPath);
}

std::vector<std::string> NetnsFixture::ExtraLogLines(int number) const
{
    return ReadLines(ExtraPath(number, ".log"));
}

std::vector<std::string> NetnsFixture::ReceivedFrames() const
{
    std::vector<std::string> frames;
    for (const std::string& line : LogLines()) {
        if (line == "RX")
            frames.emplace_back();
        else if (line.compare(0, 3, "RX ") == 0)
            frames.push_back(line.substr(3));
    }
    return frames;
}

bool NetnsFixture::WaitForLogLine(const std::string& text, int timeoutMs) const
{
    const long deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        for (const std::string& line : LogLines())
            if (line.find(text) != std::string::npos)
                return true;
        if (MonotonicMs() > deadline)
            return false;
        SleepMs(10);
    }
}

void NetnsTest::SetUp()
{
    std::string error;
    ASSERT_TRUE(netns.Up(error)) << error;
    ASSERT_TRUE(netns.EnterToolNamespace(error)) << error;
    const std::vector<std::string> args = EmulatorArguments();
    if (!args.empty()) {
        ASSERT_TRUE(netns.StartEmulator(args, error, Emulator())) << error;
    }
}

void NetnsTest::TearDown()
{
    if (HasFailure()) {
        std::string log;
        for (const std::string& line : netns.LogLines())
            log += line.substr(0, 200) + "\n";
        if (!log.empty())
            std::printf("emulator log:\n%s", log.c_str());
    }
    netns.StopEmulator();
    EXPECT_TRUE(netns.Down()) << "could not remove " << netns.ToolNamespace() << " and " << netns.DeviceNamespace();
}
