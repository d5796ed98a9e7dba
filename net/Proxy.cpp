// The user's proxy, its per-URL resolution, the proxy login and its dialog,
// and the proxy string of the radio's streaming library.
//
// The worker rewrites the proxy record and the credentials while the window
// thread may be reading them for the radio, so every access goes through
// proxyLock. The lock is never held across a network call, a message box or
// the dialog: those can take seconds, and the window thread must not stall
// behind them.
//
// The dialog and the message boxes run on the worker and have no owner: a
// modal window disables its owner, and the only window at hand is the
// desktop's list view on the shell's thread, whose icons and panel would
// stop answering for as long as they are shown.
#include "net/HttpClient.h"
#include "net/Proxy.h"

#include "base/ModulePath.h"
#include "base/Text.h"

#include <atomic>

#include <cstring>
#include <cwchar>
#include <string>

namespace {

constexpr size_t kFieldUnits = 260;  // login, password, widened URL, with terminator
constexpr size_t kFieldBytes = 260;  // each narrow part of the streaming proxy

// A copy the record can own and GlobalFree, as it does the platform's
// strings; null for null or on allocation failure.
wchar_t* GlobalCopy(const wchar_t* text) {
    if (!text)
        return nullptr;
    size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(GlobalAlloc(GMEM_FIXED, bytes));
    if (copy)
        std::memcpy(copy, text, bytes);
    return copy;
}

void GlobalRelease(wchar_t*& text) {
    if (text)
        GlobalFree(text);
    text = nullptr;
}

void ReleasePlatformStrings(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG& config) {
    GlobalRelease(config.lpszAutoConfigUrl);
    GlobalRelease(config.lpszProxy);
    GlobalRelease(config.lpszProxyBypass);
}

// The host:port that a proxy list names for the stream: the entry after the
// last "=" (a list of scheme=host:port entries names the stream's last), or
// the whole list's first entry when it has no "=".
std::wstring StreamingHost(const wchar_t* list) {
    if (!list || !*list)
        return std::wstring();
    std::wstring text(list);
    size_t equals = text.rfind(L'=');
    size_t start = equals == std::wstring::npos ? 0 : equals + 1;
    size_t end = text.find_first_of(L" ;", start);
    return text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

// Unowned, so nothing else keeps the box in view: it comes to the front and
// stays above other windows until answered. A stop of the worker ends it
// (the WM_QUIT that the stop posts ends every modal loop of the thread), and
// none is shown once the stop came.
void ShowNotice(const wchar_t* text, const wchar_t* caption) {
    if (StopRequested())
        return;
    MessageBoxW(nullptr, text, caption, MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST);
}

// What the user typed goes straight into the store: the radio and the next
// request use it without further confirmation.
void StoreTypedCredentials(HWND dialog) {
    wchar_t login[kFieldUnits] = {};
    wchar_t password[kFieldUnits] = {};
    GetDlgItemTextW(dialog, IDC_PROXY_LOGIN, login, int(kFieldUnits));
    GetDlgItemTextW(dialog, IDC_PROXY_PASSWORD, password, int(kFieldUnits));
    HttpState& http = Http();
    std::lock_guard<std::mutex> lock(http.proxyLock);
    CopyText(http.credentials.login, login);
    CopyText(http.credentials.password, password);
}

}  // namespace

void ReadProxyConfig() {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    bool read = WinHttpGetIEProxyConfigForCurrentUser(&config) != FALSE;

    HttpState& http = Http();
    {
        std::lock_guard<std::mutex> lock(http.proxyLock);
        ProxySettings* settings = http.proxy.get();
        if (settings) {
            settings->Clear();
            if (read) {
                if (config.lpszAutoConfigUrl) {
                    settings->autoProxy.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
                    settings->autoProxy.lpszAutoConfigUrl = GlobalCopy(config.lpszAutoConfigUrl);
                    settings->autoProxy.fAutoLogonIfChallenged = TRUE;
                    settings->useAutoProxy = 1;
                }
                if (config.fAutoDetect) {
                    settings->autoProxy.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
                    settings->autoProxy.dwAutoDetectFlags =
                        WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
                    settings->autoProxy.fAutoLogonIfChallenged = TRUE;
                    settings->useAutoProxy = 1;
                }
                if (config.lpszProxy) {
                    settings->proxyInfo.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
                    settings->proxyInfo.lpszProxy = GlobalCopy(config.lpszProxy);
                    settings->proxyInfo.lpszProxyBypass = GlobalCopy(config.lpszProxyBypass);
                }
            }
        }
    }
    if (read)
        ReleasePlatformStrings(config);
}

bool ResolveProxyForUrl(const wchar_t* url, HINTERNET session, bool* loginRefused) {
    HttpState& http = Http();
    // The script URL is copied so that a concurrent ReadProxyConfig cannot
    // free it under the resolution, which may download the script.
    WINHTTP_AUTOPROXY_OPTIONS options{};
    std::wstring scriptUrl;
    {
        std::lock_guard<std::mutex> lock(http.proxyLock);
        if (http.proxy) {
            options = http.proxy->autoProxy;
            if (options.lpszAutoConfigUrl)
                scriptUrl = options.lpszAutoConfigUrl;
        }
    }
    options.lpszAutoConfigUrl = scriptUrl.empty() ? nullptr : scriptUrl.c_str();

    InternetHandle temporary;
    if (!session) {
        temporary.reset(WinHttpOpen(L"", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0));
        session = temporary.get();
    }
    WINHTTP_PROXY_INFO answer{};
    bool resolved = session && WinHttpGetProxyForUrl(session, url, &options, &answer);
    DWORD error = resolved ? ERROR_SUCCESS : GetLastError();
    // Closed before the message box, which may stay up for long.
    temporary.reset();

    if (loginRefused)
        *loginRefused = !resolved && error == ERROR_WINHTTP_LOGIN_FAILURE;
    if (!resolved) {
        if (error == ERROR_WINHTTP_LOGIN_FAILURE) {
            http.proxyAuthRequired = true;
            ShowNotice(L"Login failure in WinHttpGetProxyForUrl", L"Orvella Widget");
        } else if (error == ERROR_WINHTTP_AUTODETECTION_FAILED ||
                   error == ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT) {
            std::lock_guard<std::mutex> lock(http.proxyLock);
            // A worker stopped meanwhile may be writing into the record of
            // the next embedding's client: it keeps its answer to itself.
            if (http.proxy && !StopRequested())
                http.proxy->detectionFailed = true;
        }
        return false;
    }

    {
        std::lock_guard<std::mutex> lock(http.proxyLock);
        if (http.proxy && !StopRequested()) {
            WINHTTP_PROXY_INFO& info = http.proxy->proxyInfo;
            GlobalRelease(info.lpszProxy);
            GlobalRelease(info.lpszProxyBypass);
            info.dwAccessType = answer.dwAccessType;
            info.lpszProxy = GlobalCopy(answer.lpszProxy);
            info.lpszProxyBypass = GlobalCopy(answer.lpszProxyBypass);
        }
    }
    GlobalRelease(answer.lpszProxy);
    GlobalRelease(answer.lpszProxyBypass);
    return true;
}

void CancelProxyLogin(TransferGroup& group) {
    if (HWND dialog = group.openDialog.load())
        PostMessageW(dialog, WM_CLOSE, 0, 0);
}

bool EnsureProxyLogin() {
    ReadProxyConfig();
    if (TestNetwork())
        return true;
    // Without a 407 behind it the failure is no matter of credentials.
    if (!Http().proxyAuthRequired)
        return true;
    if (StopRequested())
        return false;
    // The dialog's resource is linked into the module that carries this code.
    DialogBoxParamW(ThisModule(), kProxyDialogName, nullptr, ProxyCredentialsDialogProc, 0);
    return TestNetwork();
}

INT_PTR CALLBACK ProxyCredentialsDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        wchar_t login[kFieldUnits];
        wchar_t password[kFieldUnits];
        {
            HttpState& http = Http();
            std::lock_guard<std::mutex> lock(http.proxyLock);
            CopyText(login, http.credentials.login);
            CopyText(password, http.credentials.password);
        }
        SetDlgItemTextW(dialog, IDC_PROXY_LOGIN, login);
        SetDlgItemTextW(dialog, IDC_PROXY_PASSWORD, password);
        // Unowned and asked for from the background: kept above other
        // windows, as its notices are, until the user has answered.
        SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        Transfers().openDialog = dialog;
        // Shutdown may have asked to end it before it stood.
        if (StopRequested())
            PostMessageW(dialog, WM_CLOSE, 0, 0);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_PROXY_TEST: {
            StoreTypedCredentials(dialog);
            bool works = TestNetwork();
            ShowNotice(works ? L"Работает" : L"Не работает", L"OrvellaWidget");
            break;
        }
        case IDC_PROXY_ACCEPT:
            SendMessageW(dialog, WM_CLOSE, 0, 0);
            break;
        default:
            // Enter and Esc arrive here as IDOK and IDCANCEL: the dialog
            // closes only through its button or its close box.
            break;
        }
        return TRUE;
    case WM_CLOSE: {
        // A stopped worker's dialog keeps what was typed to itself: a new
        // one may be open for the next embedding by now.
        if (!StopRequested())
            StoreTypedCredentials(dialog);
        HWND open = dialog;
        Transfers().openDialog.compare_exchange_strong(open, nullptr);
        EndDialog(dialog, 0);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

std::string GetStreamingProxy(const char* url) {
    HttpState& http = Http();
    bool autoProxy = false;
    {
        std::lock_guard<std::mutex> lock(http.proxyLock);
        autoProxy = http.proxy && http.proxy->useAutoProxy;
    }
    if (autoProxy) {
        wchar_t wideUrl[kFieldUnits] = {};
        ToWide(Encoding::Ansi, url, wideUrl);
        if (!ResolveProxyForUrl(wideUrl, nullptr))
            return std::string();
    }

    char host[kFieldBytes];
    char login[kFieldBytes];
    char password[kFieldBytes];
    {
        std::lock_guard<std::mutex> lock(http.proxyLock);
        std::wstring hostPart =
            StreamingHost(http.proxy ? http.proxy->proxyInfo.lpszProxy : nullptr);
        ToNarrow(Encoding::Ansi, hostPart.c_str(), host);
        ToNarrow(Encoding::Ansi, http.credentials.login, login);
        ToNarrow(Encoding::Ansi, http.credentials.password, password);
    }
    // No proxy: the library connects directly.
    if (!host[0])
        return std::string();

    std::string result;
    if (login[0]) {
        result += login;
        if (password[0]) {
            result += ':';
            result += password;
        }
        result += '@';
    }
    result += host;
    return result;
}
