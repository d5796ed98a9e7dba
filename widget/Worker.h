// The worker: one thread that wakes every 30 seconds and, while the machine
// is online, refreshes each feed in table order, advances the updater, lets
// the usage statistics close their day and send their reports, runs the idle
// check and watches whether the servers answer; while offline it
// asks for the proxy login first. It tells the host when the widget goes
// online or offline, and raises the usage events for that and for the
// user's idleness.
//
// Made by the desktop surface's Embedding right after the panel: the feeds
// build their first content from their cache files on the window thread
// inside StartFeeds, then the thread starts. Destroyed before the panel:
// StopWorker makes the worker end by itself (the closing flag stops every
// delivery, the transfers and a credentials dialog are ended, the timer
// wakes it) while the window thread serves the messages it may be sending.
#pragma once

#include "base/Clock.h"
#include "base/Handles.h"
#include "content/DataStream.h"
#include "net/Updater.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

constexpr wchar_t kUpdateTimerName[] = L"OrvellaLumideskUpdaterTimer";
constexpr uint32_t kTickMs = 30000;
// Idle after five minutes without input.
constexpr uint32_t kIdleAfterMs = 300000;

// Seam for the tests: the last input's tick count (the UTC time is
// base/Clock.h's).
extern DWORD (*lastInputProbe)();

// The time between ticks, from the UTC clock: the whole time since the
// previous online tick, however long the network was down.
struct TickClock {
    // ms since the previous call (kTickMs on the first); a clock set back
    // counts as no time.
    uint32_t TickElapsed();

    FILETIME previous{};
    bool started = false;
};

// The user's idleness, from the last input.
struct IdleWatch {
    // Raises IdleBegan at every tick while the user is idle, IdleEnded once.
    void CheckUserIdle();

    bool idle = false;
};

// Times the worker had to be cut short; it should always end by itself.
extern std::atomic<int> workerTerminations;

class StatHarvester;

class Worker {
public:
    // statistics: borrowed, may be null; it outlives the worker.
    explicit Worker(FeedOwner* owner, StatHarvester* statistics = nullptr);
    ~Worker();  // StopWorker
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    std::vector<std::unique_ptr<DataStream>> feedList;  // in table order
    Updater updater;
    KernelHandle updateTimer;
    std::atomic<bool> workerStop{false};
    TickClock clock;
    IdleWatch idleWatch;

private:
    void StartFeeds(FeedOwner* owner);
    static unsigned __stdcall RefreshWorker(void* self);
    void Run();
    void StopWorker();

    HWND surface;  // the desktop list view, told the online state
    StatHarvester* statistics;  // borrowed
    KernelHandle thread;
};
