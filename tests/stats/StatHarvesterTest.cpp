// The statistics harvester: statistics time, the effect of the usage events
// on a period's report, the day change, the queue file and the lock under
// two threads. The clock is moved by hand; uploads go to a loopback address
// where nothing listens, so they fail at once and the reports stay.
#include "ServedFiles.h"
#include "StatTestSupport.h"
#include "TestDesktop.h"
#include "base/Handles.h"
#include "ui/Window.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

namespace {

constexpr char kUid[] = "00112233445566778899aabbccddeeff";

SYSTEMTIME Utc(int year, int month, int day, int hour, int minute, int second) {
    return SYSTEMTIME{WORD(year), WORD(month), 0, WORD(day), WORD(hour), WORD(minute),
                      WORD(second), 0};
}

std::string Text(const SYSTEMTIME& t) {
    char text[32];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond);
    return text;
}

TEST(StatTime, IsUtcPlusThreeInWinterAndPlusFourFromLateAprilToLateOctober) {
    // In 2026 the last Sundays are 26 April and 25 October; each change
    // comes at 02:00 of the time in force before it.
    const std::pair<SYSTEMTIME, SYSTEMTIME> cases[] = {
        {Utc(2026, 1, 15, 21, 0, 0), Utc(2026, 1, 16, 0, 0, 0)},
        {Utc(2026, 7, 15, 20, 0, 0), Utc(2026, 7, 16, 0, 0, 0)},
        {Utc(2026, 4, 19, 23, 0, 0), Utc(2026, 4, 20, 2, 0, 0)},  // not the last Sunday
        {Utc(2026, 4, 25, 22, 59, 59), Utc(2026, 4, 26, 1, 59, 59)},
        {Utc(2026, 4, 25, 23, 0, 0), Utc(2026, 4, 26, 3, 0, 0)},
        {Utc(2026, 10, 24, 21, 59, 59), Utc(2026, 10, 25, 1, 59, 59)},
        {Utc(2026, 10, 24, 22, 0, 0), Utc(2026, 10, 25, 1, 0, 0)},
        {Utc(2026, 12, 31, 21, 0, 0), Utc(2027, 1, 1, 0, 0, 0)},
        // In 2027 October has five Sundays: the fourth, 24 October, is no
        // change; the last, 31 October, is.
        {Utc(2027, 10, 23, 22, 0, 0), Utc(2027, 10, 24, 2, 0, 0)},
        {Utc(2027, 10, 30, 21, 59, 59), Utc(2027, 10, 31, 1, 59, 59)},
        {Utc(2027, 10, 30, 22, 0, 0), Utc(2027, 10, 31, 1, 0, 0)},
        {Utc(2027, 4, 24, 23, 0, 0), Utc(2027, 4, 25, 3, 0, 0)},
    };
    for (const auto& [utc, expected] : cases) {
        SYSTEMTIME local{};
        EXPECT_TRUE(ToStatLocalTime(&utc, &local));
        EXPECT_EQ(Text(local), Text(expected)) << "from " << Text(utc);
    }
    SYSTEMTIME untouched = Utc(1999, 9, 9, 9, 9, 9);
    EXPECT_FALSE(ToStatLocalTime(nullptr, &untouched));
    EXPECT_EQ(Text(untouched), "1999-09-09 09:09:09");
}

TEST(StatTime, ElapsedSecondsAreTruncatedAndNeverRunBackwards) {
    const SYSTEMTIME start = Utc(2026, 1, 15, 10, 0, 0);
    SYSTEMTIME almost = start;
    almost.wMilliseconds = 999;
    EXPECT_EQ(ElapsedSeconds(start, almost), 0u);
    EXPECT_EQ(ElapsedSeconds(start, Utc(2026, 1, 16, 10, 0, 1)), 86401u);
    EXPECT_EQ(ElapsedSeconds(start, Utc(2026, 1, 15, 9, 59, 59)), 0u);  // the clock set back
    EXPECT_EQ(ElapsedSeconds(Utc(1601, 1, 1, 0, 0, 0), Utc(30000, 1, 1, 0, 0, 0)), UINT32_MAX);
}

