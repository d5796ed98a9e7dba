// The feeds and the worker against nginx: conditional downloads, what a
// new, unchanged or broken document does to the page and the cache file,
// the early retries, the first tick's order, the clock and the idle check.
#include "FeedTest.h"
#include "gfx/GdiPlus.h"
#include "ServedFiles.h"
#include "base/Budgets.h"
#include "base/EventListener.h"
#include "base/WidgetKey.h"
#include "content/ArticleStreams.h"
#include "content/ExclusiveStream.h"
#include "content/MapStream.h"
#include "net/HttpClient.h"
#include "ui/Delivery.h"
#include "viewer/Page.h"
#include "widget/Worker.h"
#include "base/Threads.h"

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

// tests/PoisonedHeap.cpp: allocations larger than this fail, while it is
// not 0.
extern std::atomic<size_t> failAllocationsAbove;

namespace {

// The request paths of the access log from byte from on that start with prefix.
std::vector<std::string> Requested(const std::string& prefix, size_t from = 0) {
    std::vector<std::string> paths;
    for (const std::string& line : Logged("\"GET " + prefix, from)) {
        const size_t start = line.find("\"GET ") + 5;
        paths.push_back(line.substr(start, line.find(' ', start) - start));
    }
    return paths;
}

using MakeFeed = std::unique_ptr<DataStream> (*)(RecordingPanel*);
template <class Stream>
std::unique_ptr<DataStream> Make(RecordingPanel* panel) {
    return std::make_unique<Stream>(panel);
}

bool networkUp = true;

class RefreshTest : public FeedTest<> {
protected:
    // Refreshes a due feed on a thread of its own, as the worker does,
    // while this thread, the window thread, takes what is sent to it at
    // once or, when busy, only after the worker has given up waiting.
    static void RefreshOnAWorker(DataStream& feed, bool busy) {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            TransferGroup group;
            TransferGroupScope scope(group);
            Due(feed);
            done = true;
        });
        for (DWORD start = GetTickCount(); busy && !done && GetTickCount() - start < 30000;)
            Sleep(10);
        PumpUntil([&] { return bool(done); }, 20000);
        worker.join();
        PumpMessages();
    }
    void SetUp() override {
        FeedTest::SetUp();
        WidgetKey::Erase();
        for (const wchar_t* name : {L"ContentServer", L"StorageServer"})
            SetWidgetValue(name, L"127.0.0.1");
        HttpInit();
        networkUp = true;
        networkAliveProbe = [] { return networkUp; };
        EmptyFolder(L"feeds", L"*.json");  // no test starts from a cache or leaves one
    }
    void Forget() override {
        FeedTest::Forget();
        DeliveringListView::watch = nullptr;
        HttpRelease();
        WidgetKey::Erase();
        EmptyFolder(L"feeds", L"*.json");
    }
    // Lets a stream's period run out, as the worker's step would.
    static void Due(DataStream& stream) { stream.Refresh(stream.period + 1); }
    const std::wstring cache = ProgramFolder() + L"feeds\\news.json";
};

const std::string kFirst = R"({"items": [{"title": "Первая", "body_plain": "Текст"}]})";
const std::string kSecond = R"({"items": [{"title": "Вторая"}, {"title": "Третья"}]})";

