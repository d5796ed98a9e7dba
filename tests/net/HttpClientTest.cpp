// The HTTP client against real servers, which servers/with_servers.py starts:
// nginx on 127.0.0.1 (content server and storage) and, on 127.0.0.2, a
// server that gives the answers a well-behaved one never does.
//
// Winsock goes first: windows.h would otherwise bring in its older header.
#include <winsock2.h>

#include "net/HttpClient.h"
#include "base/Budgets.h"
#include "ServedFiles.h"
#include "TestDesktop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

namespace {

constexpr size_t kBodyLimit = kFeedDocumentBytes;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::wstring kFaulty = L"http://127.0.0.2";
const SYSTEMTIME kRfcExample = {1994, 11, 0, 6, 8, 49, 37, 0};  // a Sunday
constexpr time_t kRfcExampleTime = 784111777;                       // the same, since 1970

std::string Letters(size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i)
        text += static_cast<char>('a' + i % 26);
    return text;
}

// Whether the access log's last line that names path holds part.
bool LastLogged(const std::string& path, const std::string& part) {
    const std::vector<std::string> lines = Logged(" " + path + " ");
    return !lines.empty() && lines.back().find(part) != std::string::npos;
}

// A fresh folder per test, holding only what the test puts there; the
// registry points the storage server at nginx.
class HttpClientTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(HttpInit());
        SetWidgetValue(L"StorageServer", L"127.0.0.1");
        Transfers().serverReachable = false;
        folder_ = fs::temp_directory_path() /
                  (L"orvella-http-" + std::to_wstring(GetTickCount64()));
        ASSERT_TRUE(fs::create_directory(folder_));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        WidgetKey::Erase();
        HttpRelease();
    }

    // HttpGet with the body copied out and the buffer freed, as callers must.
    static HttpResult Get(const std::wstring& url, std::string* text = nullptr,
                          const SYSTEMTIME* since = nullptr, size_t limit = kBodyLimit) {
        char* body = reinterpret_cast<char*>(1);
        size_t size = 1;
        HttpResult result = HttpGet(url.c_str(), &body, &size, since, limit);
        // A body ends in a zero byte; without one the size is 0.
        EXPECT_TRUE(result == HttpOk ? body[size] == '\0' : size == 0) << result;
        if (result == HttpOk && text)
            text->assign(body, size);
        std::free(body);
        return result;
    }

    // A download leaves no temporary file behind.
    size_t Files() const { return std::distance(fs::directory_iterator(folder_), {}); }

    fs::path folder_;
};

TEST(FormatHttpDate, WritesTheRfc1123DateOrErrForImpossibleFields) {
    wchar_t text[64];
    FormatHttpDate(kRfcExample, text, 64);
    EXPECT_STREQ(text, L"Sun, 06 Nov 1994 08:49:37 GMT");
    FormatHttpDate({2031, 12, 6, 31, 23, 59, 59, 999}, text, 64);
    EXPECT_STREQ(text, L"Sat, 31 Dec 2031 23:59:59 GMT");

    // Each field in turn out of its range.
    int i = 0;
    for (const SYSTEMTIME& wrong :
         {SYSTEMTIME{1994, 11, 7, 6, 8, 49, 37, 0}, {1994, 0, 0, 6, 8, 49, 37, 0},
          {1994, 13, 0, 6, 8, 49, 37, 0}, {1994, 11, 0, 32, 8, 49, 37, 0},
          {1994, 11, 0, 6, 24, 49, 37, 0}, {1994, 11, 0, 6, 8, 60, 37, 0},
          {1994, 11, 0, 6, 8, 49, 60, 0}, {1994, 11, 0, 6, 8, 49, 37, 1000}}) {
        FormatHttpDate(wrong, text, 64);
        EXPECT_STREQ(text, L"err") << "case " << i++;
    }

    // A short buffer is cut and terminated, never overrun.
    wchar_t shortText[8] = {L'x', L'x', L'x', L'x', L'x', L'x', L'x', L'x'};
    FormatHttpDate(kRfcExample, shortText, 5);
    EXPECT_STREQ(shortText, L"Sun,");
    EXPECT_EQ(shortText[5], L'x');
}

