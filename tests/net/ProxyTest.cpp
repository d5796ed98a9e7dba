// Proxy handling: the streaming library's proxy string, the user's proxy
// settings from the registry, the credentials dialog, and the login against
// tinyproxy (basic authentication on 127.0.0.3:8888) in front of nginx.
//
// Dialogs and message boxes run on a thread of their own, as the login runs
// on the worker; the test's thread plays the user and pumps its messages
// while it waits.
#include "net/HttpClient.h"
#include "base/Budgets.h"
#include "net/Proxy.h"

#include "ServedFiles.h"
#include "TestDesktop.h"
#include "base/Desktop.h"
#include "base/ModulePath.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace {

constexpr wchar_t kConnectionsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
constexpr DWORD kDirect = 1, kNamedProxy = 2, kScript = 4, kAutoDetect = 8;

// The connection-settings record of Internet Settings: version, change
// counter, flags, then proxy list, bypass list and script URL, each a length
// and narrow characters. WinHTTP's own default is of version 0x18, without
// a change counter.
std::string ConnectionRecord(DWORD flags, const std::string& proxy = "",
                             const std::string& bypass = "", const std::string& script = "",
                             DWORD version = 0x46, DWORD counter = 1) {
    std::string record;
    auto number = [&](DWORD value) { record.append(reinterpret_cast<char*>(&value), 4); };
    for (DWORD value : {version, counter, flags})
        number(value);
    for (const std::string* text : {&proxy, &bypass, &script}) {
        number(DWORD(text->size()));
        record += *text;
    }
    return record.append(32, '\0');
}

// Replaces a binary value under the connections key for its lifetime. The
// user's value is what ReadProxyConfig reads; without one the platform
// assumes automatic detection, which no test here wants.
class SavedValue {
public:
    explicit SavedValue(const std::string& data, HKEY root = HKEY_CURRENT_USER,
                        const wchar_t* name = L"DefaultConnectionSettings")
        : root_(root), name_(name), saved_(4096, '\0') {
        DWORD size = DWORD(saved_.size());
        had_ = RegGetValueW(root, kConnectionsKey, name, RRF_RT_REG_BINARY, nullptr, &saved_[0],
                            &size) == ERROR_SUCCESS;
        saved_.resize(had_ ? size : 0);
        Write(data.data(), data.size());
    }
    ~SavedValue() {
        if (had_)
            Write(saved_.data(), saved_.size());
        else
            RegDeleteKeyValueW(root_, kConnectionsKey, name_);
    }

private:
    void Write(const void* data, size_t size) {
        EXPECT_EQ(ERROR_SUCCESS,
                  RegSetKeyValueW(root_, kConnectionsKey, name_, REG_BINARY, data, DWORD(size)));
    }
    HKEY root_;
    const wchar_t* name_;
    std::string saved_;
    bool had_ = false;
};

// The client's state is only touched on the test's thread: no locking.
void StoreCredentials(const wchar_t* login, const wchar_t* password) {
    wcscpy_s(Http().credentials.login, login);
    wcscpy_s(Http().credentials.password, password);
}
std::wstring Stored() {  // login/password
    return std::wstring(Http().credentials.login) + L"/" + Http().credentials.password;
}

// Reads the proxy settings with record as the user's.
void ReadRecord(const std::string& record) {
    SavedValue user(record);
    ReadProxyConfig();
}

// The storage server's network test, through whatever proxy is read.
HttpResult GetTestNetwork() {
    char* body = nullptr;
    size_t size = 0;
    HttpResult result = HttpGet(StorageServerUrl(L"/orvella/test_network").c_str(), &body, &size,
                                nullptr, kFeedDocumentBytes);
    std::free(body);
    return result;
}

// Every test starts with no proxy, no login and no 407, the storage server
// being nginx.
class ProxyTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Http().proxy || HttpInit());
        ReadRecord(ConnectionRecord(kDirect));
        StoreCredentials(L"", L"");
        Http().credentials.scheme = 0;
        Http().proxyAuthRequired = false;
        SetWidgetValue(L"StorageServer", L"127.0.0.1");
    }
    void TearDown() override {
        SetDesktopListView(nullptr);
        WidgetKey::Erase();
    }
};