// A harvester on a moved clock whose panel is shown.
class HarvesterTest : public testing::Test {
protected:
    void SetUp() override {
        StartStatTest(*harvester);
        SetWidgetValue(L"StorageServer", L"127.0.0.9");  // nobody listens
    }
    void TearDown() override { EndStatTest(*harvester); }
    void Restart(int tab) { harvester = std::make_unique<StatHarvester>(tab, &panel, kUid); }
    // Runs a script on a fresh harvester showing the tab: event names,
    // "tabN" and "evN" (TabSelected N, raw code N), "wN" (N seconds pass),
    // "close" and "detach" (the panel is no longer shown). Returns the
    // newest report's non-zero numbers.
    std::map<std::string, long long> Play(int tab, const std::string& script) {
        static const std::map<std::string, int> codes = {
            {"radio", RadioStarted}, {"stop", RadioStopped}, {"hidden", WidgetHidden},
            {"shown", WidgetShown}, {"start", WidgetStarted}, {"exit", WidgetExiting},
            {"online", WentOnline}, {"offline", WentOffline}, {"idle", IdleBegan},
            {"back", IdleEnded}, {"link", PageLinkClicked}, {"scroll", PageScrolled},
            {"phone", PhoneHovered}, {"enter", EnterClicked}, {"city", CityChosen},
            {"fromlist", OfficeOpenedFromList}, {"frommap", OfficeOpenedFromMap},
            {"offices", OfficeListOpened}, {"map", CityMapOpened}};
        panel.attached = true;
        Restart(tab);
        std::istringstream steps(script);
        for (std::string step; steps >> step;) {
            if (step[0] == 'w')
                FakeStatClock::Advance(std::stoll(step.substr(1)));
            else if (step == "close")
                harvester->ClosePeriod();
            else if (step == "detach")
                panel.attached = false;
            else if (step.rfind("tab", 0) == 0)
                harvester->OnEvent(TabSelected, std::stoi(step.substr(3)));
            else if (step.rfind("ev", 0) == 0)
                harvester->OnEvent(std::stoi(step.substr(2)), 0);
            else
                harvester->OnEvent(codes.at(step), 0);
        }
        const std::vector<std::string> reports = harvester->Reports();
        return NonZero(reports.empty() ? std::string() : reports.back());
    }

    FakeStatClock clock{2026, 1, 15, 10, 0, 0};
    RootWindow panel{318, 468, nullptr, nullptr};  // attached: shown
    std::unique_ptr<StatHarvester> harvester = std::make_unique<StatHarvester>(0, &panel, kUid);
};

// "name=value ..." as a report's non-zero numbers.
std::map<std::string, long long> Numbers(const std::string& list) {
    std::map<std::string, long long> numbers;
    std::istringstream items(list);
    for (std::string item; items >> item;)
        numbers[item.substr(0, item.find('='))] = std::stoll(item.substr(item.find('=') + 1));
    return numbers;
}

TEST_F(HarvesterTest, EventsMakeTheReportOfThePeriod) {
    // The report: every non-zero number.
    const struct { int tab; const char* script; const char* report; } cases[] = {
        // Each counting event, the map's each a different number of times,
        // so that no two counters can be swapped unseen.
        {4, "radio shown start link scroll phone enter enter city fromlist fromlist frommap "
            "frommap frommap offices offices offices offices map map map map map close",
         "play_count=1 shows=1 starts=1 tab4.clicks=1 tab4.int_clicks=1 tab4.int_scrolls=1 "
         "phones=1 enters=2 cities=1 points=2 listitems=3 mapviews=4 listviews=5"},
        // Unknown codes and tabs change nothing, stretches included.
        {0, "online w60 ev-1 ev20 ev2147483647 tab-1 tab6 w40 close",
         "run_time=100 show_time=100 online_time=100 tab0.time=100"},
        // The tab shown gets the time; choosing it again restarts its stretch.
        {0, "w100 tab2 w50 tab2 link w30 close",
         "run_time=180 show_time=180 tab0.time=100 tab2.clicks=2 tab2.time=80 tab2.int_clicks=1"},
        // Idle stops tab time once; a tab chosen meanwhile neither counts nor ends it.
        {0, "back w10 idle w20 idle tab1 w40 back w5 close",
         "run_time=75 show_time=75 tab0.time=10 tab1.clicks=1 tab1.time=5 idle_time=60"},
        {0, "shown w100 hidden detach w50 close",
         "shows=1 hides=1 show_time=100 run_time=150 tab0.time=150"},
        // Online from the first WentOnline to the first WentOffline.
        {0, "offline online w100 online w50 offline offline w30 close",
         "online_time=150 offlines=1 run_time=180 show_time=180 tab0.time=180"},
        // Listening ends at a stop or offline (online or not); a stray stop adds nothing.
        {0, "stop radio w30 stop w10 stop radio w20 offline w10 stop online radio w5 offline "
            "stop close",
         "listen_time=55 play_count=3 offlines=1 online_time=5 run_time=75 show_time=75 "
         "tab0.time=75"},
        // A start restarts the run clock and counts the tab shown.
        {3, "w100 start w50 close",
         "run_time=50 starts=1 tab3.clicks=1 tab3.time=150 show_time=150"},
        {0, "start shown w3600 exit",
         "starts=1 shows=1 exits=1 show_time=3600 run_time=3600 tab0.time=3600 tab0.clicks=1"},
        {0, "w10 idle w100 close", "idle_time=100 tab0.time=10 run_time=110 show_time=110"},
        // Open stretches go on from the close; the new period is seeded.
        {0, "w10 idle w100 close w50 back w5 close",
         "idle_time=50 tab0.time=5 shows=1 tab0.clicks=1 run_time=55 show_time=55"},
        {0, "online radio w100 close w30 offline detach close",
         "listen_time=30 online_time=30 play_count=1 offlines=1 shows=1 tab0.clicks=1 "
         "run_time=30 tab0.time=30"},
        {0, "detach close close", "hides=1 tab0.clicks=1"},  // an empty period
    };
    for (const auto& c : cases)
        EXPECT_EQ(Play(c.tab, c.script), Numbers(c.report)) << c.script;
}

