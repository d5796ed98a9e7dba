// Proxy handling: the proxy string of the streaming library, the user's
// proxy settings as WinHTTP reads them from the registry, the credentials
// dialog, and the login against tinyproxy (basic authentication on
// 127.0.0.3:8888, see servers/tinyproxy.conf) in front of nginx.
//
// Dialogs and message boxes are modal on the test's thread; a second thread
// plays the user and reports what it saw, the test thread checks it.
#include "net/HttpClient.h"
#include "net/Proxy.h"

#include "host/HostBridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr wchar_t kConnectionsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
constexpr wchar_t kConnectionSettings[] = L"DefaultConnectionSettings";
constexpr wchar_t kWidgetKey[] = L"Software\\Tambrel\\Orvella";
constexpr wchar_t kMessageCaption[] = L"OrvellaWidget";
constexpr int kMessageTextId = 0xFFFF;  // the text of a message box

// Connection-settings flags of the record below.
constexpr DWORD kDirect = 1, kNamedProxy = 2, kScript = 4, kAutoDetect = 8;

// The user's connection settings as Internet Settings keeps them: version
// 0x46, a change counter, the flags, then the proxy list, the bypass list
// and the script URL, each a length and narrow characters.
std::string ConnectionRecord(DWORD flags, const std::string& proxy = "",
                             const std::string& bypass = "", const std::string& script = "") {
    std::string record;
    auto number = [&](DWORD value) { record.append(reinterpret_cast<char*>(&value), 4); };
    number(0x46);
    number(1);
    number(flags);
    for (const std::string* text : {&proxy, &bypass, &script}) {
        number(DWORD(text->size()));
        record += *text;
    }
    record.append(32, '\0');
    return record;
}

// Replaces a binary registry value for its lifetime.
class SavedValue {
public:
    SavedValue(HKEY root, const wchar_t* key, const wchar_t* name, const std::string& data)
        : root_(root), key_(key), name_(name) {
        std::vector<BYTE> saved(4096);
        DWORD size = DWORD(saved.size());
        had_ = RegGetValueW(root, key, name, RRF_RT_REG_BINARY, nullptr, saved.data(), &size) ==
               ERROR_SUCCESS;
        saved_.assign(saved.begin(), saved.begin() + (had_ ? size : 0));
        Write(data.data(), data.size());
    }
    ~SavedValue() {
        if (had_)
            Write(saved_.data(), saved_.size());
        else
            RegDeleteKeyValueW(root_, key_, name_);
    }
    SavedValue(const SavedValue&) = delete;
    SavedValue& operator=(const SavedValue&) = delete;

private:
    void Write(const void* data, size_t size) {
        EXPECT_EQ(ERROR_SUCCESS, RegSetKeyValueW(root_, key_, name_, REG_BINARY, data, DWORD(size)));
    }
    HKEY root_;
    const wchar_t* key_;
    const wchar_t* name_;
    std::vector<BYTE> saved_;
    bool had_ = false;
};

// The user's connection settings, which ReadProxyConfig reads. Without
// any, the platform assumes automatic detection, which no test here wants.
class UserProxySettings : public SavedValue {
public:
    explicit UserProxySettings(const std::string& record)
        : SavedValue(HKEY_CURRENT_USER, kConnectionsKey, kConnectionSettings, record) {}
};

// A named proxy for the user and for WinHTTP's own default. Wine's WinHTTP
// takes the proxy of a session from its default when the session opens and
// ignores the proxy option of a request, which is where the client sets it;
// on Windows the option alone would do.
class NamedProxy {
public:
    explicit NamedProxy(const std::string& address)
        : user_(ConnectionRecord(kNamedProxy, address)),
          machine_(HKEY_LOCAL_MACHINE, kConnectionsKey, L"WinHttpSettings",
                   MachineRecord(address)) {}

private:
    static std::string MachineRecord(const std::string& address) {
        std::string record = ConnectionRecord(kNamedProxy, address);
        record[0] = 0x18;  // WinHTTP's version, and no change counter
        record[4] = 0;
        return record;
    }
    UserProxySettings user_;
    SavedValue machine_;
};

void StoreCredentials(const wchar_t* login, const wchar_t* password) {
    HttpState& http = Http();
    std::lock_guard<std::mutex> lock(http.proxyLock);
    wcscpy_s(http.credentials.login, login);
    wcscpy_s(http.credentials.password, password);
}

