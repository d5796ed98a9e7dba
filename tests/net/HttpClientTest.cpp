// The HTTP client against real servers, which servers/with_servers.py starts:
// nginx on 127.0.0.1 (content server and storage) and, on 127.0.0.2, a
// server that gives the answers a well-behaved one never does.
#include "net/HttpClient.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr wchar_t kKey[] = L"Software\\Tambrel\\Orvella";
constexpr wchar_t kFaulty[] = L"http://127.0.0.2";

std::wstring Env(const wchar_t* name) {
    const wchar_t* value = _wgetenv(name);
    return value ? value : L"";
}

std::string Letters(size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i)
        text += static_cast<char>('a' + i % 26);
    return text;
}

std::string ReadAll(const std::wstring& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteAll(const std::wstring& path, const std::string& text) {
    std::ofstream(path.c_str(), std::ios::binary | std::ios::trunc) << text;
}

FILETIME WriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

void SetWriteTime(const std::wstring& path, const SYSTEMTIME& utc) {
    FILETIME time = {};
    SystemTimeToFileTime(&utc, &time);
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return CompareFileTime(&a, &b) == 0;
}

// The access log's last line that names path.
std::string LoggedRequest(const std::string& path) {
    std::ifstream log(Env(L"ORVELLA_ACCESS_LOG").c_str());
    std::string line, found;
    while (std::getline(log, line))
        if (line.find(" " + path + " ") != std::string::npos)
            found = line;
    return found;
}

const SYSTEMTIME kRfcExample = {1994, 11, 0, 6, 8, 49, 37, 0};  // a Sunday

// A fresh folder per test, holding only what the test puts there; the
// registry points both servers at nginx.
class HttpClientTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(HttpInit());
        SetServer(L"ContentServer", L"127.0.0.1");
        SetServer(L"StorageServer", L"127.0.0.1");
        Http().abortTransfers = false;
        Http().serverReachable = false;
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"orvella-http-" + std::to_wstring(GetTickCount64());
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    }
    void TearDown() override {
        for (const std::wstring& name : Files())
            DeleteFileW((folder_ + L"\\" + name).c_str());
        RemoveDirectoryW(folder_.c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
        Http().abortTransfers = false;
        HttpRelease();
    }

    static void SetServer(const wchar_t* name, const wchar_t* host) {
        RegSetKeyValueW(HKEY_CURRENT_USER, kKey, name, REG_SZ, host,
                        static_cast<DWORD>((wcslen(host) + 1) * sizeof(wchar_t)));
    }

    // HttpGet with the body copied out and the buffer freed, as callers must.
    static int Get(const std::wstring& url, std::string* text = nullptr,
                   const SYSTEMTIME* since = nullptr) {
        char* body = reinterpret_cast<char*>(1);
        size_t size = 1;
        int result = HttpGet(url.c_str(), &body, &size, since);
        if (result == 1) {
            EXPECT_EQ(body[size], '\0');
            if (text)
                text->assign(body, size);
        } else {
            EXPECT_EQ(size, 0u);
        }
        std::free(body);
        return result;
    }

    std::vector<std::wstring> Files() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((folder_ + L"\\*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            return names;
        do {
            if (wcscmp(data.cFileName, L".") && wcscmp(data.cFileName, L".."))
                names.push_back(data.cFileName);
        } while (FindNextFileW(find, &data));
        FindClose(find);
        return names;
    }

    std::wstring folder_;
};

TEST(FormatHttpDate, WritesTheRfc1123DateOrErrForImpossibleFields) {
    wchar_t text[64];
    FormatHttpDate(kRfcExample, text, 64);
    EXPECT_STREQ(text, L"Sun, 06 Nov 1994 08:49:37 GMT");
    SYSTEMTIME late = {2031, 12, 6, 31, 23, 59, 59, 999};
    FormatHttpDate(late, text, 64);
    EXPECT_STREQ(text, L"Sat, 31 Dec 2031 23:59:59 GMT");

    WORD SYSTEMTIME::*fields[] = {&SYSTEMTIME::wDayOfWeek, &SYSTEMTIME::wMonth,
                                  &SYSTEMTIME::wMonth,     &SYSTEMTIME::wDay,
                                  &SYSTEMTIME::wHour,      &SYSTEMTIME::wMinute,
                                  &SYSTEMTIME::wSecond,    &SYSTEMTIME::wMilliseconds};
    WORD values[] = {7, 0, 13, 32, 24, 60, 60, 1000};
    for (size_t i = 0; i < sizeof(values) / sizeof(values[0]); ++i) {
        SYSTEMTIME wrong = kRfcExample;
        wrong.*fields[i] = values[i];
        FormatHttpDate(wrong, text, 64);
        EXPECT_STREQ(text, L"err") << "case " << i;
    }

    // A short buffer is cut and terminated, never overrun.
    wchar_t shortText[8] = {L'x', L'x', L'x', L'x', L'x', L'x', L'x', L'x'};
    FormatHttpDate(kRfcExample, shortText, 5);
    EXPECT_STREQ(shortText, L"Sun,");
    EXPECT_EQ(shortText[5], L'x');
}

TEST_F(HttpClientTest, ServerUrlsUseTheRegistryOrTheBuiltInHosts) {
    EXPECT_EQ(ContentServerUrl(L"/media/data/news.json"), L"http://127.0.0.1/media/data/news.json");
    SetServer(L"StorageServer", L"");
    EXPECT_EQ(StorageServerUrl(L"/x"), L"http://storage.orvella.example/x");
    DWORD number = 1;
    RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"ContentServer", REG_DWORD, &number, sizeof(number));
    EXPECT_EQ(ContentServerUrl(L"/x"), L"http://content.orvella.example/x");
}