TEST_F(RefreshTest, NewUnchangedBrokenAndOverBudgetDocumentsAndTheCacheFile) {
    const size_t from = AccessLogSize();
    Serve(L"\\media\\data\\news.json", kFirst);
    NewsStream news(panel.get());  // no cache yet: nothing built
    news.Refresh(0);               // made due: the first tick downloads
    ASSERT_EQ(panel->pages.size(), 1u);
    EXPECT_EQ(ReadAll(cache), kFirst);  // written after the page was built
    const ULONGLONG written = WriteTime(cache);

    news.Refresh(news.period);  // exactly the period: not yet
    Due(news);                  // 304: page and cache file as they were
    EXPECT_EQ(panel->pages.size(), 1u);
    EXPECT_EQ(WriteTime(cache), written);
    EXPECT_EQ(Requested("/media/data/news.json", from).size(), 2u);

    Serve(L"\\media\\data\\news.json", kSecond, 100);
    Due(news);
    ASSERT_EQ(panel->pages.size(), 2u);
    EXPECT_EQ(panel->pages.back()->model->children.size(), 4u);
    EXPECT_EQ(ReadAll(cache), kSecond);

    // A document that does not parse, one with a zero byte cut short, or one
    // a byte past the budget (refused as a failed download): the page stays,
    // and so does the cache file, time and all.
    std::string big = R"({"items": [], "pad": ")";
    big += std::string(kFeedDocumentBytes - big.size() - 1, 'x') + "\"}";
    const ULONGLONG kept = WriteTime(cache);
    for (const std::string& broken : {std::string("{\"items\": ["), std::string("\0{}", 3), big}) {
        Serve(L"\\media\\data\\news.json", broken, 200);
        Due(news);
        EXPECT_EQ(panel->pages.size(), 2u);
        EXPECT_EQ(ReadAll(cache), kSecond);
        EXPECT_EQ(WriteTime(cache), kept);
    }
    EXPECT_TRUE(Listing(ProgramFolder() + L"feeds\\orv*").empty()) << "a temporary was left";

    // The cache alone builds the page on the next start.
    NewsStream restarted(panel.get());
    ASSERT_EQ(panel->pages.size(), 3u);
    EXPECT_EQ(panel->pages.back()->model->children.size(), 4u);

    // A cache past the budget is not read at the start, and its time is no
    // condition: the first tick fetches even an older document.
    std::ofstream(cache.c_str(), std::ios::binary | std::ios::trunc) << big;
    NewsStream oversized(panel.get());
    EXPECT_EQ(panel->pages.size(), 3u);
    Serve(L"\\media\\data\\news.json", kFirst);
    oversized.Refresh(0);
    ASSERT_EQ(panel->pages.size(), 4u);
    EXPECT_EQ(ReadAll(cache), kFirst);
}

// A failure is retried sooner online (in ten more minutes, the News's whole
// period) and at the next tick offline; a 304 on the hourly and the daily
// feed is no failure: due again a whole period later.
TEST_F(RefreshTest, FailuresAreRetriedEarlyAndANotModifiedAnswerIsNone) {
    NewsStream news(panel.get());
    FridayStream friday(panel.get());
    news.url = friday.url = ContentServerUrl(L"/media/data/no-such.json");
    for (DataStream* feed : {static_cast<DataStream*>(&news), static_cast<DataStream*>(&friday)})
        for (bool up : {true, false}) {
            networkUp = up;
            Due(*feed);
            EXPECT_EQ(feed->elapsed, up ? feed->period - 600000 : feed->period + 1)
                << feed->period << up;
            EXPECT_FALSE(Transfers().serverReachable);
        }

    networkUp = true;
    const struct {
        const wchar_t* name;
        std::string document;
        MakeFeed make;
    } feeds[] = {
        {L"friday.json", kFirst, Make<FridayStream>},
        {L"exclusive.json", R"({"items": []})", Make<ExclusiveStream>},
    };
    for (const auto& feed : feeds) {
        Serve(L"\\media\\data\\" + std::wstring(feed.name), feed.document);
        auto stream = feed.make(panel.get());
        stream->Refresh(0);
        const size_t delivered = panel->pages.size();
        Due(*stream);  // 304: the cache is as new as the document
        EXPECT_EQ(panel->pages.size(), delivered);
        EXPECT_EQ(stream->elapsed, 0u) << std::wstring(feed.name);
    }
}

std::vector<WPARAM> networkStates;

