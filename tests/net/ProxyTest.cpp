// Proxy handling: the streaming library's proxy string, the user's proxy
// settings from the registry, the credentials dialog, and the login against
// tinyproxy (basic authentication on 127.0.0.3:8888) in front of nginx.
//
// Dialogs and message boxes are modal on the test's thread; a second thread
// plays the user and notes what it saw, the test thread checks it. Where the
// login runs on a thread of its own, as on the worker, the roles swap.
#include "net/HttpClient.h"
#include "base/Budgets.h"
#include "net/Proxy.h"

#include "TestDesktop.h"
#include "base/Desktop.h"
#include "base/ModulePath.h"
#include "base/WidgetKey.h"

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
// and narrow characters.
std::string ConnectionRecord(DWORD flags, const std::string& proxy = "",
                             const std::string& bypass = "", const std::string& script = "") {
    std::string record;
    auto number = [&](DWORD value) { record.append(reinterpret_cast<char*>(&value), 4); };
    for (DWORD value : {DWORD(0x46), DWORD(1), flags})
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

// A named proxy for the user and for WinHTTP's own default: Wine's WinHTTP
// takes a session's proxy from that default and ignores the request option
// the client sets.
std::string MachineRecord(const std::string& address) {
    std::string record = ConnectionRecord(kNamedProxy, address);
    record[0] = 0x18;  // WinHTTP's version, no change counter
    record[4] = 0;
    return record;
}
struct NamedProxy {
    explicit NamedProxy(const std::string& address)
        : user(ConnectionRecord(kNamedProxy, address)),
          machine(MachineRecord(address), HKEY_LOCAL_MACHINE, L"WinHttpSettings") {}
    SavedValue user, machine;
};

// The client's state is only touched on the test's thread: no locking.
void StoreCredentials(const wchar_t* login, const wchar_t* password) {
    wcscpy_s(Http().credentials.login, login);
    wcscpy_s(Http().credentials.password, password);
}
std::wstring Stored() {  // login/password
    return std::wstring(Http().credentials.login) + L"/" + Http().credentials.password;
}

// Puts a proxy list into the record as the platform would have named it.
void UseProxyList(const wchar_t* list) {
    WINHTTP_PROXY_INFO& info = Http().proxy->proxyInfo;
    GlobalFree(info.lpszProxy);
    info.lpszProxy = nullptr;
    info.dwAccessType = list ? WINHTTP_ACCESS_TYPE_NAMED_PROXY : WINHTTP_ACCESS_TYPE_NO_PROXY;
    if (list) {
        size_t bytes = (wcslen(list) + 1) * sizeof(wchar_t);
        info.lpszProxy = static_cast<wchar_t*>(memcpy(GlobalAlloc(GMEM_FIXED, bytes), list, bytes));
    }
}

std::string Streaming() {
    return GetStreamingProxy("http://radio.example/stream");
}

// Every test starts with no proxy, no login and no 407.
class ProxyTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Http().proxy || HttpInit());
        ReadDirect();
        StoreCredentials(L"", L"");
        Http().credentials.scheme = 0;
        Http().proxyAuthRequired = false;
    }
    static void ReadDirect() {
        SavedValue direct(ConnectionRecord(kDirect));
        ReadProxyConfig();
    }
};

TEST_F(ProxyTest, StreamingProxyIsOneEntryAndTheStoredLogin) {
    UseProxyList(L"proxy.example:3128");
    EXPECT_EQ(Streaming(), "proxy.example:3128");
    StoreCredentials(L"ivan", L"pa55");
    EXPECT_EQ(Streaming(), "ivan:pa55@proxy.example:3128");
    StoreCredentials(L"ivan", L"");
    EXPECT_EQ(Streaming(), "ivan@proxy.example:3128");
    StoreCredentials(L"", L"pa55");  // a password alone is no login
    EXPECT_EQ(Streaming(), "proxy.example:3128");
    // Of scheme entries, the one after the last "="; else the first entry.
    UseProxyList(L"http=a:1;https=b:2");
    EXPECT_EQ(Streaming(), "b:2");
    UseProxyList(L"a:1 b:2");
    EXPECT_EQ(Streaming(), "a:1");
    // No proxy: nothing for the library, whatever login is stored.
    UseProxyList(nullptr);
    EXPECT_EQ(Streaming(), "");
    StoreCredentials(L"ivan", L"pa55");
    EXPECT_EQ(Streaming(), "");
    UseProxyList(L"http=");
    EXPECT_EQ(Streaming(), "");
}