TEST_F(HttpClientTest, GetsBodiesOf200AndFailsOnOtherStatuses) {
    const std::string expected = ReadAll(Env(L"ORVELLA_WWW") + L"\\files\\hello.txt");
    ASSERT_FALSE(expected.empty());
    std::string text;
    EXPECT_EQ(Get(L"http://127.0.0.1/files/hello.txt", &text), 1);
    EXPECT_EQ(text, expected);
    EXPECT_EQ(Get(L"http://127.0.0.1/files/missing.txt"), -1);
    EXPECT_EQ(Get(L"http://127.0.0.1/files/broken"), -1);
    EXPECT_EQ(Get(L"not a url"), -2);

    // Scheme and port of a URL are not used: always plain HTTP on port 80.
    text.clear();
    EXPECT_EQ(Get(L"https://127.0.0.1/files/hello.txt", &text), 1);
    EXPECT_EQ(text, expected);
    EXPECT_EQ(Get(L"http://127.0.0.1:8080/files/hello.txt"), 1);

    EXPECT_EQ(Get(L"http://127.0.0.1/orvella/stat/stat?stat=a1"), 1);
    const std::string line = LoggedRequest("/orvella/stat/stat?stat=a1");
    EXPECT_NE(line.find("\"GET /orvella/stat/stat?stat=a1 HTTP/1.1\" 200"), std::string::npos);
    EXPECT_NE(line.find("ua=\"Orvella Lumidesk\""), std::string::npos) << line;
}

TEST_F(HttpClientTest, DownloadsOnlyWhatIsNewerThanTheLocalCopy) {
    const std::wstring path = folder_ + L"\\news.json";
    const std::string served = ReadAll(Env(L"ORVELLA_WWW") + L"\\media\\data\\news.json");

    // No local copy: no condition.
    EXPECT_TRUE(DownloadFile(L"http://127.0.0.1/media/data/news.json", path.c_str()));
    EXPECT_EQ(ReadAll(path), served);
    EXPECT_NE(LoggedRequest("/media/data/news.json").find("ims=\"-\""), std::string::npos);

    // An old copy: its write time is the condition, and it is replaced.
    WriteAll(path, "old");
    SetWriteTime(path, kRfcExample);
    EXPECT_TRUE(DownloadFile(L"http://127.0.0.1/media/data/news.json", path.c_str()));
    EXPECT_NE(LoggedRequest("/media/data/news.json").find("ims=\"Sun, 06 Nov 1994 08:49:37 GMT\""),
              std::string::npos);
    EXPECT_EQ(ReadAll(path), served);
    EXPECT_TRUE(Http().serverReachable);

    // The fresh copy is not older than the server's: 304 leaves it as it is.
    const FILETIME written = WriteTime(path);
    Http().serverReachable = false;
    EXPECT_FALSE(DownloadFile(L"http://127.0.0.1/media/data/news.json", path.c_str()));
    EXPECT_TRUE(Http().serverReachable);
    EXPECT_EQ(ReadAll(path), served);
    EXPECT_TRUE(SameTime(WriteTime(path), written));
    EXPECT_EQ(LoggedRequest("/media/data/news.json").find("ims=\"-\""), std::string::npos);
    SYSTEMTIME since = {};
    FileTimeToSystemTime(&written, &since);
    EXPECT_EQ(Get(L"http://127.0.0.1/media/data/news.json", nullptr, &since), 0);

    // A failure keeps the copy and says the server was not reached.
    EXPECT_FALSE(DownloadFile(L"http://127.0.0.1/media/data/missing.json", path.c_str()));
    EXPECT_FALSE(Http().serverReachable);
    EXPECT_EQ(ReadAll(path), served);
    EXPECT_EQ(Files(), std::vector<std::wstring>{L"news.json"});
}