std::wstring StoredLogin() {
    std::lock_guard<std::mutex> lock(Http().proxyLock);
    return Http().credentials.login;
}
std::wstring StoredPassword() {
    std::lock_guard<std::mutex> lock(Http().proxyLock);
    return Http().credentials.password;
}

// Puts a proxy list into the record as the platform would have named it.
void UseProxyList(const wchar_t* list) {
    HttpState& http = Http();
    std::lock_guard<std::mutex> lock(http.proxyLock);
    WINHTTP_PROXY_INFO& info = http.proxy->proxyInfo;
    if (info.lpszProxy)
        GlobalFree(info.lpszProxy);
    info.lpszProxy = nullptr;
    info.dwAccessType = list ? WINHTTP_ACCESS_TYPE_NAMED_PROXY : WINHTTP_ACCESS_TYPE_NO_PROXY;
    if (list) {
        size_t bytes = (wcslen(list) + 1) * sizeof(wchar_t);
        info.lpszProxy = static_cast<wchar_t*>(GlobalAlloc(GMEM_FIXED, bytes));
        memcpy(info.lpszProxy, list, bytes);
    }
}

std::string Streaming(const char* url = "http://radio.example/stream") {
    const char* proxy = GetStreamingProxy(url);
    return proxy ? proxy : "(null)";
}

// Starts every test with a client that has no proxy, no login and no 407.
class ProxyTest : public testing::Test {
protected:
    void SetUp() override {
        if (!Http().proxy) {
            ASSERT_TRUE(HttpInit());
        }
        ReadDirect();
        StoreCredentials(L"", L"");
        Http().credentials.scheme = 0;
        Http().proxyAuthRequired = false;
    }
    static void ReadDirect() {
        UserProxySettings direct(ConnectionRecord(kDirect));
        ReadProxyConfig();
    }
};

// ------------------------------------------------------ streaming proxy

using StreamingProxyTest = ProxyTest;

TEST_F(StreamingProxyTest, SingleEntryWithTheStoredLogin) {
    UseProxyList(L"proxy.example:3128");
    EXPECT_EQ(Streaming(), "proxy.example:3128");
    StoreCredentials(L"ivan", L"pa55");
    EXPECT_EQ(Streaming(), "ivan:pa55@proxy.example:3128");
    StoreCredentials(L"ivan", L"");
    EXPECT_EQ(Streaming(), "ivan@proxy.example:3128");
    // A password alone is no login.
    StoreCredentials(L"", L"pa55");
    EXPECT_EQ(Streaming(), "proxy.example:3128");
}

TEST_F(StreamingProxyTest, HostPartIsTheEntryAfterTheLastEquals) {
    UseProxyList(L"http=a:1;https=b:2");
    EXPECT_EQ(Streaming(), "b:2");
    UseProxyList(L"http=a:1 https=b:2;");
    EXPECT_EQ(Streaming(), "b:2");
    UseProxyList(L"a:1;b:2");
    EXPECT_EQ(Streaming(), "a:1");
    UseProxyList(L"a:1 b:2");
    EXPECT_EQ(Streaming(), "a:1");
}

TEST_F(StreamingProxyTest, NoProxyLeavesTheHostPartEmpty) {
    UseProxyList(nullptr);
    EXPECT_EQ(Streaming(), "");
    UseProxyList(L"");
    EXPECT_EQ(Streaming(), "");
    StoreCredentials(L"ivan", L"pa55");
    EXPECT_EQ(Streaming(), "ivan:pa55@");
}

TEST_F(StreamingProxyTest, FailedAutoProxyResolutionGivesNull) {
    // A configuration script that cannot be downloaded.
    UserProxySettings script(ConnectionRecord(kScript, "", "", "http://127.0.0.1:9/none.pac"));
    ReadProxyConfig();
    UseProxyList(L"still.there:1");
    EXPECT_EQ(Streaming(), "(null)");
    EXPECT_FALSE(Http().proxyAuthRequired);
}

// ------------------------------------------------- the user's settings

using ReadProxyConfigTest = ProxyTest;