TEST_F(HarvesterTest, TheStatisticsDayEndsAtMidnightUtcPlusThreeOrPlusFour) {
    // The first second of a statistics day, and the report of the day before.
    const std::pair<SYSTEMTIME, const char*> cases[] = {
        {Utc(2026, 1, 15, 21, 0, 0), "5 15.1.2026"},
        {Utc(2026, 7, 15, 20, 0, 0), "4 15.7.2026"},
        {Utc(2026, 4, 25, 21, 0, 0), "0 25.4.2026"},   // the night the summer begins
        {Utc(2026, 10, 25, 21, 0, 0), "1 25.10.2026"},  // the first night of winter
        {Utc(2026, 12, 31, 21, 0, 0), "5 31.1.2027"},
    };
    for (const auto& [midnight, date] : cases) {
        SCOPED_TRACE(date);
        FakeStatClock::Set(midnight.wYear, midnight.wMonth, midnight.wDay, midnight.wHour, 0, 0);
        FakeStatClock::Advance(-2);
        Restart(0);
        FakeStatClock::Advance(1);
        harvester->Tick(true);
        FakeStatClock::Advance(1);
        harvester->Tick(false);  // offline ticks close nothing
        EXPECT_EQ(harvester->ReportCount(), 0u);
        harvester->Tick(true);
        harvester->Tick(true);  // the same day again
        ASSERT_EQ(harvester->ReportCount(), 1u);
        EXPECT_EQ(DateOf(harvester->Reports()[0]), date);
    }
}