TEST_F(ProxyTest, ReadProxyConfigTakesTheUsersRecord) {
    const ProxySettings& settings = *Http().proxy;
    {
        SavedValue named(ConnectionRecord(kNamedProxy, "http=a:1;https=b:2", "<local>"));
        ReadProxyConfig();
    }
    EXPECT_EQ(settings.proxyInfo.dwAccessType, DWORD(WINHTTP_ACCESS_TYPE_NAMED_PROXY));
    EXPECT_STREQ(settings.proxyInfo.lpszProxy, L"http=a:1;https=b:2");
    EXPECT_STREQ(settings.proxyInfo.lpszProxyBypass, L"<local>");
    EXPECT_EQ(settings.useAutoProxy, 0u);
    {
        SavedValue automatic(ConnectionRecord(kScript | kAutoDetect | kNamedProxy, "a:1", "b",
                                              "http://127.0.0.1:9/none.pac"));
        ReadProxyConfig();
    }
    EXPECT_EQ(settings.useAutoProxy, 1u);
    EXPECT_EQ(settings.autoProxy.dwFlags,
              DWORD(WINHTTP_AUTOPROXY_AUTO_DETECT | WINHTTP_AUTOPROXY_CONFIG_URL));
    EXPECT_STREQ(settings.autoProxy.lpszAutoConfigUrl, L"http://127.0.0.1:9/none.pac");
    // A script that cannot be had: no proxy string, though a list is named.
    EXPECT_EQ(Streaming(), "");

    ReadDirect();
    EXPECT_EQ(settings.proxyInfo.dwAccessType, DWORD(WINHTTP_ACCESS_TYPE_NO_PROXY));
    EXPECT_FALSE(settings.proxyInfo.lpszProxy || settings.proxyInfo.lpszProxyBypass ||
                 settings.autoProxy.lpszAutoConfigUrl || settings.useAutoProxy);
}

// ------------------------------------------------------------- dialog

// Polls every 20 ms for up to ten seconds, or until stop is set.
bool WaitFor(const std::function<bool()>& done, const std::atomic<bool>* stop = nullptr) {
    for (int i = 0; i < 500 && !(stop && *stop); ++i, Sleep(20))
        if (done())
            return true;
    return false;
}

HWND WaitForWindow(const wchar_t* caption, const std::atomic<bool>* stop = nullptr) {
    HWND window = nullptr;
    auto shown = [&] { return IsWindowVisible(window = FindWindowW(L"#32770", caption)); };
    return WaitFor(shown, stop) ? window : nullptr;
}

std::wstring Text(HWND window, int id) {
    wchar_t text[300] = {};
    GetDlgItemTextW(window, id, text, 300);
    return text;
}

// The user at the keyboard: a script run on its own thread once the dialog
// shows. The dialog is closed in any case, so a failed step cannot leave the
// test thread in the modal loop.
class User {
public:
    explicit User(std::function<void(HWND, User&)> script)
        : thread_([this, script] {
              HWND dialog = WaitForWindow(kProxyDialogCaption, &finished_);
              if (!dialog)
                  return Note(L"no dialog");
              Note(Text(dialog, IDC_PROXY_LOGIN) + L"/" + Text(dialog, IDC_PROXY_PASSWORD));
              script(dialog, *this);
              if (IsWindow(dialog))
                  PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
              WaitFor([&] { return !IsWindow(dialog); });
          }) {}
    ~User() { Seen(); }
    // For tests where no dialog should come: stops waiting for one.
    void Finish() { finished_ = true; }
    void Note(const std::wstring& line) { seen_ += line + L"\n"; }
    const std::wstring& Seen() {
        if (thread_.joinable())
            thread_.join();
        return seen_;
    }

