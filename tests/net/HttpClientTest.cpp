// The HTTP client against real servers, which servers/with_servers.py starts:
// nginx on 127.0.0.1 (content server and storage) and, on 127.0.0.2, a
// server that gives the answers a well-behaved one never does.
//
// Winsock goes first: windows.h would otherwise bring in its older header.
#include <winsock2.h>

#include "net/HttpClient.h"
#include "base/Budgets.h"
#include "ServedFiles.h"

#include "base/WidgetKey.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/utime.h>
#include <thread>
#include <vector>

namespace {

constexpr size_t kBodyLimit = kFeedDocumentBytes;

namespace fs = std::filesystem;

const std::wstring kFaulty = L"http://127.0.0.2";
const SYSTEMTIME kRfcExample = {1994, 11, 0, 6, 8, 49, 37, 0};  // a Sunday

std::string Letters(size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i)
        text += static_cast<char>('a' + i % 26);
    return text;
}

// Writes text into path, dated kRfcExample.
void WriteOld(const std::wstring& path, const std::string& text) {
    std::ofstream(path.c_str(), std::ios::binary | std::ios::trunc) << text;
    _utimbuf rfcExample = {784111777, 784111777};  // seconds since 1970
    _wutime(path.c_str(), &rfcExample);
}

// Whether the access log's last line that names path holds part.
bool Logged(const std::string& path, const std::string& part) {
    std::ifstream log(Env(L"ORVELLA_ACCESS_LOG").c_str());
    std::string line, found;
    while (std::getline(log, line))
        if (line.find(" " + path + " ") != std::string::npos)
            found = line;
    return found.find(part) != std::string::npos;
}

