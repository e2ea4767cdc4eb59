#include "EmulatorRuntime.h"

#include "NetnsCheck.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int)
{
    g_stop = 1;
}

double Now()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

} // namespace

bool MayStart(const char* program, int parsed, const char* help, bool inNetns, int& exitCode)
{
    if (parsed == 1) {
        std::fputs(help, stdout);
        exitCode = 0;
        return false;
    }
    if (parsed != 0) {
        exitCode = parsed;
        return false;
    }
    if (!MayRunHere(program, inNetns)) {
        exitCode = 3;
        return false;
    }
    return true;
}

LogFile::~LogFile()
{
    if (file && file != stdout)
        std::fclose(file);
}

bool LogFile::Open(const char* path, const char* program)
{
    file = path ? std::fopen(path, "w") : stdout;
    if (!file)
        std::fprintf(stderr, "%s: cannot write %s\n", program, path);
    return file != nullptr;
}

void LogFile::Line(const std::string& text)
{
    std::fputs(text.c_str(), file);
    std::fputc('\n', file);
    std::fflush(file);
}

bool WriteReadyFile(const char* path, int port)
{
    const std::string temp = std::string(path) + ".tmp";
    FILE* f = std::fopen(temp.c_str(), "w");
    if (!f)
        return false;
    std::fprintf(f, "%d %d\n", static_cast<int>(getpid()), port);
    if (std::fclose(f) != 0)
        return false;
    return std::rename(temp.c_str(), path) == 0;
}

bool ParseInt(const char* text, int low, int high, int& value)
{
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high)
        return false;
    value = static_cast<int>(v);
    return true;
}

void SleepMs(int ms)
{
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
}

void CatchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

bool StopRequested()
{
    return g_stop != 0;
}

int ServeDatagrams(int fd, int lifetimeS, const char* program, LogFile& log, const DatagramHandler& handle)
{
    const double deadline = Now() + lifetimeS;
    std::vector<std::uint8_t> buffer(65536);
    while (!g_stop) {
        const double left = deadline - Now();
        if (left <= 0) {
            log.Line("# lifetime over");
            break;
        }
        // Wakes at least every 200 ms to notice a stop or the end of the
        // lifetime.
        pollfd p = {fd, POLLIN, 0};
        int ready = poll(&p, 1, left < 0.2 ? static_cast<int>(left * 1000) + 1 : 200);
        if (ready < 0 && errno != EINTR) {
            std::perror((std::string(program) + ": poll").c_str());
            return 1;
        }
        if (ready <= 0)
            continue;
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        ssize_t n = recvfrom(fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (n < 0)
            continue;
        handle(buffer.data(), static_cast<size_t>(n), from);
    }
    return 0;
}
