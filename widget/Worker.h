// The worker: one thread that wakes every 30 seconds and, while the machine
// is online, refreshes each feed in table order, advances the updater, lets
// the usage statistics close their day and send their reports, runs the idle
// check and watches whether the servers answer; while offline it
// asks for the proxy login first. It tells the host when the widget goes
// online or offline, and raises the usage events for that and for the
// user's idleness.
//
// Made by the desktop surface's Embedding right after the panel. The thread
// first makes the feeds, which build their first content from their cache
// files and deliver it, then ticks; without a thread they are made on the
// window thread, inside the constructor. Destroyed before the panel.
//
// The thread is never killed. Everything it touches is its own (the feeds,
// the updater, a transfer group, a relay that stands for the panel) or
// shared with it (the statistics), held by a record that the thread keeps
// alive; the thread holds the library (base/Threads.h). Teardown stops it:
// the group's stop closes the requests under way and refuses the worker's
// deliveries, the thread's modal loops (the credentials dialog, a message
// box) end, and its wait ends. It then waits kStopWaitMs for the thread,
// serving the messages it may be sending; a thread still inside a call that
// nothing can cut short (under Wine a read from a silent server waits for
// its time-out) is left to end by itself, touching nothing of the panel or
// of the next embedding, which gets a worker and a group of its own.
#pragma once

#include "base/Clock.h"
#include "base/Handles.h"
#include "content/DataStream.h"
#include "net/Updater.h"

#include <cstdint>
#include <memory>

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

// What the worker's feeds see of the panel: its window (named in messages,
// never dereferenced here) and its page titles. Made on the window thread
// from the panel; afterwards it follows the settings records the panel
// takes, so the worker never reads the panel itself.
class PanelRelay : public FeedOwner {
public:
    explicit PanelRelay(FeedOwner& panel);
    Window* FeedTarget() override { return target_; }
    HWND FeedSurface() override { return surface_; }
    std::wstring PageTitle(const wchar_t* pageName) override;
    void SettingsTaken(const SettingsRecord& record) override;

private:
    Window* target_;  // borrowed, and only named
    HWND surface_;
    SettingsRecord titles_{};  // only the titles are kept
};

class StatHarvester;
struct WorkerState;

class Worker {
public:
    // How long teardown waits for the thread before leaving it to end by
    // itself: the shell's thread is never kept longer.
    static constexpr unsigned kStopWaitMs = 40;

    // statistics: shared, may be null.
    explicit Worker(FeedOwner* owner, std::shared_ptr<StatHarvester> statistics = nullptr);
    ~Worker();  // StopWorker
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Whether every feed has been made and has delivered what its cache
    // holds (the tests and benchmarks wait for it). Any thread.
    bool FeedsMade() const;

private:
    void StopWorker();

    std::shared_ptr<WorkerState> state_;  // shared with the thread
    KernelHandle thread_;
    DWORD threadId_ = 0;
};
