#include "EventLoopProbe.h"

#include <QEventLoop>

#include <algorithm>

double MsBetween(BenchClock::time_point a, BenchClock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

StallMeter::StallMeter()
{
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, [this] { Beat(); });
    last = BenchClock::now();
    heartbeat.start();
}

void StallMeter::Reset()
{
    last = BenchClock::now();
    maxStallMs = 0;
}

void StallMeter::Pause()
{
    heartbeat.stop();
}

void StallMeter::Resume()
{
    Reset();
    heartbeat.start();
}

void StallMeter::Beat()
{
    const BenchClock::time_point now = BenchClock::now();
    maxStallMs = std::max(maxStallMs, MsBetween(last, now) - heartbeat.interval());
    last = now;
}

bool RunEventLoopUntil(const std::function<bool()>& done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setInterval(1);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, &loop, &QEventLoop::quit);
    check.start();
    giveUp.start(timeoutMs);
    loop.exec();
    return done();
}

void RunEventLoopFor(int ms)
{
    RunEventLoopUntil([] { return false; }, ms);
}
