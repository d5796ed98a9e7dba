// The worker thread and its feeds; see Worker.h.
#include "widget/Worker.h"

#include "base/Desktop.h"
#include "base/EventListener.h"
#include "base/Text.h"
#include "base/Threads.h"
#include "content/ArticleStreams.h"
#include "content/ExclusiveStream.h"
#include "content/MapStream.h"
#include "content/PictureFiles.h"
#include "content/SettingsStreams.h"
#include "net/HttpClient.h"
#include "net/Proxy.h"
#include "stats/StatHarvester.h"

#include <atomic>
#include <vector>

namespace {

DWORD SystemLastInput() {
    LASTINPUTINFO info{sizeof(info), 0};
    return GetLastInputInfo(&info) ? info.dwTime : GetTickCount();
}

uint64_t Ticks(const FILETIME& time) {
    return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

DWORD (*lastInputProbe)() = SystemLastInput;

// Everything the thread touches. Held by the Worker and by the thread: the
// last of the two to let go destroys it, on its own thread.
struct WorkerState {
    WorkerState(FeedOwner& panel, std::shared_ptr<StatHarvester> statistics)
        : relay(panel), statistics(std::move(statistics)) {}

    // The worker's loop; returns once stopped.
    void Run();
    // Makes the feeds, in table order; each builds from its cache file and
    // delivers what it built. Sets feedsMade when every build ran whole.
    void MakeFeeds();
    bool Stopped() const { return transfers.abortTransfers; }

    PanelRelay relay;
    // The stop, the requests under way and what the servers said: this
    // worker's own, entered by its thread.
    TransferGroup transfers;
    std::vector<std::unique_ptr<DataStream>> feedList;  // in table order
    // Every feed made and built from its cache before any stop: only then do
    // the feeds know every picture this run shows, and tidy their folders.
    std::atomic<bool> feedsMade{false};
    Updater updater;
    KernelHandle updateTimer;
    KernelHandle stopEvent;  // set by the stop, for good
    TickClock clock;
    IdleWatch idleWatch;
    std::shared_ptr<StatHarvester> statistics;  // may be null
};

PanelRelay::PanelRelay(FeedOwner& panel)
    : target_(panel.FeedTarget()), surface_(panel.FeedSurface()) {
    CopyText(titles_.title_1, panel.PageTitle(L"News").c_str());
    CopyText(titles_.title_5, panel.PageTitle(L"Friday").c_str());
    CopyText(titles_.title_2, panel.PageTitle(L"Club").c_str());
}

std::wstring PanelRelay::PageTitle(const wchar_t* pageName) {
    return SettingsTitle(titles_, pageName);
}

void PanelRelay::SettingsTaken(const SettingsRecord& record) {
    CopyText(titles_.title_1, record.title_1);
    CopyText(titles_.title_2, record.title_2);
    CopyText(titles_.title_5, record.title_5);
}

void WorkerState::MakeFeeds() {
    // Each a barrier of its own: a cache whose build throws costs that feed
    // this run, never the feeds after it. A stop ends the making.
    bool whole = true;
    const auto make = [&](auto made) {
        if (Stopped()) {
            whole = false;
            return;
        }
        whole = Guarded([&] { feedList.push_back(made()); }) && whole;
    };
    make([&] { return std::unique_ptr<DataStream>(new SettingsStream(&relay)); });
    make([&] { return std::unique_ptr<DataStream>(new RatesStream(&relay)); });
    make([&] { return std::unique_ptr<DataStream>(new NewsStream(&relay)); });
    make([&] { return std::unique_ptr<DataStream>(new FridayStream(&relay)); });
    make([&] { return std::unique_ptr<DataStream>(new ExclusiveStream(&relay)); });
    make([&] { return std::unique_ptr<DataStream>(new MapStream(&relay)); });
    feedsMade = whole && !Stopped();
}

Worker::Worker(FeedOwner* owner, std::shared_ptr<StatHarvester> statistics)
    : state_(std::make_shared<WorkerState>(*owner, std::move(statistics))) {
    WorkerState& state = *state_;
    UpdaterInit(state.updater);
    state.updateTimer.reset(CreateWaitableTimerW(nullptr, FALSE, kUpdateTimerName));
    state.stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // The caches are read and built on the thread, so that Load and the
    // first paint wait for none of them; their pages arrive as deliveries.
    if (state.updateTimer && state.stopEvent && TransferGroupScope::Available()) {
        std::shared_ptr<WorkerState> held = state_;
        thread_ = StartOwnThread([held] { held->Run(); }, &threadId_);
    }
    // No ticks without them (a worker that could not enter a group of its
    // own could not be stopped either): the panel shows its caches, built
    // here on the window thread.
    if (!thread_)
        state.MakeFeeds();
}

bool Worker::FeedsMade() const {
    return state_ && state_->feedsMade;
}

Worker::~Worker() {
    StopWorker();
}

uint32_t TickClock::TickElapsed() {
    FILETIME now{};
    utcNowProbe(&now);
    uint32_t step = kTickMs;
    if (started) {
        uint64_t before = Ticks(previous), after = Ticks(now);
        uint64_t ms = after > before ? (after - before) / 10000 : 0;
        step = ms > UINT32_MAX ? UINT32_MAX : uint32_t(ms);
    }
    previous = now;
    started = true;
    return step;
}

void IdleWatch::CheckUserIdle() {
    // A stopped worker's events would count in the next panel's statistics.
    if (StopRequested())
        return;
    if (GetTickCount() - lastInputProbe() > kIdleAfterMs) {
        idle = true;
        BroadcastEvent(IdleBegan, 0);
    } else if (idle) {
        idle = false;
        BroadcastEvent(IdleEnded, 0);
    }
}

void WorkerState::Run() {
    TransferGroupScope group(transfers);
    // The thread's message queue, made now: the stop's WM_QUIT must find it
    // even before the first message box.
    MSG none;
    PeekMessageW(&none, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    // Stopped before it started: the timer, named and so shared with the
    // next worker, is left alone.
    if (Stopped())
        return;
    MakeFeeds();
    // Stopped while it made them: the same.
    if (Stopped())
        return;
    // What an interrupted write of an earlier run left, before this run
    // writes anything.
    Guarded([] { RemoveLeftTemporaries(); });
    // Long past, so the first tick comes at once; then every 30 seconds.
    LARGE_INTEGER due{};
    due.QuadPart = 300000000;
    SetWaitableTimer(updateTimer.get(), &due, LONG(kTickMs), nullptr, nullptr, FALSE);
    const HWND surface = relay.FeedSurface();
    bool online = false, reported = false;
    // Each step is a barrier of its own: one that throws is given up on,
    // and the worker goes on with the next.
    while (!Stopped()) {
        bool skipWait = false;
        if (NetworkAlive()) {
            if (online) {
                const uint32_t step = clock.TickElapsed();
                for (auto& feed : feedList) {
                    if (Stopped())
                        break;
                    Guarded([&] { feed->Refresh(step); });
                }
                if (!Stopped())
                    Guarded([&] { UpdaterTick(updater, step); });
                if (statistics && !Stopped())
                    Guarded([&] { statistics->Tick(true); });
                if (!Stopped())
                    Guarded([&] { idleWatch.CheckUserIdle(); });
                if (!transfers.serverReachable && !Stopped())
                    Guarded([&] { online = TestNetwork(); });
            } else {
                Guarded([&] { online = EnsureProxyLogin(); });
                // Online now: the downloads start at once.
                skipWait = online;
            }
        }
        if (Stopped())
            break;
        if (skipWait)
            continue;
        const bool state = NetworkAlive() && online;
        if (state != reported && !Stopped()) {
            reported = state;
            PostMessageW(surface, DM_NETWORK_STATE, state ? 1 : 0, 0);
            Guarded([&] { BroadcastEvent(state ? WentOnline : WentOffline, 0); });
        }
        HANDLE wakes[] = {stopEvent.get(), updateTimer.get()};
        WaitForMultipleObjects(2, wakes, FALSE, INFINITE);
    }
}

void Worker::StopWorker() {
    WorkerState& state = *state_;
    // From here on the worker delivers nothing, its requests are closed
    // under it and later ones fail at once, its credentials dialog closes
    // and any other modal loop of its (a notice) ends.
    state.transfers.Abort();
    if (state.stopEvent)
        SetEvent(state.stopEvent.get());
    CancelProxyLogin(state.transfers);
    if (threadId_)
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    // A delivery under way waits for this thread: served meanwhile.
    const bool ended = !thread_ || WaitServingSends(thread_.get(), kStopWaitMs);
    thread_.reset();
    if (!ended) {
        ++threadsLeft;
    } else if (state.feedsMade) {
        for (auto& feed : state.feedList)
            Guarded([&] { feed->Finish(); });
    }
    // A thread still running holds the state, and the library, itself.
    state_.reset();
}
