// The usage statistics: the one listener of the usage events, which turns
// them into the counters and running times of the current period, closes
// a period into a report at the first online tick of a new statistics day
// and when the widget exits, keeps the reports not yet sent in a queue that
// survives restarts in "stat_reports.json" beside the library, and sends
// them to the storage server, one GET per report.
//
// Statistics time is not the machine's: dates and days are read in a fixed
// zone, UTC+3 in winter and UTC+4 from the last Sunday of April to the last
// Sunday of October, whatever zone the machine is set to.
//
// Threads: events come from the window thread and from the worker (online,
// offline, idle); Tick and the upload run on the worker; a period closes on
// either. Every field is guarded by one recursive lock (closing a period
// from the exiting event takes it again), and the upload holds it only to
// copy a report and to remove it, never across the network. LoadReports and
// SaveReports run while no other thread uses the harvester.
//
// Life: the widget makes it with the tab shown and its panel, loads the
// queue, registers it, and raises WidgetStarted; at exit it raises
// WidgetExiting (which closes the period), stops the worker, saves the
// queue and destroys it, which unregisters it.
#pragma once

#include "base/Clock.h"
#include "base/EventListener.h"
#include "stats/Reports.h"

#include <windows.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

class Window;

constexpr wchar_t kStatQueueFile[] = L"stat_reports.json";
// The queue keeps the newest reports only, when it is saved and loaded.
constexpr size_t kKeptReports = 30;
// No queue we write comes near this; a larger file is not ours and is
// treated as unreadable.
constexpr long long kStatQueueFileLimit = 1 << 20;
// The path and query before the report text, on the storage server.
constexpr wchar_t kStatUploadPath[] = L"/orvella/stat/stat?stat=";
// Units of the upload URL, terminator included: a longer report is cut.
constexpr size_t kStatUrlCapacity = 4000;


// UTC in, statistics time out; false, with local untouched, for a null or
// invalid utc.
bool ToStatLocalTime(const SYSTEMTIME* utc, SYSTEMTIME* local);

// Whole seconds from start to now (both UTC), truncated. A clock set back
// during the stretch makes it count nothing; a stretch longer than 32 bits
// of seconds counts the most they hold.
uint32_t ElapsedSeconds(const SYSTEMTIME& start, const SYSTEMTIME& now);

class StatHarvester : public EventListener {
public:
    // currentTab: the tab the panel shows (0 to 5; anything else counts as
    // the first). panel: borrowed, may be null; the panel is shown while
    // its attached flag is set, which a period close reads also on the
    // worker thread. uid: the installation's identity text.
    StatHarvester(int currentTab, const Window* panel, std::string uid);
    // Unregisters the harvester from the broadcast.
    ~StatHarvester();
    StatHarvester(const StatHarvester&) = delete;
    StatHarvester& operator=(const StatHarvester&) = delete;

    // Applies one usage event; codes outside the known ones, and a tab
    // selection outside the six tabs, change nothing.
    void OnEvent(int event, int param) override;

    // The worker's tick: while online, closes the period when the
    // statistics day has changed, then sends the queue when it holds any.
    void Tick(bool online);
    // Closes the running stretches into the counters, queues their report
    // and starts a new period seeded with what is true at its start.
    void ClosePeriod();
    // Zeroes the counters and restarts every clock; the flags stay.
    void Reset();
    // The panel is going: from now on a closed period counts it hidden. The
    // harvester may outlive it on a worker left to finish by itself.
    void ForgetPanel();
    // Sends every queued report, oldest first, through one request context.
    // A report leaves the queue once the server answered with any status;
    // one that got no answer stays for the next tick. Stops early when the
    // HTTP client's transfers are being aborted (shutdown).
    void UploadReports();

    // Appends the newest reports of the queue file, keeping the newest
    // kKeptReports. A missing, damaged, oversized or foreign file adds none.
    // Called at start, before this run queues a report of its own: the
    // file's reports are older.
    void LoadReports();
    // Cuts the queue to the newest kKeptReports and writes it. The file is
    // replaced whole; false, with the old file left, when it cannot be.
    bool SaveReports();

    // The queued texts, oldest first: copies taken under the lock.
    std::vector<std::string> Reports() const;
    size_t ReportCount() const;

    const std::wstring queuePath;  // stat_reports.json beside the library

private:
    struct QueuedReport {
        uint64_t id;  // increasing in queue order, so the upload can find
                      // a report again after it let go of the lock
        std::string text;
    };

    // All of these run under the lock.
    void Apply(int event, int param, const SYSTEMTIME& now);
    void ResetAt(const SYSTEMTIME& now);
    void ClosePeriodAt(const SYSTEMTIME& now);
    void Append(std::string text);
    void KeepNewest();

    mutable std::recursive_mutex lock;
    StatCounters counters;
    std::deque<QueuedReport> reports;  // oldest first
    uint64_t nextReportId = 0;
    const Window* panel;    // borrowed; may be null, and is once the panel went
    const std::string uid;
    uint16_t day = 0;       // day of the month, statistics time, the period began
    int currentTab = 0;
    SYSTEMTIME runStart{};  // all UTC
    SYSTEMTIME showStart{};
    SYSTEMTIME radioStart{};
    SYSTEMTIME tabStart{};
    SYSTEMTIME onlineStart{};
    SYSTEMTIME idleStart{};
    bool radioPlaying = false;
    bool idle = false;
    bool online = false;
};
