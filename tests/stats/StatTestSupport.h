// What the statistics tests share: a clock moved by hand in place of the
// system's UTC time, and a report read back as its non-zero numbers.
#pragma once

#include "base/WidgetKey.h"
#include "net/HttpClient.h"
#include "stats/StatHarvester.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <string>

// Around each statistics test: no widget key, HTTP started, no queue file.
inline void StartStatTest(const StatHarvester& harvester) {
    WidgetKey::Erase();
    HttpInit();
    DeleteFileW(harvester.queuePath.c_str());
}
inline void EndStatTest(const StatHarvester& harvester) {
    DeleteFileW(harvester.queuePath.c_str());
    HttpRelease();
    WidgetKey::Erase();
}

// Replaces the harvester's clock for its lifetime; one at a time.
class FakeStatClock {
public:
    FakeStatClock(int year, int month, int day, int hour, int minute, int second) {
        Set(year, month, day, hour, minute, second);
        utcNowProbe = &Read;
    }
    ~FakeStatClock() { utcNowProbe = previous_; }
    FakeStatClock(const FakeStatClock&) = delete;
    FakeStatClock& operator=(const FakeStatClock&) = delete;

    static void Set(int year, int month, int day, int hour, int minute, int second) {
        SYSTEMTIME time{WORD(year), WORD(month), 0, WORD(day), WORD(hour), WORD(minute),
                        WORD(second), 0};
        FILETIME file{};
        SystemTimeToFileTime(&time, &file);
        ticks_ = (ULONGLONG(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    }
    static void Advance(long long seconds) { ticks_ += ULONGLONG(seconds * 10000000); }

private:
    static void Read(FILETIME* now) { *now = FILETIME{DWORD(ticks_), DWORD(ticks_ >> 32)}; }

    static inline ULONGLONG ticks_ = 0;
    void (*previous_)(FILETIME*) = utcNowProbe;
};

// The report's non-zero counters by column name ("tab2.time" for a tab's);
// empty when the text does not read back. The writer's apostrophes are
// made into JSON's quotes, which holds for reports whose texts have none.
inline std::map<std::string, long long> NonZero(std::string text) {
    std::replace(text.begin(), text.end(), '\'', '"');
    const nlohmann::json report = nlohmann::json::parse(text, nullptr, false);
    std::map<std::string, long long> numbers;
    if (!report.is_object())
        return numbers;
    for (const auto& group : report.items()) {
        const nlohmann::json& rows = group.value();
        for (size_t row = 1; rows.is_array() && row < rows.size(); ++row) {
            for (size_t i = 0; i < rows[0].size() && i < rows[row].size(); ++i) {
                std::string name = rows[0][i].get<std::string>();
                if (group.key() == "tabs")
                    name = "tab" + std::to_string(row - 1) + "." + name;
                if (rows[row][i] != 0)
                    numbers[name] = rows[row][i].get<long long>();
            }
        }
    }
    return numbers;
}

// The report's date text; empty when there is none.
inline std::string DateOf(std::string report) {
    std::replace(report.begin(), report.end(), '\'', '"');
    const nlohmann::json parsed = nlohmann::json::parse(report, nullptr, false);
    return parsed.is_object() ? parsed.value("date", "") : "";
}