    static void Press(HWND dialog, int id) {
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    }
    // Presses "Проверить" and notes the message box's text.
    void Check(HWND dialog) {
        Press(dialog, IDC_PROXY_TEST);
        HWND box = WaitForWindow(L"OrvellaWidget");
        if (!box)
            return Note(L"no message box");
        Note(Text(box, 0xFFFF));  // the message box's text
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        WaitFor([&] { return !IsWindow(box); });
    }

private:
    std::wstring seen_;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

TEST_F(ProxyTest, DialogShowsTheStoredLoginAndStoresWhatWasTyped) {
    StoreCredentials(L"ivan", L"pa55");
    User user([](HWND dialog, User& user) {
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
        user.Note(IsWindowVisible(dialog) ? L"open" : L"closed");
        User::Press(dialog, IDC_PROXY_ACCEPT);
        user.Note(WaitFor([&] { return !IsWindow(dialog); }) ? L"accepted" : L"still open");
    });
    EXPECT_EQ(DialogBoxParamW(ThisModule(), kProxyDialogName, nullptr,
                              ProxyCredentialsDialogProc, 0),
              0);
    EXPECT_EQ(user.Seen(), L"ivan/pa55\nopen\naccepted\n");
    EXPECT_EQ(Stored(), L"пётр" + std::wstring(255, L'l') + L"/" + std::wstring(259, L'p'));
}

// ------------------------------------------- against tinyproxy and nginx

constexpr char kProxyAddress[] = "127.0.0.3:8888";

// The servers on this machine, the user's proxy being tinyproxy.
class ProxyServerTest : public ProxyTest {
protected:
    void SetUp() override {
        ProxyTest::SetUp();
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetKeyValueW(HKEY_CURRENT_USER, kWidgetKeyPath, L"StorageServer", REG_SZ,
                                  L"127.0.0.1", sizeof(L"127.0.0.1")));
    }
    void TearDown() override { WidgetKey::Erase(); }

public:
    static HttpResult Get() {
        char* body = nullptr;
        size_t size = 0;
        HttpResult result =
            HttpGet(StorageServerUrl(L"/orvella/test_network").c_str(), &body, &size, nullptr,
                    kFeedDocumentBytes);
        std::free(body);
        return result;
    }

protected:
    NamedProxy proxy_{kProxyAddress};
};

// Automatic detection is on in a fresh profile and finds no script on most
// networks: the request goes out with the configured route, here direct.
TEST_F(ProxyTest, AutomaticDetectionThatFindsNothingLeavesTheConfiguredRoute) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kWidgetKeyPath, L"StorageServer", REG_SZ, L"127.0.0.1",
                    sizeof(L"127.0.0.1"));
    for (DWORD flags : {kAutoDetect | kDirect, kScript | kDirect}) {
        {
            SavedValue automatic(ConnectionRecord(flags, "", "", "http://127.0.0.1:9/none.pac"));
            ReadProxyConfig();
        }
        ASSERT_EQ(Http().proxy->useAutoProxy, 1u);
        EXPECT_EQ(ProxyServerTest::Get(), HttpOk) << flags;
    }
    ReadDirect();
    WidgetKey::Erase();
}

TEST_F(ProxyServerTest, ProxyAsksForLoginThenLetsItThrough) {
    ReadProxyConfig();
    EXPECT_EQ(Get(), HttpFailed);
    EXPECT_TRUE(Http().proxyAuthRequired);
    EXPECT_EQ(Http().credentials.scheme, DWORD(WINHTTP_AUTH_SCHEME_BASIC));
    StoreCredentials(L"orvella", L"secret");
    EXPECT_EQ(Get(), HttpOk);
    EXPECT_TRUE(Http().proxyAuthRequired);  // never cleared
    EXPECT_EQ(Streaming(), std::string("orvella:secret@") + kProxyAddress);
}

TEST_F(ProxyServerTest, LoginDialogAfterA407) {
    User user([](HWND dialog, User& user) {
        SetDlgItemTextW(dialog, IDC_PROXY_LOGIN, L"orvella");
        SetDlgItemTextW(dialog, IDC_PROXY_PASSWORD, L"secret");
        user.Check(dialog);
        SetDlgItemTextW(dialog, IDC_PROXY_PASSWORD, L"nope");
        user.Check(dialog);
        // The check stored "nope"; the close box must keep "secret" for the
        // network test after the dialog to pass.
        SetDlgItemTextW(dialog, IDC_PROXY_PASSWORD, L"secret");
    });
    EXPECT_TRUE(EnsureProxyLogin());
    EXPECT_EQ(user.Seen(), L"/\nРаботает\nНе работает\n");
    EXPECT_EQ(Stored(), L"orvella/secret");
}

TEST_F(ProxyServerTest, NoDialogWhenTheNetworkWorks) {
    User watch([](HWND, User& user) { user.Note(L"dialog"); });
    StoreCredentials(L"orvella", L"secret");
    Http().credentials.scheme = WINHTTP_AUTH_SCHEME_BASIC;
    EXPECT_TRUE(EnsureProxyLogin());
    EXPECT_TRUE(Transfers().serverReachable);
    EXPECT_FALSE(Http().proxyAuthRequired);
    watch.Finish();
    EXPECT_EQ(watch.Seen(), L"no dialog\n");
}