TEST(StorageServerUrl, TakesTheOverrideOnlyWhenItIsANonEmptyStringThatFits) {
    const std::wstring builtIn = L"http://storage.orvella.example/orvella/x";
    WidgetKey::Erase();
    EXPECT_EQ(StorageServerUrl(L"/orvella/x"), builtIn);
    SetWidgetValue(L"StorageServer", L"127.0.0.1");
    EXPECT_EQ(StorageServerUrl(L"/orvella/x"), L"http://127.0.0.1/orvella/x");
    EXPECT_EQ(StorageServerUrl(nullptr), L"http://127.0.0.1");
    // An empty string, as the value helper would delete it.
    RegSetKeyValueW(HKEY_CURRENT_USER, kWidgetKeyPath, L"StorageServer", REG_SZ, L"", 2);
    EXPECT_EQ(StorageServerUrl(L"/orvella/x"), builtIn);
    // 512 units hold the host with its terminator.
    SetWidgetValue(L"StorageServer", std::wstring(511, L'h'));
    EXPECT_EQ(StorageServerUrl(nullptr), L"http://" + std::wstring(511, L'h'));
    SetWidgetValue(L"StorageServer", std::wstring(512, L'h'));
    EXPECT_EQ(StorageServerUrl(L"/orvella/x"), builtIn);
    const DWORD number = 1;
    RegSetKeyValueW(HKEY_CURRENT_USER, kWidgetKeyPath, L"StorageServer", REG_DWORD, &number,
                    sizeof(number));
    EXPECT_EQ(StorageServerUrl(L"/orvella/x"), builtIn);
    WidgetKey::Erase();
}

TEST_F(HttpClientTest, GetsBodiesOf200AndFailsOnOtherStatuses) {
    std::string text;
    EXPECT_EQ(Get(L"http://127.0.0.1/files/hello.txt", &text), HttpOk);
    EXPECT_EQ(text, ReadAll(Env(L"ORVELLA_WWW") + L"\\files\\hello.txt"));
    EXPECT_EQ(Get(L"http://127.0.0.1/files/missing.txt"), HttpFailed);
    EXPECT_EQ(Get(L"http://127.0.0.1/files/broken"), HttpFailed);
    EXPECT_EQ(Get(L"not a url"), HttpRefused);
    // Scheme and port of a URL are not used: always plain HTTP on port 80.
    EXPECT_EQ(Get(L"https://127.0.0.1/files/hello.txt"), HttpOk);
    EXPECT_EQ(Get(L"http://127.0.0.1:8080/files/hello.txt"), HttpOk);

    EXPECT_EQ(Get(L"http://127.0.0.1/orvella/stat/stat?stat=a1"), HttpOk);
    EXPECT_TRUE(LastLogged("/orvella/stat/stat?stat=a1",
                           "\"GET /orvella/stat/stat?stat=a1 HTTP/1.1\" 200 ims=\"-\" "
                           "ua=\"Orvella Lumidesk\""));
}

