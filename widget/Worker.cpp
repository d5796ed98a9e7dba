// The worker thread and its feeds; see Worker.h.
#include "widget/Worker.h"

#include "base/Desktop.h"
#include "base/EventListener.h"
#include "content/ArticleStreams.h"
#include "content/ExclusiveStream.h"
#include "content/MapStream.h"
#include "content/SettingsStreams.h"
#include "net/HttpClient.h"
#include "stats/StatHarvester.h"
#include "ui/Window.h"

#include <process.h>

namespace {

// How long teardown waits for the worker to end by itself; it always does
// well within this, and only a worker stuck in the system is cut short.
constexpr DWORD kStopWaitMs = 1000;

DWORD SystemLastInput() {
    LASTINPUTINFO info{sizeof(info), 0};
    return GetLastInputInfo(&info) ? info.dwTime : GetTickCount();
}

uint64_t Ticks(const FILETIME& time) {
    return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

std::atomic<int> workerTerminations{0};
DWORD (*lastInputProbe)() = SystemLastInput;

Worker::Worker(FeedOwner* owner, StatHarvester* statistics)
    : surface(owner->FeedTarget() ? owner->FeedTarget()->surfaceWindow : nullptr),
      statistics(statistics) {
    workerStop = false;
    StartFeeds(owner);
    updateTimer.reset(CreateWaitableTimerW(nullptr, FALSE, kUpdateTimerName));
    if (!updateTimer)
        return;  // no ticks: the panel shows its caches
    thread.reset(reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, &Worker::RefreshWorker, this, 0, nullptr)));
}

Worker::~Worker() {
    StopWorker();
}

void Worker::StartFeeds(FeedOwner* owner) {
    feedList.push_back(std::make_unique<SettingsStream>(owner));
    feedList.push_back(std::make_unique<RatesStream>(owner));
    feedList.push_back(std::make_unique<NewsStream>(owner));
    feedList.push_back(std::make_unique<FridayStream>(owner));
    feedList.push_back(std::make_unique<ExclusiveStream>(owner));
    feedList.push_back(std::make_unique<MapStream>(owner));
    UpdaterInit(updater);
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
    if (GetTickCount() - lastInputProbe() > kIdleAfterMs) {
        idle = true;
        BroadcastEvent(IdleBegan, 0);
    } else if (idle) {
        idle = false;
        BroadcastEvent(IdleEnded, 0);
    }
}

unsigned __stdcall Worker::RefreshWorker(void* self) {
    static_cast<Worker*>(self)->Run();
    return 0;
}

void Worker::Run() {
    // Long past, so the first tick comes at once; then every 30 seconds.
    LARGE_INTEGER due{};
    due.QuadPart = 300000000;
    SetWaitableTimer(updateTimer.get(), &due, LONG(kTickMs), nullptr, nullptr, FALSE);
    bool online = false, reported = false;
    while (!workerStop) {
        bool skipWait = false;
        if (NetworkAlive()) {
            if (online) {
                uint32_t step = clock.TickElapsed();
                for (auto& feed : feedList) {
                    if (workerStop)
                        break;
                    feed->Refresh(step);
                }
                if (!workerStop)
                    UpdaterTick(updater, step);
                if (statistics && !workerStop)
                    statistics->Tick(true);
                idleWatch.CheckUserIdle();
                if (!Http().serverReachable && !workerStop && !TestNetwork())
                    online = false;
            } else {
                online = EnsureProxyLogin();
                // Online now: the downloads start at once.
                skipWait = online;
            }
        }
        if (!skipWait) {
            bool state = NetworkAlive() && online;
            if (state != reported) {
                reported = state;
                PostMessageW(surface, DM_NETWORK_STATE, state ? 1 : 0, 0);
                BroadcastEvent(state ? WentOnline : WentOffline, 0);
            }
            if (workerStop)
                break;
            WaitForSingleObject(updateTimer.get(), INFINITE);
        }
    }
}

void Worker::StopWorker() {
    // No delivery starts from now on, the transfers end at their next read,
    // an open credentials dialog closes, and the timer wakes the worker.
    SetClosingRequested(true);
    workerStop = true;
    AbortTransfers();
    CancelProxyLogin();
    if (updateTimer) {
        CancelWaitableTimer(updateTimer.get());
        LARGE_INTEGER soon{};
        soon.QuadPart = -1;
        SetWaitableTimer(updateTimer.get(), &soon, LONG(kTickMs), nullptr, nullptr, FALSE);
    }
    if (thread) {
        // A delivery under way waits for this thread: serve it meanwhile.
        DWORD start = GetTickCount();
        for (;;) {
            DWORD spent = GetTickCount() - start;
            if (spent >= kStopWaitMs)
                break;
            HANDLE handle = thread.get();
            DWORD woke = MsgWaitForMultipleObjects(1, &handle, FALSE, kStopWaitMs - spent,
                                                   QS_SENDMESSAGE);
            if (woke != WAIT_OBJECT_0 + 1)
                break;
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        if (WaitForSingleObject(thread.get(), 0) != WAIT_OBJECT_0) {
            ++workerTerminations;
            TerminateThread(thread.get(), 0);
        }
        thread.reset();
    }
    updateTimer.reset();
    feedList.clear();
}