TEST_F(ReadProxyConfigTest, NamedProxyWithBypass) {
    UserProxySettings named(ConnectionRecord(kNamedProxy, "http=a:1;https=b:2", "<local>"));
    ReadProxyConfig();
    std::lock_guard<std::mutex> lock(Http().proxyLock);
    const ProxySettings& settings = *Http().proxy;
    EXPECT_EQ(settings.proxyInfo.dwAccessType, DWORD(WINHTTP_ACCESS_TYPE_NAMED_PROXY));
    ASSERT_NE(settings.proxyInfo.lpszProxy, nullptr);
    EXPECT_STREQ(settings.proxyInfo.lpszProxy, L"http=a:1;https=b:2");
    ASSERT_NE(settings.proxyInfo.lpszProxyBypass, nullptr);
    EXPECT_STREQ(settings.proxyInfo.lpszProxyBypass, L"<local>");
    EXPECT_EQ(settings.useAutoProxy, 0u);
    EXPECT_EQ(settings.autoProxy.dwFlags, 0u);
}

TEST_F(ReadProxyConfigTest, ScriptAndDetectionTurnAutoProxyOnUntilDirectAgain) {
    UserProxySettings automatic(ConnectionRecord(kScript | kAutoDetect | kNamedProxy, "a:1", "b",
                                                 "http://wpad.example/proxy.pac"));
    ReadProxyConfig();
    std::unique_lock<std::mutex> lock(Http().proxyLock);
    const ProxySettings& settings = *Http().proxy;
    EXPECT_EQ(settings.useAutoProxy, 1u);
    EXPECT_EQ(settings.autoProxy.dwFlags,
              DWORD(WINHTTP_AUTOPROXY_AUTO_DETECT | WINHTTP_AUTOPROXY_CONFIG_URL));
    EXPECT_EQ(settings.autoProxy.dwAutoDetectFlags, 3u);
    ASSERT_NE(settings.autoProxy.lpszAutoConfigUrl, nullptr);
    EXPECT_STREQ(settings.autoProxy.lpszAutoConfigUrl, L"http://wpad.example/proxy.pac");
    EXPECT_TRUE(settings.autoProxy.fAutoLogonIfChallenged);
    EXPECT_EQ(settings.proxyInfo.dwAccessType, DWORD(WINHTTP_ACCESS_TYPE_NAMED_PROXY));

    lock.unlock();
    ReadDirect();
    lock.lock();
    EXPECT_EQ(settings.proxyInfo.dwAccessType, DWORD(WINHTTP_ACCESS_TYPE_NO_PROXY));
    EXPECT_EQ(settings.proxyInfo.lpszProxy, nullptr);
    EXPECT_EQ(settings.proxyInfo.lpszProxyBypass, nullptr);
    EXPECT_EQ(settings.autoProxy.lpszAutoConfigUrl, nullptr);
    EXPECT_EQ(settings.autoProxy.dwFlags, 0u);
    EXPECT_EQ(settings.useAutoProxy, 0u);
}

// ------------------------------------------------------------- dialog

std::wstring Text(HWND window, int id) {
    wchar_t text[300] = {};
    GetDlgItemTextW(window, id, text, 300);
    return text;
}

// A shown dialog or message box with that caption; null
// after ten seconds or once stop is set.
HWND WaitForWindow(const wchar_t* caption, const std::atomic<bool>* stop = nullptr) {
    for (int i = 0; i < 500 && !(stop && *stop); ++i) {
        HWND window = FindWindowW(L"#32770", caption);
        if (window && IsWindowVisible(window))
            return window;
        Sleep(20);
    }
    return nullptr;
}

void WaitUntilGone(HWND window) {
    for (int i = 0; i < 500 && IsWindow(window); ++i)
        Sleep(20);
}

// The user at the keyboard: a script run on its own thread against the
// dialog once it shows. The dialog is closed in any case, so a failed step
// cannot leave the test thread waiting in the modal loop.
class User {
public:
    using Script = std::function<void(HWND dialog, User& user)>;
    explicit User(Script script)
        : thread_([this, script] {
              HWND dialog = WaitForWindow(kProxyDialogCaption, &finished_);
              if (!dialog) {
                  Note(L"no dialog");
                  return;
              }
              script(dialog, *this);
              if (IsWindow(dialog))
                  PostMessageW(dialog, WM_CLOSE, 0, 0);
          }) {}
    ~User() { Join(); }
    // For tests where no dialog should come: stops waiting for one.
    void Finish() {
        finished_ = true;
        Join();
    }
    void Join() {
        if (thread_.joinable())
            thread_.join();
    }
    void Note(const std::wstring& line) { seen_ += line + L"\n"; }
    const std::wstring& Seen() {
        Join();
        return seen_;
    }

