// The usage counters of one reporting period and the report text made of
// them: a compact JSON object whose strings are quoted with apostrophes,
// sent to the storage server as the query of a GET (see StatHarvester).
//
// The report's members keep the order in which they were added, so the
// document is an ordered_json; the CompactWriter is the only writer of
// reports and follows rules of its own rather than nlohmann's dump: no
// whitespace, apostrophes around strings and member names, member names
// written as they are, and only seven escapes inside strings.
//
// Plain functions without shared state: any thread.
#pragma once

#include <windows.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <ostream>
#include <string>

using ReportValue = nlohmann::ordered_json;

constexpr int kStatTabs = 6;

// One tab's counters; the field names are the report's column names.
struct TabCounters {
    uint32_t clicks = 0;       // times the tab was selected
    uint32_t time = 0;         // seconds on screen while the user was not idle
    uint32_t int_clicks = 0;   // links activated in its pages
    uint32_t int_scrolls = 0;  // wheel turns in its pages
};

// The counts and seconds of one period, all zero at its start. The field
// names are the report's column names.
struct StatCounters {
    uint32_t phones = 0;
    uint32_t enters = 0;
    uint32_t shows = 0;
    uint32_t hides = 0;
    uint32_t starts = 0;
    uint32_t exits = 0;
    uint32_t offlines = 0;
    uint32_t show_time = 0;
    uint32_t run_time = 0;
    uint32_t online_time = 0;
    uint32_t idle_time = 0;
    uint32_t listen_time = 0;
    uint32_t play_count = 0;
    TabCounters tabs[kStatTabs];
    uint32_t cities = 0;
    uint32_t points = 0;
    uint32_t listitems = 0;
    uint32_t mapviews = 0;
    uint32_t listviews = 0;
};

// Writes one document compactly and flushes the stream. Numbers are
// written in the stream's general form at precision 20, so whole values
// come out as plain integers; the stream's locale is left as it was.
class CompactWriter {
public:
    explicit CompactWriter(std::ostream& out) : out_(out) {}
    void Write(const ReportValue& value);

private:
    void Visit(const ReportValue& value);
    void String(const std::string& text);
    void Number(double value);

    std::ostream& out_;  // borrowed
};

// The period's date as "weekday day.month.year" (0 is Sunday, no leading
// zeros): the weekday, month and year of statTime, the close in statistics
// time, and the day of the month at which the period began.
std::string ReportDate(const SYSTEMTIME& statTime, unsigned periodDay);

// The report text of one period: identity, version 2, date and the counters
// in their groups, each counter read as a signed 32-bit number.
std::string BuildReport(const std::string& uid, const std::string& date,
                        const StatCounters& counters);
