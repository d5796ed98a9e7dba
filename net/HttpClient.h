// The widget's HTTP access on WinHTTP: blocking operations that the worker
// thread calls one after the other (a conditional download into memory or a
// cache file, a HEAD that tests whether the servers answer), the user's proxy
// and proxy login, the dialog that asks for that login, and the proxy string
// handed to the radio's streaming library. Everything is plain HTTP/1.1 on
// port 80, whatever scheme or port a URL names.
//
// Threads: the worker runs every transfer, the network test and the dialog.
// The radio's open thread reads the proxy record and the credentials while
// the worker may rewrite them: both take proxyLock.
//
// Transfers belong to a group: a worker enters a group of its own, so its
// stop (abortTransfers), the requests that the stop closes and what it
// learnt of the servers are its own. A worker that teardown left to finish
// by itself can then neither stop nor confuse the worker of the next
// embedding. Threads that entered no group share the process's.
#pragma once

#include "base/Handles.h"

#include <windows.h>

#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

struct InternetHandleTraits {
    using Native = HINTERNET;
    static Native Empty() { return nullptr; }
    static void Close(Native handle) { WinHttpCloseHandle(handle); }
};
using InternetHandle = UniqueHandle<InternetHandleTraits>;

// The context of one request; a local of the calling operation, which closes
// whatever it holds when it goes.
struct HttpRequest {
    uint32_t status = 0;  // 0 when none could be read
    // Declared in this order so that they close in the reverse one: a
    // request belongs to its connection, a connection to its session.
    InternetHandle session;
    InternetHandle connection;
    InternetHandle request;
    wchar_t host[260] = {};
    wchar_t path[4000] = {};
};

// The process's proxy configuration. The first two groups are laid out as
// the WinHTTP records they are handed to; their strings are owned here
// (allocated with GlobalAlloc, as the platform's are).
struct ProxySettings {
    WINHTTP_PROXY_INFO proxyInfo{WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr};
    WINHTTP_AUTOPROXY_OPTIONS autoProxy{};
    uint32_t useAutoProxy = 0;  // resolve the proxy per URL before each request
    // The automatic resolution found no script: it is not tried again until
    // the configuration is read anew (the worker's next offline tick), for
    // a failed detection can take seconds that nothing could cut short.
    bool detectionFailed = false;

    ProxySettings() = default;
    ~ProxySettings() { Clear(); }
    ProxySettings(const ProxySettings&) = delete;
    ProxySettings& operator=(const ProxySettings&) = delete;

    // Frees the strings and goes back to no proxy.
    void Clear();
};

// In memory only: never written to disk or the registry.
struct ProxyCredentials {
    wchar_t login[260] = {};
    wchar_t password[260] = {};
    uint32_t scheme = 0;  // the first scheme the proxy offered on its last 407
};

// The transfers of one worker (or of the threads without one).
struct TransferGroup {
    TransferGroup() = default;
    TransferGroup(const TransferGroup&) = delete;
    TransferGroup& operator=(const TransferGroup&) = delete;

    // Stops the group: its requests under way are closed now (their
    // exchanges fail at once on Windows; under Wine a blocked call waits for
    // its own time-out), later ones end at their first step. Any thread.
    void Abort();

    std::atomic<bool> abortTransfers{false};  // the group's stop
    std::atomic<bool> serverReachable{false};
    // The group's credentials dialog while it is open, which the stop ends.
    std::atomic<HWND> openDialog{nullptr};
    // The requests under way, which Abort closes; a request closed so is
    // marked, and its owner lets go of it unclosed.
    std::mutex lock;
    std::map<HINTERNET, bool> open;
};

// The calling thread's group: the one it entered, else the process's.
TransferGroup& Transfers();
// Whether the calling thread's work is being stopped: its transfers are
// aborted. Long parses and builds look at it between items.
inline bool StopRequested() {
    return Transfers().abortTransfers;
}

// While it lives, the calling thread works in group.
class TransferGroupScope {
public:
    // Whether a thread can enter a group of its own at all (the thread-local
    // slot could be had): a worker that cannot must not start, as nothing
    // could stop it.
    static bool Available();
    explicit TransferGroupScope(TransferGroup& group);
    ~TransferGroupScope();
    TransferGroupScope(const TransferGroupScope&) = delete;
    TransferGroupScope& operator=(const TransferGroupScope&) = delete;

private:
    TransferGroup* previous_;
};

// Process-wide state of the client.
struct HttpState {
    std::mutex proxyLock;  // guards proxy and credentials across threads
    std::unique_ptr<ProxySettings> proxy;  // made by HttpInit, gone after HttpRelease
    ProxyCredentials credentials;
    std::atomic<bool> proxyAuthRequired{false};  // never cleared
    // The group of the threads that entered none; HttpInit clears its stop.
    TransferGroup shared;
    wchar_t userAgent[32] = {};
};