// The stand-in desktop's list view as the one the library lives on, for
// the test's lifetime.
class DesktopStandIn {
public:
    DesktopStandIn() : desktop_(200, 200) { SetDesktopListView(desktop_.listView); }
    ~DesktopStandIn() { SetDesktopListView(nullptr); }
    HWND listView() const { return desktop_.listView; }

private:
    TestDesktop desktop_;
};

// EnsureProxyLogin on a thread of its own, as the worker runs it. The
// test's thread owns the desktop and pumps its messages while it waits.
class WorkerLogin {
public:
    WorkerLogin() : thread_([this] {
        result_ = EnsureProxyLogin();
        done_ = true;
    }) {}
    // Closes whatever the login still shows; a login that will not end is
    // left behind with a failure rather than hanging the program.
    ~WorkerLogin() {
        bool ended = WaitFor([&] {
            PumpMessages();
            for (const wchar_t* caption :
                 {kProxyDialogCaption, L"OrvellaWidget", L"Orvella Widget"})
                if (HWND window = FindWindowW(L"#32770", caption))
                    PostMessageW(window, WM_CLOSE, 0, 0);
            return bool(done_);
        });
        if (ended) {
            thread_.join();
            return;
        }
        ADD_FAILURE() << "the login did not end";
        thread_.detach();
    }
    bool Done() const { return done_; }
    bool Result() const { return result_; }

private:
    std::atomic<bool> done_{false};
    std::atomic<bool> result_{false};
    std::thread thread_;
};

HWND WaitPumpingForWindow(const wchar_t* caption) {
    HWND window = nullptr;
    WaitFor([&] {
        PumpMessages();
        return IsWindowVisible(window = FindWindowW(L"#32770", caption));
    });
    return window;
}

// The dialog and its answer come up on the worker while the desktop stays
// usable: neither may take the desktop's list view as its owner, which would
// disable it (icons and panel) for as long as they are shown.
TEST_F(ProxyServerTest, DialogAndItsAnswerLeaveTheDesktopUsable) {
    DesktopStandIn desktop;
    std::wstring seen;
    // A modal window disables the top-level window of the owner it is given,
    // which takes the input of the list view inside it as well.
    auto note = [&](const wchar_t* what) {
        HWND listView = desktop.listView();
        seen += what;
        seen += IsWindowEnabled(listView) && IsWindowEnabled(GetAncestor(listView, GA_ROOT))
                    ? L": desktop enabled\n"
                    : L": desktop disabled\n";
    };
    {
        WorkerLogin login;
        HWND dialog = WaitPumpingForWindow(kProxyDialogCaption);
        ASSERT_TRUE(dialog) << "no dialog";
        note(L"dialog");
        SetDlgItemTextW(dialog, IDC_PROXY_LOGIN, L"orvella");
        SetDlgItemTextW(dialog, IDC_PROXY_PASSWORD, L"secret");
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_PROXY_TEST, BN_CLICKED), 0);
        HWND box = WaitPumpingForWindow(L"OrvellaWidget");
        ASSERT_TRUE(box) << "no answer";
        note(Text(box, 0xFFFF) == L"Работает" ? L"works" : L"fails");
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        WaitFor([&] {
            PumpMessages();
            return !IsWindow(box);
        });
        PostMessageW(dialog, WM_CLOSE, 0, 0);
        WaitFor([&] {
            PumpMessages();
            return login.Done();
        });
        EXPECT_TRUE(login.Done() && login.Result());
    }
    EXPECT_EQ(seen, L"dialog: desktop enabled\nworks: desktop enabled\n");
    EXPECT_EQ(Stored(), L"orvella/secret");
}

// Teardown while the dialog waits for the user on the worker: it is ended
// for the worker to finish, and an aborted login is no login.
TEST_F(ProxyServerTest, AbortingTheTransfersEndsAnOpenDialog) {
    WorkerLogin login;
    ASSERT_TRUE(WaitPumpingForWindow(kProxyDialogCaption)) << "no dialog";
    AbortTransfers();
    CancelProxyLogin(Http().shared);
    EXPECT_TRUE(WaitFor([&] {
        PumpMessages();
        return login.Done();
    })) << "the dialog stayed";
    EXPECT_FALSE(login.Result());
    HttpInit();
}

}  // namespace
