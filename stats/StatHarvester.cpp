// The usage statistics listener, its periods, queue and upload; see
// StatHarvester.h.
#include "stats/StatHarvester.h"

#include "base/Handles.h"
#include "base/ModulePath.h"
#include "base/Text.h"
#include "content/Json.h"
#include "net/HttpClient.h"
#include "ui/Window.h"

#include <utility>

namespace {

SYSTEMTIME UtcNow() {
    FILETIME ticks{};
    utcNowProbe(&ticks);
    SYSTEMTIME now{};
    FileTimeToSystemTime(&ticks, &now);
    return now;
}

// The statistics zone: UTC+3 (standard), and UTC+4 (daylight) from 02:00
// on the last Sunday of April to 02:00 on the last Sunday of October. As
// the platform reads such a record, each change happens at 02:00 of the
// time in force before it.
TIME_ZONE_INFORMATION StatZone() {
    TIME_ZONE_INFORMATION zone{};
    zone.Bias = 0;
    zone.StandardBias = -180;
    zone.StandardDate = SYSTEMTIME{0, 10, 0, 5, 2, 0, 0, 0};  // month, weekday, 5th = last, hour
    zone.DaylightBias = -240;
    zone.DaylightDate = SYSTEMTIME{0, 4, 0, 5, 2, 0, 0, 0};
    return zone;
}

// The time in statistics time; the UTC time itself when it cannot be
// converted (an invalid time from the clock), so that a day is always set.
SYSTEMTIME StatTime(const SYSTEMTIME& utc) {
    SYSTEMTIME local = utc;
    ToStatLocalTime(&utc, &local);
    return local;
}

bool ToFileTime(const SYSTEMTIME& time, ULONGLONG& ticks) {
    FILETIME file{};
    if (!SystemTimeToFileTime(&time, &file))
        return false;
    ticks = (ULONGLONG(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    return true;
}

// Sends one report through the context: true when the server answered
// with a status, whatever it was. The body is never read.
bool SendReport(HttpRequest& context, const std::wstring& prefix, const std::string& report) {
    // The text goes into the URL as it is; a report too long for the
    // buffer is sent cut rather than never.
    wchar_t url[kStatUrlCapacity];
    CopyText(url, (prefix + ToWide(Encoding::Utf8, report.data(), report.size())).c_str());
    if (!HttpOpenRequest(context, url, L"GET"))
        return false;
    // A shutdown closes the request rather than wait for the server.
    HttpTransferScope transfer(context.request);
    return !transfer.aborted() &&
           WinHttpSendRequest(context.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                              WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
           WinHttpReceiveResponse(context.request.get(), nullptr) && HttpQueryStatus(context);
}

}  // namespace


bool ToStatLocalTime(const SYSTEMTIME* utc, SYSTEMTIME* local) {
    if (!utc || !local)
        return false;
    static const TIME_ZONE_INFORMATION zone = StatZone();
    SYSTEMTIME converted{};
    if (!SystemTimeToTzSpecificLocalTime(&zone, utc, &converted))
        return false;
    *local = converted;
    return true;
}

uint32_t ElapsedSeconds(const SYSTEMTIME& start, const SYSTEMTIME& now) {
    ULONGLONG from = 0, to = 0;
    if (!ToFileTime(start, from) || !ToFileTime(now, to) || to <= from)
        return 0;
    ULONGLONG seconds = (to - from) / 10000000;
    return seconds > UINT32_MAX ? UINT32_MAX : uint32_t(seconds);
}

StatHarvester::StatHarvester(int currentTab, const Window* panel, std::string uid)
    : queuePath(ModuleRelativePath(kStatQueueFile)),
      panel(panel),
      uid(std::move(uid)),
      currentTab(currentTab >= 0 && currentTab < kStatTabs ? currentTab : 0) {
    Reset();
}

StatHarvester::~StatHarvester() {
    UnregisterEventListener(this);
}

void StatHarvester::OnEvent(int event, int param) {
    if (event < RadioStarted || event > CityMapOpened)
        return;
    std::lock_guard<std::recursive_mutex> hold(lock);
    // Read under the lock, so that the events of both threads see the clock
    // in the order in which they are applied.
    Apply(event, param, UtcNow());
}

void StatHarvester::Apply(int event, int param, const SYSTEMTIME& now) {
    StatCounters& c = counters;
    switch (event) {
    case RadioStarted:
        radioPlaying = true;
        radioStart = now;
        ++c.play_count;
        break;
    case RadioStopped:
        if (radioPlaying)
            c.listen_time += ElapsedSeconds(radioStart, now);
        radioPlaying = false;
        break;
    case WidgetHidden:
        ++c.hides;
        c.show_time += ElapsedSeconds(showStart, now);
        break;
    case WidgetShown:
        ++c.shows;
        showStart = now;
        break;
    case WidgetStarted:
        runStart = now;
        ++c.starts;
        ++c.tabs[currentTab].clicks;
        break;
    case WidgetExiting:
        ++c.exits;
        ClosePeriodAt(now);
        break;
    case WentOnline:
        if (!online) {
            onlineStart = now;
            online = true;
        }
        break;
    case WentOffline:
        // Going offline ends a listening stretch, though the stream may
        // still sound from its buffer.
        Apply(RadioStopped, 0, now);
        if (online) {
            c.online_time += ElapsedSeconds(onlineStart, now);
            online = false;
            ++c.offlines;
        }
        break;
    case IdleBegan:
        // Raised at every idle check while the user is away: only the first
        // one ends the tab's stretch.
        if (!idle) {
            c.tabs[currentTab].time += ElapsedSeconds(tabStart, now);
            idleStart = now;
            idle = true;
        }
        break;
    case IdleEnded:
        if (idle) {
            tabStart = now;
            c.idle_time += ElapsedSeconds(idleStart, now);
            idle = false;
        }
        break;
    case TabSelected:
        // The param indexes the counters: a tab outside the six is no tab.
        if (param < 0 || param >= kStatTabs)
            break;
        if (!idle)
            c.tabs[currentTab].time += ElapsedSeconds(tabStart, now);
        tabStart = now;
        currentTab = param;
        ++c.tabs[currentTab].clicks;
        break;
    case PageLinkClicked:
        ++c.tabs[currentTab].int_clicks;
        break;
    case PageScrolled:
        ++c.tabs[currentTab].int_scrolls;
        break;
    case PhoneHovered: ++c.phones; break;
    case EnterClicked: ++c.enters; break;
    case CityChosen: ++c.cities; break;
    case OfficeOpenedFromList: ++c.points; break;
    case OfficeOpenedFromMap: ++c.listitems; break;
    case OfficeListOpened: ++c.mapviews; break;
    case CityMapOpened: ++c.listviews; break;
    default: break;
    }
}

void StatHarvester::Reset() {
    std::lock_guard<std::recursive_mutex> hold(lock);
    ResetAt(UtcNow());
}

void StatHarvester::ResetAt(const SYSTEMTIME& now) {
    counters = StatCounters{};
    tabStart = idleStart = onlineStart = runStart = radioStart = showStart = now;
    day = StatTime(now).wDay;
}

void StatHarvester::ClosePeriod() {
    std::lock_guard<std::recursive_mutex> hold(lock);
    ClosePeriodAt(UtcNow());
}

void StatHarvester::ClosePeriodAt(const SYSTEMTIME& now) {
    StatCounters& c = counters;
    const bool shown = panel && panel->attached;
    c.run_time += ElapsedSeconds(runStart, now);
    if (shown)
        c.show_time += ElapsedSeconds(showStart, now);
    if (idle)
        c.idle_time += ElapsedSeconds(idleStart, now);
    else
        c.tabs[currentTab].time += ElapsedSeconds(tabStart, now);
    if (radioPlaying)
        c.listen_time += ElapsedSeconds(radioStart, now);
    if (online)
        c.online_time += ElapsedSeconds(onlineStart, now);

    Append(BuildReport(uid, ReportDate(StatTime(now), day), c));

    // The open stretches go on from the restarted clocks; the new period
    // starts with what is true at its start.
    ResetAt(now);
    if (shown)
        c.shows = 1;
    else
        c.hides = 1;
    c.tabs[currentTab].clicks = 1;
    if (radioPlaying)
        c.play_count = 1;
}

void StatHarvester::ForgetPanel() {
    std::lock_guard<std::recursive_mutex> hold(lock);
    panel = nullptr;
}

void StatHarvester::Tick(bool online) {
    if (!online)
        return;
    {
        std::lock_guard<std::recursive_mutex> hold(lock);
        const SYSTEMTIME now = UtcNow();
        // The new period begins today: closing it sets the day.
        if (StatTime(now).wDay != day)
            ClosePeriodAt(now);
        if (reports.empty())
            return;
    }
    UploadReports();
}

void StatHarvester::UploadReports() {
    const std::wstring prefix = StorageServerUrl(kStatUploadPath);
    // One context for the whole run: the connection to the server is kept
    // from one report to the next. It closes its handles when it goes.
    HttpRequest context;
    uint64_t next = 0;  // the first id not yet tried in this run
    for (;;) {
        // The widget is shutting down: the worker must end, the rest waits.
        if (StopRequested())
            return;
        uint64_t id = 0;
        std::string text;
        {
            std::lock_guard<std::recursive_mutex> hold(lock);
            auto found = reports.begin();
            while (found != reports.end() && found->id < next)
                ++found;
            if (found == reports.end())
                return;
            id = found->id;
            text = found->text;
        }
        next = id + 1;
        // The network is never waited for under the lock: events of the
        // window thread go on meanwhile.
        if (!SendReport(context, prefix, text))
            continue;
        std::lock_guard<std::recursive_mutex> hold(lock);
        for (auto it = reports.begin(); it != reports.end(); ++it) {
            if (it->id == id) {
                reports.erase(it);
                break;
            }
        }
    }
}

void StatHarvester::Append(std::string text) {
    reports.push_back(QueuedReport{nextReportId++, std::move(text)});
}

void StatHarvester::KeepNewest() {
    while (reports.size() > kKeptReports)
        reports.pop_front();
}

void StatHarvester::LoadReports() {
    std::string text;
    JsonValue document;
    if (!ReadWholeFile(queuePath, kStatQueueFileLimit, text) ||
        !ParseJson(text.data(), text.size(), document))
        return;
    // Only the newest strings could be kept: the others are not copied.
    const JsonValue& list = JsonMember(document, "stat_reports");
    std::vector<const std::string*> newest;
    for (size_t i = JsonCount(list); i > 0 && newest.size() < kKeptReports; --i) {
        const JsonValue& item = JsonItem(list, i - 1);
        if (item.is_string())
            newest.push_back(&item.get_ref<const std::string&>());
    }
    std::lock_guard<std::recursive_mutex> hold(lock);
    for (auto it = newest.rbegin(); it != newest.rend(); ++it)
        Append(**it);
    KeepNewest();
}

bool StatHarvester::SaveReports() {
    JsonValue document = JsonValue::object();
    JsonValue& list = document["stat_reports"] = JsonValue::array();
    {
        std::lock_guard<std::recursive_mutex> hold(lock);
        KeepNewest();
        for (const QueuedReport& report : reports)
            list.push_back(report.text);
    }
    // Reports are our own UTF-8; should one not be, it is written with
    // replacement characters rather than not at all.
    const std::string text = document.dump(4, ' ', false, JsonValue::error_handler_t::replace);
    return ReplaceWholeFile(queuePath, text.data(), text.size());
}

std::vector<std::string> StatHarvester::Reports() const {
    std::lock_guard<std::recursive_mutex> hold(lock);
    std::vector<std::string> texts;
    for (const QueuedReport& report : reports)
        texts.push_back(report.text);
    return texts;
}

size_t StatHarvester::ReportCount() const {
    std::lock_guard<std::recursive_mutex> hold(lock);
    return reports.size();
}
