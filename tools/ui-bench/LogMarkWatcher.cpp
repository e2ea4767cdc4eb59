#include "LogMarkWatcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>

LogMarkWatcher::~LogMarkWatcher()
{
    Stop();
}

bool LogMarkWatcher::Start(const std::string& path, const std::string& marker)
{
    Stop();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Only what is written from now on counts.
    lseek(fd, 0, SEEK_END);
    seenNs.store(0);
    line.clear();
    stopping.store(false);
    thread = std::thread(&LogMarkWatcher::Watch, this, fd, marker);
    return true;
}

void LogMarkWatcher::Stop()
{
    stopping.store(true);
    if (thread.joinable())
        thread.join();
}

BenchClock::time_point LogMarkWatcher::SeenAt() const
{
    return BenchClock::time_point(BenchClock::duration(seenNs.load()));
}

void LogMarkWatcher::Watch(int fd, std::string marker)
{
    std::string pending; // text after the last complete line
    char chunk[65536];
    while (!stopping.load()) {
        ssize_t n;
        while ((n = read(fd, chunk, sizeof chunk)) > 0) {
            pending.append(chunk, static_cast<size_t>(n));
            size_t end;
            while ((end = pending.find('\n')) != std::string::npos) {
                const size_t at = pending.find(marker);
                if (at != std::string::npos && at < end) {
                    line = pending.substr(0, end);
                    seenNs.store(BenchClock::now().time_since_epoch().count());
                    close(fd);
                    return;
                }
                pending.erase(0, end + 1);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    close(fd);
}