// A fresh folder per test, holding only what the test puts there; the
// registry points the storage server at nginx.
class HttpClientTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(HttpInit());
        SetServer(L"127.0.0.1");
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

    static void SetServer(const wchar_t* host) {
        RegSetKeyValueW(HKEY_CURRENT_USER, kWidgetKeyPath, L"StorageServer", REG_SZ, host,
                        static_cast<DWORD>((wcslen(host) + 1) * sizeof(wchar_t)));
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

    // Polls for up to seconds; whether done came true.
    static bool WaitFor(const std::atomic<bool>& done, int seconds) {
        for (int i = 0; i < seconds * 10 && !done; ++i)
            Sleep(100);
        return done;
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
    auto set = [](DWORD type, const void* data, size_t bytes) {
        RegSetKeyValueW(HKEY_CURRENT_USER, kWidgetKeyPath, L"StorageServer", type, data,
                        DWORD(bytes));
    };
    auto string = [&](const std::wstring& text) {
        set(REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    };
    WidgetKey::Erase();
    EXPECT_EQ(StorageServerUrl(L"/orvella/x"), builtIn);
    string(L"127.0.0.1");
    EXPECT_EQ(StorageServerUrl(L"/orvella/x"), L"http://127.0.0.1/orvella/x");
    EXPECT_EQ(StorageServerUrl(nullptr), L"http://127.0.0.1");
    string(L"");
    EXPECT_EQ(StorageServerUrl(L"/orvella/x"), builtIn);
    // 512 units hold the host with its terminator.
    string(std::wstring(511, L'h'));
    EXPECT_EQ(StorageServerUrl(nullptr), L"http://" + std::wstring(511, L'h'));
    string(std::wstring(512, L'h'));
    EXPECT_EQ(StorageServerUrl(L"/orvella/x"), builtIn);
    const DWORD number = 1;
    set(REG_DWORD, &number, sizeof(number));
    EXPECT_EQ(StorageServerUrl(L"/orvella/x"), builtIn);
    WidgetKey::Erase();
}

TEST_F(HttpClientTest, GetsBodiesOf200AndFailsOnOtherStatuses) {
    const std::string expected = ReadAll(Env(L"ORVELLA_WWW") + L"\\files\\hello.txt");
    std::string text;
    EXPECT_EQ(Get(L"http://127.0.0.1/files/hello.txt", &text), HttpOk);
    EXPECT_EQ(text, expected);
    EXPECT_EQ(Get(L"http://127.0.0.1/files/missing.txt"), HttpFailed);
    EXPECT_EQ(Get(L"http://127.0.0.1/files/broken"), HttpFailed);
    EXPECT_EQ(Get(L"not a url"), HttpRefused);
    // Scheme and port of a URL are not used: always plain HTTP on port 80.
    EXPECT_EQ(Get(L"https://127.0.0.1/files/hello.txt"), HttpOk);
    EXPECT_EQ(Get(L"http://127.0.0.1:8080/files/hello.txt"), HttpOk);

    EXPECT_EQ(Get(L"http://127.0.0.1/orvella/stat/stat?stat=a1"), HttpOk);
    EXPECT_TRUE(Logged("/orvella/stat/stat?stat=a1",
                       "\"GET /orvella/stat/stat?stat=a1 HTTP/1.1\" 200"));
    EXPECT_TRUE(Logged("/orvella/stat/stat?stat=a1", "ua=\"Orvella Lumidesk\""));
}

TEST_F(HttpClientTest, DownloadsOnlyWhatIsNewerThanTheLocalCopy) {
    const std::wstring path = (folder_ / L"news.json").wstring();
    const wchar_t* url = L"http://127.0.0.1/media/data/news.json";
    const std::string served = ReadAll(Env(L"ORVELLA_WWW") + L"\\media\\data\\news.json");

    // No local copy: no condition.
    EXPECT_TRUE(DownloadFile(url, path.c_str(), kBodyLimit));
    EXPECT_EQ(ReadAll(path), served);
    EXPECT_TRUE(Logged("/media/data/news.json", "ims=\"-\""));

    // An old copy: its write time is the condition, and it is replaced.
    WriteOld(path, "old");
    EXPECT_TRUE(DownloadFile(url, path.c_str(), kBodyLimit));
    EXPECT_TRUE(Logged("/media/data/news.json", "ims=\"Sun, 06 Nov 1994 08:49:37 GMT\""));
    EXPECT_EQ(ReadAll(path), served);
    EXPECT_TRUE(Transfers().serverReachable);

    // The fresh copy is not older than the server's: 304 leaves it as it is.
    const ULONGLONG written = WriteTime(path);
    Transfers().serverReachable = false;
    EXPECT_FALSE(DownloadFile(url, path.c_str(), kBodyLimit));
    EXPECT_TRUE(Transfers().serverReachable);
    EXPECT_EQ(ReadAll(path), served);
    EXPECT_EQ(WriteTime(path), written);
    EXPECT_FALSE(Logged("/media/data/news.json", "ims=\"-\""));
    const FILETIME file = {DWORD(written), DWORD(written >> 32)};
    SYSTEMTIME since = {};
    FileTimeToSystemTime(&file, &since);
    EXPECT_EQ(Get(url, nullptr, &since), HttpNotModified);

    // A failure keeps the copy and says the server was not reached.
    EXPECT_FALSE(DownloadFile(L"http://127.0.0.1/media/data/missing.json", path.c_str(), kBodyLimit));
    EXPECT_FALSE(Transfers().serverReachable);
}

TEST_F(HttpClientTest, ReplacesTheLocalCopyOnlyWithACompleteBody) {
    const std::wstring path = (folder_ / L"feed.json").wstring();
    WriteOld(path, "the previous copy");
    const ULONGLONG before = WriteTime(path);
    for (const wchar_t* fault : {L"/short/5000", L"/cut/5000", L"/over-chunked/5000", L"/huge"}) {
        EXPECT_FALSE(DownloadFile((kFaulty + fault).c_str(), path.c_str(), kBodyLimit)) << fault;
        EXPECT_TRUE(ReadAll(path) == "the previous copy") << fault;
        EXPECT_EQ(WriteTime(path), before) << fault;
        EXPECT_EQ(Files(), 1u) << fault;
    }
    EXPECT_TRUE(DownloadFile((kFaulty + L"/exact/5000").c_str(), path.c_str(), kBodyLimit));
    EXPECT_TRUE(ReadAll(path) == Letters(5000));
    EXPECT_EQ(Files(), 1u);
}

TEST_F(HttpClientTest, RefusesBodiesThatBreakTheirAnnouncedOrAllowedLength) {
    std::string text;
    EXPECT_EQ(Get(kFaulty + L"/exact/70000", &text), HttpOk);
    EXPECT_TRUE(text == Letters(70000));
    // A byte past the length. Behind a plain length the platform itself
    // mostly stops reading, so the chunked body is the one that gets here.
    EXPECT_EQ(Get(kFaulty + L"/over-chunked/70000"), HttpRefused);
    EXPECT_EQ(Get(kFaulty + L"/short/70000"), HttpFailed);
    EXPECT_EQ(Get(kFaulty + L"/cut/70000"), HttpFailed);
    EXPECT_EQ(Get(kFaulty + L"/huge"), HttpRefused);
    // Without a length, 100000 bytes are the most a body may have.
    EXPECT_EQ(Get(kFaulty + L"/unannounced/100000", &text), HttpOk);
    EXPECT_TRUE(text == Letters(100000));
    EXPECT_EQ(Get(kFaulty + L"/unannounced/100001"), HttpRefused);
    // The caller's budget, announced or not, to the byte.
    for (const wchar_t* kind : {L"/exact/5000", L"/unannounced/5000"}) {
        EXPECT_EQ(Get(kFaulty + kind, nullptr, nullptr, 5000), HttpOk) << kind;
        EXPECT_EQ(Get(kFaulty + kind, nullptr, nullptr, 4999), HttpRefused) << kind;
    }
}

TEST_F(HttpClientTest, FailsOnBrokenOrStalledAnswersAndStopsWhenAborted) {
    EXPECT_EQ(Get(kFaulty + L"/no-status"), HttpFailed);
    EXPECT_EQ(Get(kFaulty + L"/empty"), HttpFailed);
    // A body that stops coming and an answer that never starts, waited for
    // side by side as each takes the whole time-out.
    HttpResult stalled = HttpOk;
    std::thread stall([&] { stalled = Get(kFaulty + L"/stall"); });
    EXPECT_EQ(Get(kFaulty + L"/silent"), HttpFailed);
    stall.join();
    EXPECT_EQ(stalled, HttpFailed);

    // Shutdown during a transfer.
    std::thread shutdown([] {
        Sleep(500);
        Transfers().abortTransfers = true;
    });
    EXPECT_EQ(Get(kFaulty + L"/slow/30000"), HttpNotModified);
    shutdown.join();
}

TEST_F(HttpClientTest, AClientBroughtUpAgainAfterAShutdownDownloads) {
    const std::wstring path = (folder_ / L"news.json").wstring();
    {
        HttpClientScope detached;
        // What shutdown does to a transfer still running.
        std::thread shutdown([] {
            Sleep(500);
            Transfers().abortTransfers = true;
        });
        EXPECT_EQ(Get(kFaulty + L"/slow/30000"), HttpNotModified);
        shutdown.join();
    }
    HttpClientScope attachedAgain;
    EXPECT_EQ(Get(L"http://127.0.0.1/files/hello.txt"), HttpOk);
    EXPECT_TRUE(DownloadFile(L"http://127.0.0.1/media/data/news.json", path.c_str(), kBodyLimit));
}

// A server whose queue of waiting connections is full: the system drops
// every further attempt unanswered, as a host gone from the network does,
// rather than refusing it at once.
class UnansweringServer {
public:
    explicit UnansweringServer(const char* address) {
        WSADATA data;
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(80);
        where.sin_addr.s_addr = inet_addr(address);
        auto* name = reinterpret_cast<const sockaddr*>(&where);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (!started_ || listener_ == INVALID_SOCKET || bind(listener_, name, sizeof(where)) ||
            listen(listener_, 0))
            return;
        // Never accepted: fill the queue until an attempt stays unanswered.
        for (int i = 0; i < 4 && !full_; ++i) {
            SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            u_long nonBlocking = 1;
            ioctlsocket(client, FIONBIO, &nonBlocking);
            connect(client, name, sizeof(where));
            clients_.push_back(client);
            fd_set connected;
            FD_ZERO(&connected);
            FD_SET(client, &connected);
            timeval wait{0, 500000};
            full_ = select(0, nullptr, &connected, nullptr, &wait) == 0;
        }
    }
    ~UnansweringServer() {
        Close();
        if (started_)
            WSACleanup();
    }
    // Whether attempts now go unanswered here.
    bool full() const { return full_; }
    // With the listener gone, a waiting attempt is refused at its next try.
    void Close() {
        for (SOCKET client : clients_)
            closesocket(client);
        clients_.clear();
        if (listener_ != INVALID_SOCKET)
            closesocket(listener_);
        listener_ = INVALID_SOCKET;
    }

private:
    bool started_ = false;
    bool full_ = false;
    SOCKET listener_ = INVALID_SOCKET;
    std::vector<SOCKET> clients_;
};

TEST_F(HttpClientTest, TestNetworkGivesUpOnAServerThatNeverAnswersTheConnection) {
    UnansweringServer server("127.0.0.4");
    if (!server.full())
        GTEST_SKIP() << "no unanswering listener on 127.0.0.4:80 here";
    SetServer(L"127.0.0.4");
    std::atomic<bool> done{false};
    bool reachable = true;
    std::thread check([&] {
        reachable = TestNetwork();
        done = true;
    });
    // The platform's own connect time-out is a minute, twenty seconds under
    // Wine; the dialog's check must answer well before either.
    EXPECT_TRUE(WaitFor(done, 12)) << "the network test still waits for the connection";
    server.Close();
    check.join();
    EXPECT_FALSE(reachable);
}

TEST_F(HttpClientTest, TestNetworkAsksTheStorageServer) {
    EXPECT_TRUE(TestNetwork());
    EXPECT_TRUE(Transfers().serverReachable);
    EXPECT_TRUE(Logged("/orvella/test_network", "\"HEAD /orvella/test_network"));
    // An answer other than 200 is an unreachable server...
    SetServer(L"127.0.0.1/nowhere");
    EXPECT_FALSE(TestNetwork());
    EXPECT_FALSE(Transfers().serverReachable);
    // ...while no answer at all says nothing about it.
    Transfers().serverReachable = true;
    SetServer(L"127.0.0.3");
    EXPECT_FALSE(TestNetwork());
    EXPECT_TRUE(Transfers().serverReachable);
}

}  // namespace