    // Presses "Проверить" and notes the message box's text.
    void Check(HWND dialog) {
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_PROXY_TEST, BN_CLICKED),
                     LPARAM(GetDlgItem(dialog, IDC_PROXY_TEST)));
        HWND box = WaitForWindow(kMessageCaption);
        if (!box) {
            Note(L"no message box");
            return;
        }
        Note(Text(box, kMessageTextId));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        WaitUntilGone(box);
    }
    // Enter and Esc in the login field; notes whether the dialog is still up
    // once both have gone through the dialog's message loop.
    void EnterAndEscape(HWND dialog) {
        HWND login = GetDlgItem(dialog, IDC_PROXY_LOGIN);
        for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
            PostMessageW(login, WM_KEYDOWN, key, 1);
            PostMessageW(login, WM_KEYUP, key, 0xC0000001);
        }
        // Posted messages are taken in order: once this selection shows,
        // the keys before it have been handled.
        PostMessageW(login, EM_SETSEL, 1, 2);
        DWORD start = 0, end = 0;
        for (int i = 0; i < 500 && !(start == 1 && end == 2); ++i) {
            Sleep(20);
            SendMessageW(login, EM_GETSEL, WPARAM(&start), LPARAM(&end));
        }
        Note(IsWindow(dialog) && IsWindowVisible(dialog) ? L"open" : L"closed");
    }

private:
    std::wstring seen_;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

INT_PTR ShowDialog() {
    return DialogBoxParamW(Bridge().module, kProxyDialogName, nullptr, ProxyCredentialsDialogProc,
                           0);
}

using ProxyDialogTest = ProxyTest;

TEST_F(ProxyDialogTest, LayoutFromTheResource) {
    User user([](HWND dialog, User& user) {
        wchar_t caption[100] = {};
        GetWindowTextW(dialog, caption, 100);
        user.Note(caption);
        LONG style = GetWindowLongW(dialog, GWL_STYLE);
        LONG wanted = WS_POPUP | WS_CAPTION | WS_SYSMENU;
        user.Note((style & wanted) == wanted ? L"popup" : L"style");
        std::wstring texts;
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            wchar_t text[50] = {};
            GetWindowTextW(child, text, 50);
            texts += std::wstring(text) + L"|";
        }
        user.Note(texts);
        LONG password = GetWindowLongW(GetDlgItem(dialog, IDC_PROXY_PASSWORD), GWL_STYLE);
        user.Note(password & ES_PASSWORD ? L"masked" : L"plain");
        for (int id : {IDC_PROXY_TEST, IDC_PROXY_ACCEPT}) {
            LONG button = GetWindowLongW(GetDlgItem(dialog, id), GWL_STYLE);
            user.Note((button & BS_TYPEMASK) == BS_PUSHBUTTON ? L"push" : L"default");
        }
        // 150 by 81 dialog units.
        RECT units{0, 0, 150, 81};
        MapDialogRect(dialog, &units);
        RECT client{};
        GetClientRect(dialog, &client);
        user.Note(units.right == client.right && units.bottom == client.bottom ? L"size"
                                                                               : L"other size");
    });
    EXPECT_EQ(ShowDialog(), 0);
    EXPECT_EQ(user.Seen(), L"Orvella Widget: Авторизация для доступа в интернет\npopup\n"
                           L"|Логин||Пароль|Проверить|OK|\nmasked\npush\npush\nsize\n");
}

TEST_F(ProxyDialogTest, ShowsTheStoredLoginAndKeepsWhatWasTyped) {
    StoreCredentials(L"ivan", L"pa55");
    User user([](HWND dialog, User& user) {
        user.Note(Text(dialog, IDC_PROXY_LOGIN) + L"/" + Text(dialog, IDC_PROXY_PASSWORD));
        SetDlgItemTextW(dialog, IDC_PROXY_LOGIN, L"пётр");
        SetDlgItemTextW(dialog, IDC_PROXY_PASSWORD, L"");
        user.EnterAndEscape(dialog);
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_PROXY_ACCEPT, BN_CLICKED),
                     LPARAM(GetDlgItem(dialog, IDC_PROXY_ACCEPT)));
        WaitUntilGone(dialog);
    });
    EXPECT_EQ(ShowDialog(), 0);
    EXPECT_EQ(user.Seen(), L"ivan/pa55\nopen\n");
    EXPECT_EQ(StoredLogin(), L"пётр");
    EXPECT_EQ(StoredPassword(), L"");
}

