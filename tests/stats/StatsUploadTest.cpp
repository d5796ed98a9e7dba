// The statistics upload against the test servers: which answers take a
// report out of the queue, the request as nginx logs it, and the queue
// across offline days and restarts.
#include "ServedFiles.h"
#include "StatTestSupport.h"
#include "net/HttpClient.h"
#include "ui/Window.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

namespace {

constexpr char kUid[] = "00112233445566778899aabbccddeeff";
constexpr char kUploadPath[] = "/orvella/stat/stat?stat=";

class UploadTest : public testing::Test {
protected:
    void SetUp() override { StartStatTest(*harvester); }
    void TearDown() override { EndStatTest(*harvester); }
    // Queues count reports, the nth of the test with n phone hovers.
    void Queue(int count) {
        for (int i = 0; i < count; ++i) {
            for (int phone = 0; phone <= queued; ++phone)
                harvester->OnEvent(PhoneHovered, 0);
            harvester->ClosePeriod();
            ++queued;
        }
    }
    // The upload lines nginx logged since the test began.
    std::vector<std::string> Uploads() const { return Logged(kUploadPath, logStart); }

    const size_t logStart = AccessLogSize();
    int queued = 0;
    FakeStatClock clock{2026, 5, 21, 9, 0, 0};  // Thursday 21 May, 13:00 statistics time
    RootWindow panel{318, 468, nullptr, nullptr};
    std::unique_ptr<StatHarvester> harvester = std::make_unique<StatHarvester>(0, &panel, kUid);
};

TEST_F(UploadTest, AnyStatusTakesAReportOutOfTheQueueAndNoAnswerKeepsIt) {
    // A null status: no answer.
    const struct { std::wstring host; const char* status; } cases[] = {
        {L"127.0.0.1", "200"},
        {L"127.0.0.1/missing", "404"},
        {L"127.0.0.9", nullptr},  // nothing listens
        {Env(L"ORVELLA_FAULTY_HOST") + L"/empty", nullptr},  // closes without a byte
    };
    for (const auto& c : cases) {
        SetWidgetValue(L"StorageServer", c.host);
        const size_t logged = Uploads().size();
        Queue(2);
        harvester->UploadReports();
        if (!c.status)
            continue;  // kept: they are sent below
        const std::vector<std::string> lines = Uploads();
        EXPECT_EQ(harvester->ReportCount(), 0u) << c.status;
        ASSERT_EQ(lines.size(), logged + 2) << c.status;
        for (size_t i = logged; i < lines.size(); ++i)
            EXPECT_NE(lines[i].find(std::string("HTTP/1.1\" ") + c.status), std::string::npos);
    }
    // The four kept are sent, oldest first, once the server answers.
    SetWidgetValue(L"StorageServer", L"127.0.0.1");
    harvester->UploadReports();
    EXPECT_EQ(harvester->ReportCount(), 0u);
    const std::vector<std::string> lines = Uploads();
    ASSERT_EQ(lines.size(), 8u);
    for (int i = 4; i < 8; ++i)
        EXPECT_NE(lines[i].find("'idle_time'%5D,%5B" + std::to_string(i + 1) + ","),
                  std::string::npos) << lines[i];
}

TEST_F(UploadTest, TheRequestCarriesTheReportAsItsQuery) {
    SetWidgetValue(L"StorageServer", L"127.0.0.1");
    harvester->OnEvent(WidgetStarted, 0);
    FakeStatClock::Advance(3600);
    harvester->OnEvent(WidgetExiting, 0);
    const std::string report = harvester->Reports().at(0);
    harvester->UploadReports();
    // The characters a URL may not carry are escaped by the HTTP client;
    // the rest, apostrophes included, go as they are.
    const std::map<char, std::string> escapes = {
        {' ', "%20"}, {'[', "%5B"}, {']', "%5D"}, {'{', "%7B"}, {'}', "%7D"}};
    std::string sent;
    for (char c : report)
        sent += escapes.count(c) ? escapes.at(c) : std::string(1, c);
    const std::string line = "127.0.0.1 \"GET " + std::string(kUploadPath) + sent +
                             " HTTP/1.1\" 200 ims=\"-\" ua=\"Orvella Lumidesk\"";
    EXPECT_EQ(Uploads(), std::vector<std::string>{line});

    // A client stopping for shutdown sends nothing more.
    Queue(1);
    AbortTransfers();
    harvester->UploadReports();
    EXPECT_EQ(harvester->ReportCount(), 1u);
}

TEST_F(UploadTest, OfflineDaysQueueOneReportPerExitAndTheFirstOnlineTickSendsThemAll) {
    SetWidgetValue(L"StorageServer", L"127.0.0.1");
    // Three runs, each from 08:00 to 21:00 UTC with offline ticks every
    // 30 s, past the statistics midnight (20:00 UTC in May).
    for (int day = 0; day < 4; ++day) {
        FakeStatClock::Set(2026, 5, 21 + day, 8, 0, 0);
        harvester = std::make_unique<StatHarvester>(0, &panel, kUid);
        harvester->LoadReports();
        harvester->OnEvent(WidgetStarted, 0);
        for (int tick = 0; tick < 13 * 120; ++tick) {
            FakeStatClock::Advance(30);
            harvester->Tick(false);
        }
        EXPECT_EQ(harvester->ReportCount(), size_t(day));
        if (day == 3)
            break;
        harvester->OnEvent(WidgetExiting, 0);
        ASSERT_TRUE(harvester->SaveReports());
    }
    harvester->Tick(true);
    EXPECT_EQ(harvester->ReportCount(), 0u);
    const std::vector<std::string> lines = Uploads();
    ASSERT_EQ(lines.size(), 4u);
    // Oldest first; the last is the period that the online tick closed.
    const char* dates[] = {"'5%2021.5.2026'", "'6%2022.5.2026'", "'0%2023.5.2026'",
                           "'1%2024.5.2026'"};
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_NE(lines[i].find(dates[i]), std::string::npos) << lines[i];
}

}  // namespace