TEST_F(ProxyTest, StreamingProxyIsOneEntryAndTheStoredLogin) {
    const struct {
        const char* list;
        const wchar_t *login, *password;
        const char* expected;
    } kCases[] = {
        {"proxy.example:3128", L"", L"", "proxy.example:3128"},
        {"proxy.example:3128", L"ivan", L"pa55", "ivan:pa55@proxy.example:3128"},
        {"proxy.example:3128", L"ivan", L"", "ivan@proxy.example:3128"},
        {"proxy.example:3128", L"", L"pa55", "proxy.example:3128"},  // a password is no login
        // Of scheme entries, the one after the last "="; else the first entry.
        {"http=a:1;https=b:2", L"", L"", "b:2"},
        {"a:1 b:2", L"", L"", "a:1"},
        // No proxy: nothing for the library, whatever login is stored.
        {nullptr, L"", L"", ""},
        {nullptr, L"ivan", L"pa55", ""},
        {"http=", L"ivan", L"pa55", ""},
    };
    for (const auto& c : kCases) {
        ReadRecord(c.list ? ConnectionRecord(kNamedProxy, c.list) : ConnectionRecord(kDirect));
        StoreCredentials(c.login, c.password);
        EXPECT_EQ(GetStreamingProxy("http://radio.example/stream"), c.expected)
            << (c.list ? c.list : "no proxy") << " " << c.login << "/" << c.password;
    }
}

TEST_F(ProxyTest, ReadProxyConfigTakesTheUsersRecordAndDetectionFindingNothingKeepsTheRoute) {
    const ProxySettings& settings = *Http().proxy;
    ReadRecord(ConnectionRecord(kNamedProxy, "http=a:1;https=b:2", "<local>"));
    EXPECT_EQ(settings.proxyInfo.dwAccessType, DWORD(WINHTTP_ACCESS_TYPE_NAMED_PROXY));
    EXPECT_STREQ(settings.proxyInfo.lpszProxy, L"http=a:1;https=b:2");
    EXPECT_STREQ(settings.proxyInfo.lpszProxyBypass, L"<local>");
    EXPECT_EQ(settings.useAutoProxy, 0u);
    ReadRecord(ConnectionRecord(kScript | kAutoDetect | kNamedProxy, "a:1", "b",
                                "http://127.0.0.1:9/none.pac"));
    EXPECT_EQ(settings.useAutoProxy, 1u);
    EXPECT_EQ(settings.autoProxy.dwFlags,
              DWORD(WINHTTP_AUTOPROXY_AUTO_DETECT | WINHTTP_AUTOPROXY_CONFIG_URL));
    EXPECT_STREQ(settings.autoProxy.lpszAutoConfigUrl, L"http://127.0.0.1:9/none.pac");
    // A script that cannot be had: no proxy string, though a list is named.
    EXPECT_EQ(GetStreamingProxy("http://radio.example/stream"), "");
    // Automatic detection is on in a fresh profile and finds no script on most
    // networks: the request goes out with the configured route, here direct.
    for (DWORD flags : {kAutoDetect | kDirect, kScript | kDirect}) {
        ReadRecord(ConnectionRecord(flags, "", "", "http://127.0.0.1:9/none.pac"));
        ASSERT_EQ(settings.useAutoProxy, 1u);
        EXPECT_EQ(GetTestNetwork(), HttpOk) << flags;
    }

    ReadRecord(ConnectionRecord(kDirect));
    EXPECT_EQ(settings.proxyInfo.dwAccessType, DWORD(WINHTTP_ACCESS_TYPE_NO_PROXY));
    EXPECT_FALSE(settings.proxyInfo.lpszProxy || settings.proxyInfo.lpszProxyBypass ||
                 settings.autoProxy.lpszAutoConfigUrl || settings.useAutoProxy);
}

// ------------------------------------------------------------- dialog

// Pumps for up to ten seconds; whether done came true.
bool WaitFor(const std::function<bool()>& done) {
    return PumpUntil(done, 10000);
}