TEST_F(ProxyDialogTest, LongTextIsCutToTheStore) {
    User user([](HWND dialog, User&) {
        SetDlgItemTextW(dialog, IDC_PROXY_LOGIN, std::wstring(400, L'l').c_str());
        SetDlgItemTextW(dialog, IDC_PROXY_PASSWORD, std::wstring(259, L'p').c_str());
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        WaitUntilGone(dialog);
    });
    EXPECT_EQ(ShowDialog(), 0);
    user.Join();
    EXPECT_EQ(StoredLogin(), std::wstring(259, L'l'));
    EXPECT_EQ(StoredPassword(), std::wstring(259, L'p'));
}

// ------------------------------------------- against tinyproxy and nginx

constexpr char kProxyAddress[] = "127.0.0.3:8888";

// The servers on this machine, the user's proxy being tinyproxy.
class ProxyServerTest : public ProxyTest {
protected:
    void SetUp() override {
        ProxyTest::SetUp();
        for (const wchar_t* name : {L"ContentServer", L"StorageServer"})
            ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, kWidgetKey, name, REG_SZ,
                                                     L"127.0.0.1", sizeof(L"127.0.0.1")));
    }
    void TearDown() override {
        for (const wchar_t* name : {L"ContentServer", L"StorageServer"})
            RegDeleteKeyValueW(HKEY_CURRENT_USER, kWidgetKey, name);
    }
    int Get() {
        char* body = nullptr;
        size_t size = 0;
        int result = HttpGet(StorageServerUrl(L"/orvella/test_network").c_str(), &body, &size,
                             nullptr);
        std::free(body);
        return result;
    }
    NamedProxy proxy_{kProxyAddress};
};

TEST_F(ProxyServerTest, ProxyAsksForLoginThenLetsItThrough) {
    ReadProxyConfig();
    EXPECT_EQ(Get(), -1);
    EXPECT_TRUE(Http().proxyAuthRequired);
    EXPECT_EQ(Http().credentials.scheme, DWORD(WINHTTP_AUTH_SCHEME_BASIC));

    StoreCredentials(L"orvella", L"wrong");
    EXPECT_EQ(Get(), -1);
    StoreCredentials(L"orvella", L"secret");
    EXPECT_EQ(Get(), 1);
    EXPECT_TRUE(TestNetwork());
    EXPECT_TRUE(Http().proxyAuthRequired);  // never cleared
    EXPECT_EQ(Streaming(), std::string("orvella:secret@") + kProxyAddress);
}

TEST_F(ProxyServerTest, LoginDialogAfterA407) {
    User user([](HWND dialog, User& user) {
        user.Note(Text(dialog, IDC_PROXY_LOGIN) + L"/" + Text(dialog, IDC_PROXY_PASSWORD));
        SetDlgItemTextW(dialog, IDC_PROXY_LOGIN, L"orvella");
        SetDlgItemTextW(dialog, IDC_PROXY_PASSWORD, L"secret");
        user.Check(dialog);
        SetDlgItemTextW(dialog, IDC_PROXY_PASSWORD, L"nope");
        user.Check(dialog);
        user.EnterAndEscape(dialog);
        // The check stored "nope"; what the close box keeps decides the
        // network test after the dialog.
        SetDlgItemTextW(dialog, IDC_PROXY_PASSWORD, L"secret");
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        WaitUntilGone(dialog);
    });
    EXPECT_TRUE(EnsureProxyLogin());
    EXPECT_EQ(user.Seen(), L"/\nРаботает\nНе работает\nopen\n");
    EXPECT_EQ(StoredLogin(), L"orvella");
    EXPECT_EQ(StoredPassword(), L"secret");
}

TEST_F(ProxyServerTest, NoDialogWhenTheNetworkWorksOrNoLoginWasAsked) {
    User watch([](HWND dialog, User& user) { user.Note(L"dialog"); });
    StoreCredentials(L"orvella", L"secret");
    Http().credentials.scheme = WINHTTP_AUTH_SCHEME_BASIC;
    EXPECT_TRUE(EnsureProxyLogin());
    EXPECT_TRUE(Http().serverReachable);
    EXPECT_FALSE(Http().proxyAuthRequired);
    {
        // A proxy that does not answer: no 407, so the caller goes on.
        StoreCredentials(L"", L"");
        NamedProxy dead("127.0.0.1:9");
        Http().serverReachable = false;
        EXPECT_TRUE(EnsureProxyLogin());
        EXPECT_FALSE(Http().serverReachable);
    }
    watch.Finish();
    EXPECT_EQ(watch.Seen(), L"no dialog\n");
}

}  // namespace