TEST_F(HttpClientTest, ReplacesTheLocalCopyOnlyWithACompleteBody) {
    const std::wstring path = folder_ + L"\\feed.json";
    WriteAll(path, "the previous copy");
    SetWriteTime(path, kRfcExample);
    const FILETIME before = WriteTime(path);
    const std::wstring faulty = kFaulty;

    for (const wchar_t* fault : {L"/short/5000", L"/cut/5000", L"/over-chunked/5000", L"/huge"}) {
        EXPECT_FALSE(DownloadFile((faulty + fault).c_str(), path.c_str())) << fault;
        EXPECT_TRUE(ReadAll(path) == "the previous copy") << fault;
        EXPECT_TRUE(SameTime(WriteTime(path), before)) << fault;
        EXPECT_EQ(Files(), std::vector<std::wstring>{L"feed.json"}) << fault;
    }

    EXPECT_TRUE(DownloadFile((faulty + L"/exact/5000").c_str(), path.c_str()));
    EXPECT_TRUE(ReadAll(path) == Letters(5000));
    EXPECT_EQ(Files(), std::vector<std::wstring>{L"feed.json"});
}

TEST_F(HttpClientTest, RefusesBodiesThatBreakTheirAnnouncedOrAllowedLength) {
    const std::wstring faulty = kFaulty;
    std::string text;
    EXPECT_EQ(Get(faulty + L"/exact/70000", &text), 1);
    EXPECT_TRUE(text == Letters(70000));
    // A byte past the length. Behind a plain length the platform itself
    // mostly stops reading, so the chunked body is the one that gets here.
    EXPECT_EQ(Get(faulty + L"/over-chunked/70000"), -2);
    EXPECT_EQ(Get(faulty + L"/short/70000"), -1);
    EXPECT_EQ(Get(faulty + L"/cut/70000"), -1);
    EXPECT_EQ(Get(faulty + L"/huge"), -2);

    // Without a length, 100000 bytes are the most a body may have.
    text.clear();
    EXPECT_EQ(Get(faulty + L"/unannounced/100000", &text), 1);
    EXPECT_TRUE(text == Letters(100000));
    EXPECT_EQ(Get(faulty + L"/unannounced/100001"), -2);
}

TEST_F(HttpClientTest, FailsOnAnswersThatAreNotHttp) {
    const std::wstring faulty = kFaulty;
    EXPECT_EQ(Get(faulty + L"/no-status"), -1);
    EXPECT_EQ(Get(faulty + L"/empty"), -1);
    // Time-outs end a body that stops coming and an answer that never starts
    // (waited for side by side: each takes the whole time-out).
    int stalled = 0;
    std::thread stall([&] { stalled = Get(faulty + L"/stall"); });
    EXPECT_EQ(Get(faulty + L"/silent"), -1);
    stall.join();
    EXPECT_EQ(stalled, -1);
}

TEST_F(HttpClientTest, StopsATransferWhenAborted) {
    std::thread shutdown([] {
        Sleep(500);
        Http().abortTransfers = true;
    });
    EXPECT_EQ(Get(std::wstring(kFaulty) + L"/slow/30000"), 0);
    shutdown.join();
}

TEST_F(HttpClientTest, TestNetworkAsksTheStorageServer) {
    EXPECT_TRUE(TestNetwork());
    EXPECT_TRUE(Http().serverReachable);
    EXPECT_NE(LoggedRequest("/orvella/test_network").find("\"HEAD /orvella/test_network"),
              std::string::npos);

    // An answer other than 200 is an unreachable server...
    SetServer(L"StorageServer", L"127.0.0.1/nowhere");
    EXPECT_FALSE(TestNetwork());
    EXPECT_FALSE(Http().serverReachable);

    // ...while no answer at all says nothing about it.
    Http().serverReachable = true;
    SetServer(L"StorageServer", L"127.0.0.3");
    EXPECT_FALSE(TestNetwork());
    EXPECT_TRUE(Http().serverReachable);
}

}  // namespace