HttpState& Http();

// Where the storage server lives: a built-in host, overridable by the string
// value "StorageServer" under the widget's registry key, which the demo and
// the tests point at 127.0.0.1.
std::wstring StorageServerUrl(const wchar_t* path);
// The same for the content server (the feeds), overridden by "ContentServer".
std::wstring ContentServerUrl(const wchar_t* path);

// Brings the client up, also again after HttpRelease: clears the stop
// that the last shutdown left.
bool HttpInit();
// Stops the downloads of the threads without a group of their own: those
// under way end now, with result 0 (their requests are closed under them),
// later ones at their first read. Any thread; HttpInit clears it.
void AbortTransfers();
// Releases the proxy record; the client is used no more.
void HttpRelease();

// The client's lifetime as a member of whatever embeds the widget.
class HttpClientScope {
public:
    HttpClientScope() { HttpInit(); }
    ~HttpClientScope() { HttpRelease(); }
    HttpClientScope(const HttpClientScope&) = delete;
    HttpClientScope& operator=(const HttpClientScope&) = delete;
};

bool HttpOpenRequest(HttpRequest& context, const wchar_t* url, const wchar_t* verb);
bool ApplyRequestOptions(HINTERNET session, HINTERNET request, const wchar_t* url);
bool HttpQueryStatus(HttpRequest& context);

// While it lives, the stop of the calling thread's group closes the request
// (the scope then lets go of the closed handle): for every exchange on the
// worker that could wait on a silent server. After the stop, true from
// aborted(): the exchange is not begun.
class HttpTransferScope {
public:
    explicit HttpTransferScope(InternetHandle& request);
    ~HttpTransferScope();
    HttpTransferScope(const HttpTransferScope&) = delete;
    HttpTransferScope& operator=(const HttpTransferScope&) = delete;
    bool aborted() const { return group_.abortTransfers; }

private:
    InternetHandle& request_;
    TransferGroup& group_;
};

enum HttpResult : int {
    // Status 200 and the whole body.
    HttpOk = 1,
    // 304, or transfers were aborted.
    HttpNotModified = 0,
    // No answer, no status, another status, or a failed read, or a body
    // shorter than its Content-Length.
    HttpFailed = -1,
    // The request could not be opened or sent, or the body is longer than
    // announced or than the caller's budget.
    HttpRefused = -2,
};

// Receives at most limit bytes of body (base/Budgets.h); a longer one,
// announced or not, is refused. The caller frees *body with std::free,
// whatever the result.
HttpResult HttpGet(const wchar_t* url, char** body, size_t* size, const SYSTEMTIME* lastModified,
                   size_t limit);

// Downloads url into path (relative to the library's folder) when the
// server has something newer than the local copy. The copy is replaced only
// by a complete body of at most limit bytes; true when a new body was
// written.
bool DownloadFile(const wchar_t* url, const wchar_t* path, size_t limit);

// The last-write time (UTC) of a local copy, the condition of its next
// download; false when there is no such file.
bool LocalCopyTime(const std::wstring& path, SYSTEMTIME& written);
// Writes the whole of data to path through a temporary file in the same
// folder, moved over path only once complete.
bool ReplaceWholeFile(const std::wstring& path, const char* data, size_t size);
// Reads the whole file at path into data; false when it cannot be opened or
// read, or holds more than limit bytes (a file larger than any we write is
// not ours). Others may write or replace the file meanwhile.
bool ReadWholeFile(const std::wstring& path, long long limit, std::string& data);

bool TestNetwork();
// Whether the machine has a network connection at all (the system's own
// notion, no request made). Tests replace the probe.
bool NetworkAlive();
extern bool (*networkAliveProbe)();
void FormatHttpDate(const SYSTEMTIME& time, wchar_t* output, size_t capacity);

// Proxy handling (net/Proxy.cpp).
void ReadProxyConfig();
// Resolves the automatic proxy for url into the proxy record; false when it
// could not, and then *loginRefused says whether the proxy refused the login.
bool ResolveProxyForUrl(const wchar_t* url, HINTERNET session, bool* loginRefused = nullptr);
bool EnsureProxyLogin();
// Ends the group's credentials dialog if one is open, keeping what was
// typed unless the group is being stopped; any thread.
void CancelProxyLogin(TransferGroup& group);
// login:password@host:port for the streaming library; empty when no proxy
// is named or it cannot be resolved. Not on the window thread: it may
// resolve the proxy over the network and show a notice.
std::string GetStreamingProxy(const char* url);