HWND WaitForWindow(const wchar_t* caption) {
    HWND window = nullptr;
    return WaitFor([&] { return IsWindowVisible(window = FindWindowW(L"#32770", caption)); })
               ? window
               : nullptr;
}

std::wstring Text(HWND window, int id) {
    wchar_t text[300] = {};
    GetDlgItemTextW(window, id, text, 300);
    return text;
}
std::wstring TypedLogin(HWND dialog) {  // login/password
    return Text(dialog, IDC_PROXY_LOGIN) + L"/" + Text(dialog, IDC_PROXY_PASSWORD);
}

// Types a login (none: the password only), presses "Проверить" and answers
// the message box, with shown run while it is up; the box's text.
std::wstring Check(HWND dialog, const wchar_t* login, const wchar_t* password,
                   const std::function<void()>& shown = [] {}) {
    if (login)
        SetDlgItemTextW(dialog, IDC_PROXY_LOGIN, login);
    SetDlgItemTextW(dialog, IDC_PROXY_PASSWORD, password);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_PROXY_TEST, BN_CLICKED), 0);
    HWND box = WaitForWindow(L"OrvellaWidget");
    if (!box)
        return L"no message box";
    shown();
    const std::wstring text = Text(box, 0xFFFF);  // the message box's text
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    WaitFor([&] { return !IsWindow(box); });
    return text;
}

// A job on a thread of its own, EnsureProxyLogin as the worker runs it.
class Worker {
public:
    explicit Worker(std::function<bool()> job)
        : thread_([this, job] {
              try {
                  result = job();
              } catch (...) {
              }
              done = true;
          }) {}
    // Closes whatever the job still shows; a job that will not end is left
    // behind with a failure rather than hanging the program.
    ~Worker() {
        if (WaitFor([&] {
                for (const wchar_t* caption :
                     {kProxyDialogCaption, L"OrvellaWidget", L"Orvella Widget"})
                    if (HWND window = FindWindowW(L"#32770", caption))
                        PostMessageW(window, WM_CLOSE, 0, 0);
                return bool(done);
            })) {
            thread_.join();
            return;
        }
        ADD_FAILURE() << "the job did not end";
        thread_.detach();
    }
    // Whether the job ends, with true, in time.
    bool Succeeds() { return WaitFor([&] { return bool(done); }) && result; }

    std::atomic<bool> done{false}, result{false};

private:
    std::thread thread_;
};

TEST_F(ProxyTest, DialogShowsTheStoredLoginAndStoresWhatWasTyped) {
    StoreCredentials(L"ivan", L"pa55");
    Worker accepted([] {
        return DialogBoxParamW(ThisModule(), kProxyDialogName, nullptr,
                               ProxyCredentialsDialogProc, 0) == 0;
    });
    HWND dialog = WaitForWindow(kProxyDialogCaption);
    ASSERT_TRUE(dialog) << "no dialog";
    EXPECT_EQ(TypedLogin(dialog), L"ivan/pa55");
    // Longer than the store holds: cut, never overrun.
    SetDlgItemTextW(dialog, IDC_PROXY_LOGIN, (L"пётр" + std::wstring(400, L'l')).c_str());
    SetDlgItemTextW(dialog, IDC_PROXY_PASSWORD, std::wstring(300, L'p').c_str());
    // Enter and Esc in the login field leave the dialog open. Posted
    // messages are taken in order: once the selection shows, so have the keys.
    HWND login = GetDlgItem(dialog, IDC_PROXY_LOGIN);
    for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
        PostMessageW(login, WM_KEYDOWN, key, 1);
        PostMessageW(login, WM_KEYUP, key, 0xC0000001);
    }
    PostMessageW(login, EM_SETSEL, 1, 2);
    WaitFor([&] {
        DWORD start = 0, end = 0;
        SendMessageW(login, EM_GETSEL, WPARAM(&start), LPARAM(&end));
        return start == 1 && end == 2;
    });
    EXPECT_TRUE(IsWindowVisible(dialog)) << "closed by Enter or Esc";
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_PROXY_ACCEPT, BN_CLICKED), 0);
    ASSERT_TRUE(accepted.Succeeds());
    EXPECT_EQ(Stored(), L"пётр" + std::wstring(255, L'l') + L"/" + std::wstring(259, L'p'));
}