TEST_F(HttpClientTest, DownloadsOnlyWhatIsNewerThanTheLocalCopy) {
    const std::wstring path = (folder_ / L"news.json").wstring();
    const wchar_t* url = L"http://127.0.0.1/media/data/news.json";
    const std::string served = ReadAll(Env(L"ORVELLA_WWW") + L"\\media\\data\\news.json");

    // No local copy: no condition.
    EXPECT_TRUE(DownloadFile(url, path.c_str(), kBodyLimit));
    EXPECT_EQ(ReadAll(path), served);
    EXPECT_TRUE(LastLogged("/media/data/news.json", "ims=\"-\""));

    // An old copy: its write time is the condition, and it is replaced.
    WriteDated(path, "old", kRfcExampleTime);
    EXPECT_TRUE(DownloadFile(url, path.c_str(), kBodyLimit));
    EXPECT_TRUE(LastLogged("/media/data/news.json", "ims=\"Sun, 06 Nov 1994 08:49:37 GMT\""));
    EXPECT_EQ(ReadAll(path), served);
    EXPECT_EQ(Files(), 1u);  // and no temporary file

    // The fresh copy is not older than the server's: 304 leaves it as it is.
    const ULONGLONG written = WriteTime(path);
    Transfers().serverReachable = false;
    EXPECT_FALSE(DownloadFile(url, path.c_str(), kBodyLimit));
    EXPECT_TRUE(Transfers().serverReachable);
    EXPECT_EQ(WriteTime(path), written);
    const FILETIME file = {DWORD(written), DWORD(written >> 32)};
    SYSTEMTIME since = {};
    FileTimeToSystemTime(&file, &since);
    EXPECT_EQ(Get(url, nullptr, &since), HttpNotModified);

    // A failure keeps the copy and says the server was not reached.
    EXPECT_FALSE(
        DownloadFile(L"http://127.0.0.1/media/data/missing.json", path.c_str(), kBodyLimit));
    EXPECT_FALSE(Transfers().serverReachable);
}

// Each answer against Get and, where it fails, against a download over an
// older copy, which only a complete body may replace: the copy stays.
TEST_F(HttpClientTest, RefusesBrokenAnswersAndBodiesThatBreakTheirAnnouncedOrAllowedLength) {
    // A byte past the length: behind a plain length the platform itself
    // mostly stops reading, so the chunked body is the one that gets to the
    // client. Without a length, 100000 bytes are the most a body may have;
    // the caller's budget holds, announced or not, to the byte.
    const struct { const wchar_t* path; size_t limit; HttpResult result; } kAnswers[] = {
        {L"/exact/70000", kBodyLimit, HttpOk},
        {L"/over-chunked/70000", kBodyLimit, HttpRefused},
        {L"/short/70000", kBodyLimit, HttpFailed},
        {L"/cut/70000", kBodyLimit, HttpFailed},
        {L"/huge", kBodyLimit, HttpRefused},
        {L"/unannounced/100000", kBodyLimit, HttpOk},
        {L"/unannounced/100001", kBodyLimit, HttpRefused},
        {L"/exact/5000", 5000, HttpOk},
        {L"/exact/5000", 4999, HttpRefused},
        {L"/unannounced/5000", 5000, HttpOk},
        {L"/unannounced/5000", 4999, HttpRefused},
        {L"/no-status", kBodyLimit, HttpFailed},
        {L"/empty", kBodyLimit, HttpFailed},
    };
    const std::wstring path = (folder_ / L"feed.json").wstring();
    WriteDated(path, "the previous copy", kRfcExampleTime);
    const ULONGLONG before = WriteTime(path);
    for (const auto& answer : kAnswers) {
        SCOPED_TRACE(testing::Message() << answer.path << " within " << answer.limit);
        const std::wstring url = kFaulty + answer.path;
        std::string text;
        EXPECT_EQ(Get(url, &text, nullptr, answer.limit), answer.result);
        // A whole body is as many letters as its path says.
        if (answer.result == HttpOk)
            EXPECT_TRUE(text == Letters(wcstoul(wcsrchr(answer.path, L'/') + 1, nullptr, 10)));
        else if (answer.limit == kBodyLimit) {
            EXPECT_FALSE(DownloadFile(url.c_str(), path.c_str(), kBodyLimit));
            EXPECT_TRUE(ReadAll(path) == "the previous copy");
            EXPECT_EQ(WriteTime(path), before);
            EXPECT_EQ(Files(), 1u);  // and no temporary file
        }
    }
}