class QueueFileTest : public HarvesterTest {
protected:
    void WriteQueue(const std::string& bytes) {
        std::ofstream(harvester->queuePath.c_str(), std::ios::binary | std::ios::trunc) << bytes;
    }
    std::vector<std::string> Loaded() {
        StatHarvester fresh(0, &panel, kUid);
        fresh.LoadReports();
        return fresh.Reports();
    }
    // "r<first>" ... as texts, and as a queue file.
    static std::vector<std::string> Texts(int first, int count) {
        std::vector<std::string> texts;
        for (int i = first; i < first + count; ++i)
            texts.push_back("r" + std::to_string(i));
        return texts;
    }
    static std::string Queue(int first, int count) {
        return "{\"stat_reports\":" + nlohmann::json(Texts(first, count)).dump() + "}";
    }
    // The file system's number of the file at the queue's path.
    ULONGLONG FileIndex() {
        FileHandle file(CreateFileW(harvester->queuePath.c_str(), 0, 7, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        GetFileInformationByHandle(file.get(), &info);
        return ULONGLONG(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    }
};

TEST_F(QueueFileTest, LoadsTheNewestThirtyStringsOfTheQueueAndNothingFromAnythingElse) {
    const std::string one = "{\"stat_reports\":[\"a\"]}";
    const std::string mebibyte = one + std::string((1 << 20) - one.size(), ' ');
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"{\"stat_reports\":[\"a\",\"b'\\\"\"]}", {"a", "b'\""}},
        {"", {}},
        {"{\"stat_reports\":[\"a\",\"b\"", {}},  // cut short
        {one + "x", {}},
        {"[\"a\",\"b\"]", {}},
        {"{\"stat_reports\":\"a\"}", {}},
        {"{\"stat_reports\":{\"x\":\"a\"}}", {}},
        {"{\"reports\":[\"a\"]}", {}},
        {"{\"stat_reports\":[1,\"a\",null,{\"b\":\"c\"},[\"d\"],\"e\",true]}", {"a", "e"}},
        {std::string("\xff\xfe\x00\x01{", 5), {}},
        {"{\"stat_reports\":" + std::string(100000, '[') + "}", {}},
        {Queue(0, 31), Texts(1, 30)},
        {mebibyte, {"a"}},
        {mebibyte + ' ', {}},
    };
    for (const auto& [bytes, loaded] : cases) {
        WriteQueue(bytes);
        EXPECT_EQ(Loaded(), loaded) << bytes.substr(0, 60);
    }
    DeleteFileW(harvester->queuePath.c_str());
    EXPECT_TRUE(Loaded().empty());
}

TEST_F(QueueFileTest, SavesTheNewestThirtyAsAWholeNewFileThatLoadsBackAsItWasOrLeavesTheOld) {
    WriteQueue(Queue(0, 30));
    const std::string old = ReadAll(harvester->queuePath);
    const std::set<std::wstring> temporaries = Listing(ProgramFolder() + L"orv*.tmp");
    const ULONGLONG index = FileIndex();
    harvester->LoadReports();
    harvester->ClosePeriod();  // the 31st
    std::vector<std::string> expected = Texts(1, 29);
    expected.push_back(harvester->Reports().back());
    {
        // Another program holds the file and does not let it be replaced,
        // though it could be rewritten in place.
        FileHandle holder(CreateFileW(harvester->queuePath.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      0, nullptr));
        EXPECT_FALSE(harvester->SaveReports());
        EXPECT_EQ(ReadAll(harvester->queuePath), old);
    }
    ASSERT_TRUE(harvester->SaveReports());
    EXPECT_NE(FileIndex(), index) << "rewritten in place";
    EXPECT_EQ(Loaded(), expected);
    EXPECT_EQ(Listing(ProgramFolder() + L"orv*.tmp"), temporaries);
    EXPECT_EQ(ReadAll(harvester->queuePath).rfind("{\n    \"stat_reports\": [\n        \"r1\",", 0),
              0u);

    WriteQueue("{\"stat_reports\":[\"it's \\\"q\\\" \\\\ \\t\\u0001 \xd0\x96\"]}");
    Restart(0);
    harvester->LoadReports();
    ASSERT_TRUE(harvester->SaveReports());
    EXPECT_EQ(Loaded(), std::vector<std::string>{"it's \"q\" \\ \t\x01 \xd0\x96"});
    Restart(0);
    ASSERT_TRUE(harvester->SaveReports());
    EXPECT_EQ(ReadAll(harvester->queuePath), "{\n    \"stat_reports\": []\n}");
}

struct Hammer {
    StatHarvester* harvester;
    bool worker;  // the worker's events and ticks, or the window thread's
};
constexpr int kRounds = 50000;
constexpr int kTabChoices = kRounds / 10, kCloses = kRounds / 1000;  // as the threads make them

DWORD WINAPI HammerThread(void* argument) {
    Hammer& h = *static_cast<Hammer*>(argument);
    for (int i = 0; i < kRounds; ++i) {
        h.harvester->OnEvent(PhoneHovered, 0);
        h.harvester->OnEvent(PageLinkClicked, 0);
        if (!h.worker && i % 10 == 0)
            h.harvester->OnEvent(TabSelected, i % kStatTabs);
        if (h.worker) {
            h.harvester->OnEvent(i % 2 ? IdleBegan : IdleEnded, 0);
            h.harvester->OnEvent(i % 2 ? WentOnline : WentOffline, 0);
            if (i % 1000 == 999) {
                h.harvester->Tick(true);
                h.harvester->ClosePeriod();
            }
        }
    }
    return 0;
}

TEST_F(HarvesterTest, TwoThreadsHammeringTheHarvesterLoseNoCount) {
    Hammer window{harvester.get(), false}, worker{harvester.get(), true};
    HANDLE threads[] = {CreateThread(nullptr, 0, HammerThread, &window, 0, nullptr),
                        CreateThread(nullptr, 0, HammerThread, &worker, 0, nullptr)};
    // A lock that is never let go would hold the test for good.
    if (WaitForMultipleObjects(2, threads, TRUE, 30000) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "the threads did not end within 30 s\n");
        TerminateProcess(GetCurrentProcess(), 1);
    }
    for (HANDLE thread : threads)
        CloseHandle(thread);
    harvester->ClosePeriod();
    std::map<std::string, long long> total;
    for (const std::string& report : harvester->Reports())
        for (const auto& [name, value] : NonZero(report))
            total[name.substr(name.find('.') + 1)] += value;
    EXPECT_EQ(harvester->ReportCount(), size_t(kCloses + 1));
    EXPECT_EQ(total["phones"], 2 * kRounds);
    EXPECT_EQ(total["int_clicks"], 2 * kRounds);
    EXPECT_EQ(total["offlines"], kRounds / 2 - 1);  // the first WentOffline finds it offline
    // Each close but the last seeded one click.
    EXPECT_EQ(total["clicks"], kTabChoices + kCloses);
}

}  // namespace