// ------------------------------------------- against tinyproxy and nginx

constexpr char kProxyAddress[] = "127.0.0.3:8888";

// The servers on this machine, the user's proxy being tinyproxy.
class ProxyServerTest : public ProxyTest {
protected:
    // Named for the user and for WinHTTP's own default: Wine's WinHTTP takes
    // a session's proxy from that default and ignores the request option the
    // client sets.
    SavedValue user_{ConnectionRecord(kNamedProxy, kProxyAddress)};
    SavedValue machine_{ConnectionRecord(kNamedProxy, kProxyAddress, "", "", 0x18, 0),
                        HKEY_LOCAL_MACHINE, L"WinHttpSettings"};
};

TEST_F(ProxyServerTest, ProxyAsksForLoginThenLetsItThrough) {
    ReadProxyConfig();
    EXPECT_EQ(GetTestNetwork(), HttpFailed);
    EXPECT_TRUE(Http().proxyAuthRequired);
    EXPECT_EQ(Http().credentials.scheme, DWORD(WINHTTP_AUTH_SCHEME_BASIC));
    StoreCredentials(L"orvella", L"secret");
    EXPECT_EQ(GetTestNetwork(), HttpOk);
    EXPECT_TRUE(Http().proxyAuthRequired);  // never cleared
}

TEST_F(ProxyServerTest, NoDialogWhenTheNetworkWorks) {
    StoreCredentials(L"orvella", L"secret");
    Http().credentials.scheme = WINHTTP_AUTH_SCHEME_BASIC;
    Worker login(EnsureProxyLogin);
    EXPECT_TRUE(login.Succeeds()) << "a dialog held the login";
    EXPECT_TRUE(Transfers().serverReachable);
    EXPECT_FALSE(Http().proxyAuthRequired);
}

// The dialog and its answer come up on the worker while the desktop stays
// usable: neither may take the desktop's list view as its owner, which would
// disable it (icons and panel) for as long as they are shown.
TEST_F(ProxyServerTest, LoginDialogAfterA407LeavesTheDesktopUsable) {
    TestDesktop desktop(200, 200);  // the list view the library lives on
    SetDesktopListView(desktop.listView);
    // A modal window disables the top-level window of the owner it is given,
    // which takes the input of the list view inside it as well.
    auto enabled = [&] {
        return IsWindowEnabled(desktop.listView) &&
               IsWindowEnabled(GetAncestor(desktop.listView, GA_ROOT));
    };
    Worker login(EnsureProxyLogin);
    HWND dialog = WaitForWindow(kProxyDialogCaption);
    ASSERT_TRUE(dialog) << "no dialog";
    EXPECT_EQ(TypedLogin(dialog), L"/");
    EXPECT_TRUE(enabled()) << "under the dialog";
    bool enabledUnderTheAnswer = false;
    EXPECT_EQ(Check(dialog, L"orvella", L"secret", [&] { enabledUnderTheAnswer = enabled(); }),
              L"Работает");
    EXPECT_TRUE(enabledUnderTheAnswer) << "under the answer";
    EXPECT_EQ(Check(dialog, nullptr, L"nope"), L"Не работает");
    // The check stored "nope"; the close box must keep "secret" for the
    // network test after the dialog to pass.
    SetDlgItemTextW(dialog, IDC_PROXY_PASSWORD, L"secret");
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(login.Succeeds());
    EXPECT_EQ(Stored(), L"orvella/secret");
}

// Teardown while the dialog waits for the user on the worker: it is ended
// for the worker to finish, and an aborted login is no login.
TEST_F(ProxyServerTest, AbortingTheTransfersEndsAnOpenDialog) {
    Worker login(EnsureProxyLogin);
    ASSERT_TRUE(WaitForWindow(kProxyDialogCaption)) << "no dialog";
    AbortTransfers();
    CancelProxyLogin(Http().shared);
    EXPECT_TRUE(WaitFor([&] { return bool(login.done); })) << "the dialog stayed";
    EXPECT_FALSE(login.result);
    HttpInit();
}

}  // namespace