TEST_F(HttpClientTest, FailsOnStalledAnswersStopsWhenAbortedAndDownloadsWhenBroughtUpAgain) {
    // A body that stops coming and an answer that never starts, waited for
    // side by side as each takes the whole time-out.
    auto stalled = std::async(std::launch::async, [] { return Get(kFaulty + L"/stall"); });
    EXPECT_EQ(Get(kFaulty + L"/silent"), HttpFailed);
    EXPECT_EQ(stalled.get(), HttpFailed);
    {
        // What shutdown does to a transfer still running: it stops at once.
        HttpClientScope detached;
        auto shutdown = std::async(std::launch::async, [] {
            Sleep(500);
            Transfers().abortTransfers = true;
        });
        EXPECT_EQ(Get(kFaulty + L"/slow/30000"), HttpNotModified);
    }
    HttpClientScope attachedAgain;
    EXPECT_EQ(Get(L"http://127.0.0.1/files/hello.txt"), HttpOk);
    EXPECT_TRUE(DownloadFile(L"http://127.0.0.1/media/data/news.json",
                             (folder_ / L"news.json").c_str(), kBodyLimit));
}

// A server whose queue of waiting connections is full: the system drops
// every further attempt unanswered, as a host gone from the network does,
// rather than refusing it at once.
struct UnansweringServer {
    explicit UnansweringServer(const char* address) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(80);
        where.sin_addr.s_addr = inet_addr(address);
        auto* name = reinterpret_cast<const sockaddr*>(&where);
        listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (listener == INVALID_SOCKET || bind(listener, name, sizeof(where)) ||
            listen(listener, 0))
            return;
        // Never accepted: fill the queue until an attempt stays unanswered.
        for (int i = 0; i < 4 && !full; ++i) {
            SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            u_long nonBlocking = 1;
            ioctlsocket(client, FIONBIO, &nonBlocking);
            connect(client, name, sizeof(where));
            clients.push_back(client);
            fd_set connected;
            FD_ZERO(&connected);
            FD_SET(client, &connected);
            timeval wait{0, 500000};
            full = select(0, nullptr, &connected, nullptr, &wait) == 0;
        }
    }
    ~UnansweringServer() {
        Close();
        WSACleanup();  // one for each start, whether it came up or not
    }
    // With the listener gone, a waiting attempt is refused at its next try.
    void Close() {
        for (SOCKET client : clients)
            closesocket(client);
        clients.clear();
        if (listener != INVALID_SOCKET)
            closesocket(listener);
        listener = INVALID_SOCKET;
    }

    bool full = false;  // whether attempts now go unanswered here
    SOCKET listener = INVALID_SOCKET;
    std::vector<SOCKET> clients;
};

TEST_F(HttpClientTest, TestNetworkAsksTheStorageServerAndGivesUpOnOneThatNeverAnswers) {
    EXPECT_TRUE(TestNetwork());
    EXPECT_TRUE(Transfers().serverReachable);
    EXPECT_TRUE(LastLogged("/orvella/test_network", "\"HEAD /orvella/test_network"));
    // An answer other than 200 is an unreachable server...
    SetWidgetValue(L"StorageServer", L"127.0.0.1/nowhere");
    EXPECT_FALSE(TestNetwork());
    EXPECT_FALSE(Transfers().serverReachable);
    // ...while no answer at all says nothing about it.
    Transfers().serverReachable = true;
    SetWidgetValue(L"StorageServer", L"127.0.0.3");
    EXPECT_FALSE(TestNetwork());
    EXPECT_TRUE(Transfers().serverReachable);
    // Nor may a connection that is never answered hold the check up.
    UnansweringServer server("127.0.0.4");
    if (!server.full)
        GTEST_SKIP() << "no unanswering listener on 127.0.0.4:80 here";
    SetWidgetValue(L"StorageServer", L"127.0.0.4");
    auto check = std::async(std::launch::async, TestNetwork);
    // The platform's own connect time-out is a minute, twenty seconds under
    // Wine; the dialog's check must answer well before either.
    EXPECT_TRUE(PumpUntil([&] { return check.wait_for(0s) == std::future_status::ready; }, 12000))
        << "the network test still waits for the connection";
    server.Close();
    EXPECT_FALSE(check.get());
}

}  // namespace
