// The widget's HTTP access on WinHTTP: blocking operations that the worker
// thread calls one after the other (a conditional download into memory or a
// cache file, a HEAD that tests whether the servers answer), the user's proxy
// and proxy login, the dialog that asks for that login, and the proxy string
// handed to the radio's streaming library. Everything is plain HTTP/1.1 on
// port 80, whatever scheme or port a URL names.
//
// Threads: the worker runs every transfer, the network test and the dialog.
// The window thread reads the proxy record and the credentials (radio start)
// while the worker may rewrite them: both take proxyLock.
#pragma once

#include <windows.h>

#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

// The context of one request; a local of the calling operation.
struct HttpRequest {
    uint32_t status = 0;  // 0 when none could be read
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
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
};

// In memory only: never written to disk or the registry.
struct ProxyCredentials {
    wchar_t login[260] = {};
    wchar_t password[260] = {};
    uint32_t scheme = 0;  // the first scheme the proxy offered on its last 407
};

// Process-wide state of the client.
struct HttpState {
    std::mutex proxyLock;  // guards proxy and credentials across threads
    ProxySettings* proxy = nullptr;  // owned; created by HttpInit
    ProxyCredentials credentials;
    std::atomic<bool> serverReachable{false};
    std::atomic<bool> proxyAuthRequired{false};  // never cleared
    std::atomic<bool> abortTransfers{false};     // set once at shutdown
    wchar_t userAgent[32] = {};
};

HttpState& Http();

// Where the widget's servers live. Built-in hosts, each overridable by a
// string value under the widget's registry key ("ContentServer",
// "StorageServer"), which the demo and the tests point at 127.0.0.1.
std::wstring ContentServerUrl(const wchar_t* path);
std::wstring StorageServerUrl(const wchar_t* path);

bool HttpInit();
// Releases the proxy record; the client is used no more.
void HttpRelease();
bool HttpOpenRequest(HttpRequest& context, const wchar_t* url, const wchar_t* verb);
bool ApplyRequestOptions(HINTERNET session, HINTERNET request, const wchar_t* url);
bool HttpQueryStatus(HttpRequest& context);
void HttpCloseRequest(HttpRequest& context);

// 1: status 200 and the whole body (the caller frees it with std::free,
// whatever the result). 0: 304, or transfers were aborted. -1: no answer, no
// status, another status, or a failed read, or a body shorter than its
// Content-Length. -2: the request could not be opened or sent, or the body
// is longer than announced or than the ceiling.
int HttpGet(const wchar_t* url, char** body, size_t* size, const SYSTEMTIME* lastModified);

// Downloads url into path (relative to the library's folder) when the
// server has something newer than the local copy. The copy is replaced only
// by a complete body; true when a new body was written.
bool DownloadFile(const wchar_t* url, const wchar_t* path);

bool TestNetwork();
void FormatHttpDate(const SYSTEMTIME& time, wchar_t* output, size_t capacity);

// Proxy handling (net/Proxy.cpp).
void ReadProxyConfig();
bool ResolveProxyForUrl(const wchar_t* url, HINTERNET session);
bool EnsureProxyLogin();
// login:password@host:port for the streaming library, or null.
const char* GetStreamingProxy(const char* url);