// The first tick downloads every feed in the table's order, the host hears
// online and offline only when the state changes, and stop ends the worker.
TEST_F(RefreshTest, TheFirstTickKeepsTableOrderStatesAreToldOnChangeAndStopEndsTheWorker) {
    // What an interrupted write of an earlier run left goes at the start
    // (which names go is ExclusiveTest's).
    const std::wstring left = ProgramFolder() + L"feeds\\orv1A2b.tmp";
    std::ofstream(left.c_str()) << "x";
    const size_t from = AccessLogSize();
    DeliveringListView::watch = [](UINT message, WPARAM wParam) {
        if (message == DM_NETWORK_STATE)
            networkStates.push_back(wParam);
    };
    networkStates.clear();
    EventRecorder events;
    // Waits long for what must come, a little for what must not.
    auto pumpUntil = [&](size_t states, unsigned ms = 10000) {
        return PumpUntil([&] { return networkStates.size() >= states; }, ms);
    };
    {
        Worker worker(panel.get());  // its deliveries come to this thread
        PumpUntil([&] { return Requested("/media/data/", from).size() >= 4; }, 20000);
        EXPECT_TRUE(pumpUntil(1)) << "never online";
        KernelHandle timer(OpenWaitableTimerW(TIMER_MODIFY_STATE, FALSE, kUpdateTimerName));
        auto tick = [&] {
            LARGE_INTEGER soon{};
            soon.QuadPart = -1;
            SetWaitableTimer(timer.get(), &soon, 0, nullptr, nullptr, FALSE);
        };
        tick();  // still online: nothing new
        EXPECT_FALSE(pumpUntil(2, 1500));
        networkUp = false;
        tick();
        EXPECT_TRUE(pumpUntil(2)) << "never offline";
        tick();
        EXPECT_FALSE(pumpUntil(3, 1500));
    }
    std::vector<std::string> requested = Requested("/media/data/", from);
    requested.resize(4);  // fewer: the first tick never came
    EXPECT_EQ(requested, (std::vector<std::string>{"/media/data/settings.json",
                                                   "/media/data/rates.json",
                                                   "/media/data/news.json",
                                                   "/media/data/friday.json"}));
    EXPECT_EQ(threadsLeft, 0);
    EXPECT_EQ(GetFileAttributesW(left.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(networkStates, (std::vector<WPARAM>{1, 0}));
    std::vector<int> told;
    std::copy_if(events.heard.begin(), events.heard.end(), std::back_inserter(told),
                 [](int event) { return event == WentOnline || event == WentOffline; });
    EXPECT_EQ(told, (std::vector<int>{WentOnline, WentOffline}));
}

// Teardown while the worker waits on a server that sends slowly, or on the
// window thread, which is not taking its delivery: nothing reaches the
// panel after, no cache file says a document was shown, and a worker stuck
// in a read ends by itself.
TEST_F(RefreshTest, TeardownRefusesTheWorkersResultsAndAStuckWorkerEndsByItself) {
    const int baseline = threadsRunning;
    // Parts a second apart: a read waits at most that long.
    const std::wstring stalled = Env(L"ORVELLA_FAULTY_HOST") + L"/slow/300000?at=";
    bool newsTaken = false;  // by a busy machine, before this thread stopped pumping
    for (const std::wstring& host : {stalled, std::wstring(L"127.0.0.1")}) {
        SetWidgetValue(L"ContentServer", host);
        const size_t from = AccessLogSize();
        HttpInit();
        size_t pages = 0, settings = 0;
        {
            Worker worker(panel.get());
            // The caches' pages first, which the worker's thread delivers.
            ASSERT_TRUE(PumpUntil([&] { return worker.FeedsMade(); }, 10000)) << "no caches";
            pages = panel->pages.size();
            settings = panel->delivered[SettingsContent];
            newsTaken |= std::any_of(panel->pages.begin(), panel->pages.end(),
                                     [](const auto& page) { return page->name == L"News"; });
            // The first request is under way (stalled), or the first result
            // waits for this thread, which is not pumping.
            Sleep(1500);
        }
        PumpMessages();
        const std::string name(host.begin(), host.end());
        EXPECT_EQ(panel->pages.size(), pages) << name;
        EXPECT_EQ(panel->delivered[SettingsContent], settings) << name;
        EXPECT_TRUE(ThreadsEndBy(baseline, 10000)) << name;
        EXPECT_TRUE(host == stalled || !Requested("/media/data/", from).empty());
    }
    EXPECT_FALSE(!newsTaken && WriteTime(cache)) << "a page never shown was taken for shown";
}

// A window thread that does not take a page within the delivery's wait: the
// page is freed, its document is not taken for shown, and the next refresh
// brings it again.
TEST_F(RefreshTest, APageTheWindowThreadDidNotTakeInTimeComesAgainAtTheNextRefresh) {
    Serve(L"\\media\\data\\news.json", kFirst);
    NewsStream news(panel.get());
    // Busy past the delivery's wait: the late message finds no record.
    RefreshOnAWorker(news, true);
    EXPECT_TRUE(panel->pages.empty());
    EXPECT_FALSE(WriteTime(cache));
    RefreshOnAWorker(news, false);
    ASSERT_EQ(panel->pages.size(), 1u);
    EXPECT_EQ(ReadAll(cache), kFirst);
}

// A feed whose parse or build throws (here: out of memory for one large
// text) is given up on for this tick; the worker goes on with the next feed.
TEST_F(RefreshTest, AFeedThatThrowsEndsItsStepAndTheNextFeedStillRefreshes) {
    Serve(L"\\media\\data\\news.json",
          "{\"items\": [{\"title\": \"" + std::string(2 << 20, 'x') + "\"}]}", 100);
    Serve(L"\\media\\data\\friday.json", kFirst, 100);
    const size_t from = AccessLogSize();
    const int baseline = threadsRunning;
    auto fridayShown = [&] {
        return std::any_of(panel->pages.begin(), panel->pages.end(),
                           [](const auto& page) { return page->name == L"Friday"; });
    };
    failAllocationsAbove = 1 << 20;
    {
        Worker worker(panel.get());
        PumpUntil(fridayShown, 20000);
        failAllocationsAbove = 0;
    }
    EXPECT_TRUE(fridayShown());
    EXPECT_FALSE(WriteTime(cache)) << "the news document was never shown";
    EXPECT_FALSE(Requested("/media/data/news.json", from).empty());
    EXPECT_TRUE(ThreadsEndBy(baseline, 5000));
}

TEST_F(RefreshTest, PicturesComeIntoTheirFolderAndHostileNamesWriteNothing) {
    const std::wstring library = ProgramFolder();
    const std::wstring parent = library + L"..\\";
    const struct {
        const wchar_t* folder;
        const char* list;  // the document's array of things with pictures
        const char* picture;  // served, under media/
        const wchar_t* name;  // as downloaded
        size_t deliveries;    // one page of offers, a city per entry
        MakeFeed make;
    } feeds[] = {
        {L"exclusive", "items", "exclusive/offer-trufel.png", L"offer-trufel.png", 1,
         Make<ExclusiveStream>},
        {L"maps", "map", "maps/novoborsk.png", L"novoborsk.png", 2, Make<MapStream>},
    };
    for (const auto& feed : feeds) {
        // Earlier workers may have left the set's pictures: start from none.
        const std::wstring folder = EmptyFolder(feed.folder);
        const auto libraryBefore = Listing(library + L"*"), parentBefore = Listing(parent + L"*");
        // One hostile name: which names are refused is the picture-name table's.
        Serve(L"\\media\\data\\" + std::wstring(feed.folder) + L".json",
              std::string("{\"") + feed.list + "\": [{\"image_url\": \"http://127.0.0.1/media/" +
                  feed.picture + "\"}, {\"image_url\": " +
                  "\"http://127.0.0.1/media/x/..\\\\..\\\\evil.png\"}]}",
              -60);
        const size_t from = AccessLogSize();
        {
            auto stream = feed.make(panel.get());
            stream->Refresh(0);
            EXPECT_FALSE(stream->accepted) << feed.list;  // some pictures could not be had
            // which asks for the document again in ten minutes, not a day
            EXPECT_EQ(stream->elapsed, stream->period - 600000) << feed.list;
            EXPECT_EQ(panel->pages.size() + panel->cities.size(), feed.deliveries) << feed.list;
            EXPECT_EQ(Listing(folder + L"*"), std::set<std::wstring>{feed.name}) << feed.list;
        }
        // The document and the one plain picture: nothing asked for the other.
        EXPECT_EQ(Requested("/", from).size(), 2u) << feed.list;
        EXPECT_EQ(Listing(library + L"*"), libraryBefore) << feed.list;
        EXPECT_EQ(Listing(parent + L"*"), parentBefore) << feed.list;
        panel->pages.clear();
        panel->cities.clear();
    }
}

void PutBigEndian(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out += char(value >> shift);
}

// Length, type, data and the CRC-32 of type and data.
void PutChunk(std::string& png, const char* type, const std::string& data) {
    const std::string body = type + data;
    uint32_t crc = 0xFFFFFFFFu;
    for (char byte : body) {
        crc ^= uint8_t(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    PutBigEndian(png, uint32_t(data.size()));
    png += body;
    PutBigEndian(png, ~crc);
}

// A black 1-bit grey PNG: a few hundred kB that declare as many pixels as
// asked. Its deflate stream is made by hand, one fixed-code block: a
// literal zero, then copies of 258 bytes from one back.
std::string FlatPng(uint32_t width, uint32_t height) {
    const uint64_t raw = uint64_t(height) * (1 + (width + 7) / 8);
    std::string deflated = "\x78\x01";
    uint32_t bits = 0;
    int count = 0;
    auto put = [&](uint32_t code, int length) {  // Huffman codes go high bit first
        for (int i = length - 1; i >= 0; --i) {
            bits |= (code >> i & 1) << count;
            if (++count == 8) {
                deflated += char(bits);
                bits = count = 0;
            }
        }
    };
    put(0b110, 3);  // the last block, fixed codes (its bits read low first)
    put(0x30, 8);   // literal 0
    uint64_t left = raw - 1;
    for (; left >= 258; left -= 258) {
        put(0xC5, 8);  // length 258
        put(0, 5);     // distance 1
    }
    for (; left > 0; --left)
        put(0x30, 8);
    put(0, 7);  // end of block
    if (count)
        deflated += char(bits);
    PutBigEndian(deflated, uint32_t(raw % 65521) << 16 | 1);  // Adler-32 of zeros
    std::string header;
    PutBigEndian(header, width);
    PutBigEndian(header, height);
    header += std::string("\x01\x00\x00\x00\x00", 5);
    std::string png = "\x89PNG\r\n\x1a\n";
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", deflated);
    PutChunk(png, "IEND", "");
    return png;
}

// The peak of PrivateBytes().
size_t PeakPrivateBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PeakPagefileUsage;  // Wine leaves PrivateUsage at 0
}

// What a careless or hostile server may send, through Refresh: each is cut
// to its budget or refused, and the process's private bytes never rise by
// more than 100 MB on the way.
TEST_F(RefreshTest, HostileDocumentsAndPicturesAreCutToTheirBudgets) {
    CreateDirectoryW((ProgramFolder() + L"exclusive").c_str(), nullptr);
    std::string offices;
    for (int i = 0; i < 300000; ++i)
        offices += i ? ",{}" : "{}";
    // The generator's own check: a flat picture of a sane size decodes.
    Serve(L"\\media\\exclusive\\flat-small.png", FlatPng(600, 900), -60);
    Serve(L"\\media\\exclusive\\flat-huge.png", FlatPng(16384, 16384), -60);
    const size_t peakBefore = PeakPrivateBytes();
    Serve(L"\\media\\data\\maps.json", R"({"map": [{"name": "Город", "offices": [)" + offices + "]}]}",
          -60);
    MapStream maps(panel.get());
    maps.Refresh(0);
    ASSERT_EQ(panel->cities.size(), 1u);
    EXPECT_EQ(panel->cities[0]->officeCount, kCityOffices);

    Serve(L"\\media\\data\\exclusive.json",
          R"({"items": [{"title": "Малая", "image_url": "http://127.0.0.1/media/exclusive/flat-small.png"},)"
          R"( {"title": "Огромная", "image_url": "http://127.0.0.1/media/exclusive/flat-huge.png"}]})",
          -60);
    ExclusiveStream exclusive(panel.get());
    exclusive.Refresh(0);
    ASSERT_EQ(panel->pages.size(), 1u);
    layoutPage(*panel->pages[0], *canvas);
    EXPECT_NE(gdip::LoadPicture(L"exclusive\\flat-small.png"), nullptr);
    EXPECT_EQ(gdip::LoadPicture(L"exclusive\\flat-huge.png"), nullptr);
    EXPECT_LT(PeakPrivateBytes() - peakBefore, 100u << 20);
}

// An offer picture renamed on the server in letter case only, on a file
// system that is not case-sensitive: kept through the start that finds
// the new name and the one that finds the document unchanged. Then a
// teardown while the worker delivers the cache (the window thread does not
// take it): the build after the stop stops short, and the picture its
// document names stays, though no build of that run admitted it.
TEST_F(RefreshTest, APictureRenamedInLetterCaseOnlySurvivesTwoRestartsAndATeardown) {
    const std::wstring folder = EmptyFolder(L"exclusive");
    const std::wstring served = Env(L"ORVELLA_WWW") + L"\\media\\exclusive\\";
    const std::string picture = ReadAll(served + L"offer-trufel.png");
    const time_t pictureTime = time(nullptr) - 3600;
    for (int restart = 0; restart < 3; ++restart) {
        const char* name = restart ? "Offer-Red.png" : "offer-red.png";
        // Renamed on the server (Wine would write the new name into the old
        // file) and dated as before: a 304 keeps the copy's name here.
        DeleteFileW((served + L"offer-red.png").c_str());
        WriteDated(served + std::wstring(name, name + std::strlen(name)), picture, pictureTime);
        if (restart < 2)  // the last start finds the document unchanged
            Serve(L"\\media\\data\\exclusive.json",
                  std::string(R"({"items": [{"title": "x", "image_url": "http://127.0.0.1/media/exclusive/)") +
                      name + "\"}]}",
                  restart ? 3600 : -7200);
        ExclusiveStream exclusive(panel.get());
        exclusive.Refresh(0);
        exclusive.Finish();  // as the worker does when it ends
        EXPECT_NE(GetFileAttributesW((folder + L"offer-red.png").c_str()), INVALID_FILE_ATTRIBUTES)
            << restart;
    }
    const int baseline = threadsRunning;
    {
        Worker worker(panel.get());
        Sleep(300);  // its first delivery, the cache's, waits for this thread
    }
    EXPECT_TRUE(ThreadsEndBy(baseline, 10000));
    EXPECT_NE(gdip::LoadPicture(L"exclusive\\Offer-Red.png"), nullptr);
}

TEST(WorkerClock, StepsCoverOutagesAndAClockSetBackCountsNothing) {
    static ULONGLONG now;
    utcNowProbe = [](FILETIME* time) {
        time->dwLowDateTime = DWORD(now);
        time->dwHighDateTime = DWORD(now >> 32);
    };
    TickClock clock;
    now = 130000000000000000ull;
    EXPECT_EQ(clock.TickElapsed(), kTickMs);  // the first tick
    const struct {
        long long ms;
        uint32_t step;
    } steps[] = {{30000, 30000}, {7200000, 7200000}, {-5000, 0}, {1, 1}};
    for (auto s : steps) {
        now += ULONGLONG(s.ms * 10000);
        EXPECT_EQ(clock.TickElapsed(), s.step) << s.ms;
    }
    utcNowProbe = [](FILETIME* time) { GetSystemTimeAsFileTime(time); };
}

TEST(WorkerIdle, IdleBeganAtEveryIdleTickAndIdleEndedOnce) {
    EventRecorder events;
    static DWORD idleFor;
    lastInputProbe = [] { return GetTickCount() - idleFor; };
    IdleWatch watch;
    for (DWORD ms : {0u, 300000u, 300001u, 360000u, 1000u, 0u})
        idleFor = ms, watch.CheckUserIdle();
    EXPECT_EQ(events.heard, (std::vector<int>{IdleBegan, IdleBegan, IdleEnded}));
    lastInputProbe = [] {
        LASTINPUTINFO info{sizeof(info), 0};
        GetLastInputInfo(&info);
        return info.dwTime;
    };
}

}  // namespace
