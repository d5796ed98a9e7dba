// The report text: the compact writer's rules and the report's layout.
#include "stats/Reports.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

namespace {

TEST(CompactWriter, WritesEachKindByItsOwnRulesWhateverTheStreamWasSetTo) {
    const std::vector<std::pair<ReportValue, std::string>> cases = {
        {ReportValue::object(), "{}"},
        {ReportValue::array({1, "x", ReportValue::array(), ReportValue::object()}),
         "[1,'x',[],{}]"},
        {"it's", "'it's'"},
        {"say \"hi\" a\\b", "'say \\\"hi\\\" a\\\\b'"},
        {"\b\t\n\f\r", "'\\b\\t\\n\\f\\r'"},
        // No other escapes: other control bytes, the slash and UTF-8 go as they are.
        {"\x01/\x7f\xd0\x96", "'\x01/\x7f\xd0\x96'"},
        {ReportValue::array({3600, -7, 4294967295u, 0.5, 0.1, 1e21}),
         "[3600,-7,4294967295,0.5,0.10000000000000000555,1e+21]"},
        {ReportValue::array({true, false, nullptr}), "[true,false,null]"},
        {ReportValue::parse(R"({"z":1,"a":{},"it's \"x\"":"v"})"),
         "{'z':1,'a':{},'it's \"x\"':'v'}"},
    };
    for (const auto& [value, written] : cases) {
        std::ostringstream out;
        out << std::fixed << std::setprecision(2) << std::setw(10);
        CompactWriter(out).Write(value);
        EXPECT_EQ(out.str(), written) << value.dump();
        EXPECT_EQ(out.precision(), 2);
    }
}

TEST(Report, IsTheCompactTextOfTheFiveGroupsEachCounterUnderItsName) {
    // Every counter a different value, in the record's order, so that a
    // column out of place shows; the last is read back as a signed number.
    StatCounters counters;
    auto* fields = reinterpret_cast<uint32_t*>(&counters);
    const size_t count = sizeof(counters) / sizeof(uint32_t);
    std::iota(fields, fields + count, 1u);
    fields[count - 1] = 0xffffffffu;
    EXPECT_EQ(BuildReport("00112233445566778899aabbccddeeff", "4 21.5.2026", counters),
              "{'uid':'00112233445566778899aabbccddeeff','ver':2,'date':'4 21.5.2026',"
              "'widget':[['phones','enters','shows','hides','starts','exits','offlines',"
              "'show_time','run_time','online_time','idle_time'],[1,2,3,4,5,6,7,8,9,10,11]],"
              "'tabs':[['clicks','time','int_clicks','int_scrolls'],[14,15,16,17],"
              "[18,19,20,21],[22,23,24,25],[26,27,28,29],[30,31,32,33],[34,35,36,37]],"
              "'radio':[['listen_time','play_count'],[12,13]],"
              "'map':[['cities','points','listitems','mapviews','listviews'],[38,39,40,41,-1]]}");
}

TEST(Report, DatesAreWeekdayThenDayMonthYearWithoutLeadingZeros) {
    EXPECT_EQ(ReportDate(SYSTEMTIME{2023, 1, 0, 1, 0, 0, 0, 0}, 1), "0 1.1.2023");
    // The period's first day, with the month and year of the close.
    EXPECT_EQ(ReportDate(SYSTEMTIME{2026, 2, 1, 2, 0, 0, 0, 0}, 31), "1 31.2.2026");
}

}  // namespace
