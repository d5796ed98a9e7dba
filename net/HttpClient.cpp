// The blocking WinHTTP operations of the worker thread; see HttpClient.h.
//
// Every handle an operation opens is owned by its HttpRequest or by a local
// owner, so no early return can leak one.
#include "net/HttpClient.h"

#include "base/Budgets.h"
#include "base/ModulePath.h"
#include "base/Text.h"
#include "base/WidgetKey.h"

#include <sensapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <utility>

namespace {

constexpr wchar_t kUserAgent[] = L"Orvella Lumidesk";
constexpr wchar_t kStorageServerValue[] = L"StorageServer";
constexpr wchar_t kBuiltInStorageHost[] = L"storage.orvella.example";
constexpr wchar_t kContentServerValue[] = L"ContentServer";
constexpr wchar_t kBuiltInContentHost[] = L"content.orvella.example";
constexpr wchar_t kTestNetworkPath[] = L"/orvella/test_network";

constexpr DWORD kSendTimeoutMs = 2000;
// Wine waits for a status line without end when a server accepts the
// connection and then says nothing, which would hold the worker thread for
// good. The bound is the platform's own default for a stalled body, which is
// left as it is.
constexpr DWORD kResponseTimeoutMs = 30000;
// The platform would give name resolution no bound and a connection a
// minute. A worker that teardown had to leave behind waits out whatever
// exchange it is in (under Wine closing a request does not end a blocked
// call), so every exchange is given up on after these.
constexpr int kResolveTimeoutMs = 5000;
constexpr int kConnectTimeoutMs = 5000;
// The platform's own bound for each read of a body.
constexpr int kReadTimeoutMs = 30000;
// A server that names no length may still send this much (or the caller's
// budget, when that is smaller).
constexpr size_t kUnannouncedLimit = 100000;
constexpr size_t kHeaderCapacity = 200;
constexpr size_t kDateCapacity = 64;

constexpr const wchar_t* kDayNames[] = {L"Sun", L"Mon", L"Tue", L"Wed", L"Thu", L"Fri", L"Sat"};
constexpr const wchar_t* kMonthNames[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                          L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};

std::wstring ServerUrl(const wchar_t* valueName, const wchar_t* builtInHost, const wchar_t* path) {
    // Read on every call so that a changed value needs no restart; anything
    // but a non-empty string that fits falls back to the built-in host.
    wchar_t host[512] = {};
    std::wstring url = L"http://";
    if (WidgetKey().ReadString(valueName, host, sizeof(host) / sizeof(host[0])))
        url += host;
    else
        url += builtInHost;
    if (path)
        url += path;
    return url;
}

// Content-Length as a byte count. False when the header is absent or is not
// a plain decimal number; a value too large for 64 bits saturates, which the
// ceiling then refuses like any other oversized length.
bool QueryContentLength(HINTERNET request, unsigned long long& length) {
    wchar_t text[40] = {};
    DWORD size = sizeof(text);
    // Read as text: the numeric query is 32 bits wide and would wrap a
    // length of several gigabytes into something that looks acceptable.
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return false;
        // Longer than any real number of bytes.
        length = ~0ull;
        return true;
    }
    const wchar_t* digit = text;
    while (*digit == L' ' || *digit == L'\t')
        ++digit;
    if (*digit < L'0' || *digit > L'9')
        return false;
    unsigned long long value = 0;
    for (; *digit >= L'0' && *digit <= L'9'; ++digit) {
        unsigned d = static_cast<unsigned>(*digit - L'0');
        if (value > (~0ull - d) / 10) {
            value = ~0ull;
            break;
        }
        value = value * 10 + d;
    }
    length = value;
    return true;
}

// Removes a file that a failed download left behind.
class TemporaryFile {
public:
    explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        if (!path_.empty())
            DeleteFileW(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::wstring& path() const { return path_; }
    void Keep() { path_.clear(); }

private:
    std::wstring path_;
};

bool WriteWholeFile(const std::wstring& path, const char* data, size_t size) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    bool written = true;
    while (size > 0) {
        DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD done = 0;
        if (!WriteFile(file.get(), data, chunk, &done, nullptr) || done == 0) {
            written = false;
            break;
        }
        data += done;
        size -= done;
    }
    // On the disk before the file may replace another.
    if (written && !FlushFileBuffers(file.get()))
        written = false;
    // A failed close can mean data that never reached the disk: closed here,
    // where that can be told, rather than by the owner.
    if (!CloseHandle(file.release()))
        written = false;
    return written;
}

}  // namespace

HttpState& Http() {
    static HttpState state;
    return state;
}

namespace {

// The thread-local slot that names a thread's transfer group. Freed when
// the library goes, so that loading it again does not use up slots.
struct GroupSlot {
    DWORD index = TlsAlloc();
    ~GroupSlot() {
        if (index != TLS_OUT_OF_INDEXES)
            TlsFree(index);
    }
};

GroupSlot& Slot() {
    static GroupSlot slot;
    return slot;
}

}  // namespace

TransferGroup& Transfers() {
    const DWORD index = Slot().index;
    void* group = index != TLS_OUT_OF_INDEXES ? TlsGetValue(index) : nullptr;
    return group ? *static_cast<TransferGroup*>(group) : Http().shared;
}

bool TransferGroupScope::Available() {
    return Slot().index != TLS_OUT_OF_INDEXES;
}

TransferGroupScope::TransferGroupScope(TransferGroup& group) : previous_(&Transfers()) {
    if (Slot().index != TLS_OUT_OF_INDEXES)
        TlsSetValue(Slot().index, &group);
}

TransferGroupScope::~TransferGroupScope() {
    if (Slot().index != TLS_OUT_OF_INDEXES)
        TlsSetValue(Slot().index, previous_ == &Http().shared ? nullptr : previous_);
}

void TransferGroup::Abort() {
    std::lock_guard<std::mutex> hold(lock);
    abortTransfers = true;
    for (auto& [request, closed] : open) {
        if (!closed)
            WinHttpCloseHandle(request);
        closed = true;
    }
}

namespace {

bool SystemNetworkAlive() {
    DWORD flags = 0;
    return IsNetworkAlive(&flags) != FALSE;
}

}  // namespace

bool (*networkAliveProbe)() = SystemNetworkAlive;

bool NetworkAlive() {
    return networkAliveProbe();
}

std::wstring StorageServerUrl(const wchar_t* path) {
    return ServerUrl(kStorageServerValue, kBuiltInStorageHost, path);
}

std::wstring ContentServerUrl(const wchar_t* path) {
    return ServerUrl(kContentServerValue, kBuiltInContentHost, path);
}

void ProxySettings::Clear() {
    // The strings were allocated with GlobalAlloc, as the platform's are.
    if (proxyInfo.lpszProxy)
        GlobalFree(proxyInfo.lpszProxy);
    if (proxyInfo.lpszProxyBypass)
        GlobalFree(proxyInfo.lpszProxyBypass);
    if (autoProxy.lpszAutoConfigUrl)
        GlobalFree(const_cast<wchar_t*>(autoProxy.lpszAutoConfigUrl));
    proxyInfo = WINHTTP_PROXY_INFO{WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr};
    autoProxy = WINHTTP_AUTOPROXY_OPTIONS{};
    useAutoProxy = 0;
    detectionFailed = false;
}

bool HttpInit() {
    HttpState& http = Http();
    // A client brought up again in the same process (a widget detached and
    // attached again) must not inherit the last shutdown's stop.
    http.shared.abortTransfers = false;
    CopyText(http.userAgent, kUserAgent);
    std::lock_guard<std::mutex> lock(http.proxyLock);
    if (!http.proxy)
        http.proxy.reset(new (std::nothrow) ProxySettings());
    return http.proxy != nullptr;
}

void HttpRelease() {
    HttpState& http = Http();
    std::lock_guard<std::mutex> lock(http.proxyLock);
    http.proxy.reset();
}

bool HttpOpenRequest(HttpRequest& context, const wchar_t* url, const wchar_t* verb) {
    if (!url || !verb)
        return false;
    wchar_t host[sizeof(context.host) / sizeof(context.host[0])] = {};
    wchar_t path[sizeof(context.path) / sizeof(context.path[0])] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof(host) / sizeof(host[0]);
    // Without a separate extra-info buffer the query stays part of the path.
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = sizeof(path) / sizeof(path[0]);
    if (!WinHttpCrackUrl(url, 0, ICU_ESCAPE, &parts) || host[0] == L'\0')
        return false;

    if (!context.session) {
        context.session.reset(WinHttpOpen(Http().userAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                          WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        if (!context.session)
            return false;
    }

    // The request belongs to the connection: it goes first either way.
    context.request.reset();
    if (!context.connection || wcscmp(context.host, host) != 0) {
        context.connection.reset();
        context.host[0] = L'\0';
        // Everything is plain HTTP on port 80, whatever the URL's scheme or
        // port: the servers offer nothing else.
        context.connection.reset(
            WinHttpConnect(context.session.get(), host, INTERNET_DEFAULT_HTTP_PORT, 0));
        if (!context.connection)
            return false;
        CopyText(context.host, host);
    }
    CopyText(context.path, path);

    context.request.reset(WinHttpOpenRequest(context.connection.get(), verb, context.path,
                                             L"HTTP/1.1", WINHTTP_NO_REFERER,
                                             WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_REFRESH));
    if (!context.request)
        return false;
    return ApplyRequestOptions(context.session.get(), context.request.get(), url);
}

bool ApplyRequestOptions(HINTERNET session, HINTERNET request, const wchar_t* url) {
    HttpState& http = Http();
    WinHttpSetTimeouts(request, kResolveTimeoutMs, kConnectTimeoutMs, int(kSendTimeoutMs),
                       kReadTimeoutMs);
    DWORD responseTimeout = kResponseTimeoutMs;
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                     sizeof(responseTimeout));
    // Headers are all that some answers are read for (the statistics
    // server's, the update's HEAD); the platform would take 64 kB of them.
    DWORD headerBytes = kAnswerHeaderBytes;
    WinHttpSetOption(request, WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &headerBytes,
                     sizeof(headerBytes));

    // The resolution rewrites the proxy record under the lock itself and
    // talks to the network, so the lock is not held across it.
    bool autoProxy = false;
    {
        std::lock_guard<std::mutex> lock(http.proxyLock);
        autoProxy = http.proxy && http.proxy->useAutoProxy && !http.proxy->detectionFailed;
    }
    // Automatic detection is on by default and finds no script on most
    // networks: that leaves the configured proxy, or none, as the system's
    // own clients take it. Only a refused proxy login stops the request.
    bool loginRefused = false;
    if (autoProxy && !ResolveProxyForUrl(url, session, &loginRefused) && loginRefused)
        return false;

    // Copies taken under the lock: the window thread may rewrite the record
    // while the options are being set. WinHTTP copies what it is given.
    ProxyCredentials credentials;
    DWORD accessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
    std::wstring proxyList;
    std::wstring bypassList;
    bool hasProxy = false;
    bool hasBypass = false;
    {
        std::lock_guard<std::mutex> lock(http.proxyLock);
        credentials = http.credentials;
        if (http.proxy) {
            const WINHTTP_PROXY_INFO& info = http.proxy->proxyInfo;
            accessType = info.dwAccessType;
            hasProxy = info.lpszProxy != nullptr;
            hasBypass = info.lpszProxyBypass != nullptr;
            if (hasProxy)
                proxyList = info.lpszProxy;
            if (hasBypass)
                bypassList = info.lpszProxyBypass;
        }
    }

    // Sent on every request, also before any 407 named a scheme: the
    // platform refuses what it cannot use and the request goes on without.
    WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, credentials.scheme,
                          credentials.login, credentials.password, nullptr);
    SecureZeroMemory(credentials.password, sizeof(credentials.password));

    WINHTTP_PROXY_INFO info = {};
    info.dwAccessType = accessType;
    info.lpszProxy = hasProxy ? &proxyList[0] : nullptr;
    info.lpszProxyBypass = hasBypass ? &bypassList[0] : nullptr;
    return WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof(info)) != FALSE;
}

bool HttpQueryStatus(HttpRequest& context) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!context.request ||
        !WinHttpQueryHeaders(context.request.get(),
                             WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        context.status = 0;
        return false;
    }
    context.status = status;
    if (status == HTTP_STATUS_PROXY_AUTH_REQ) {
        HttpState& http = Http();
        http.proxyAuthRequired = true;
        DWORD supported = 0;
        DWORD first = 0;
        DWORD target = 0;
        if (WinHttpQueryAuthSchemes(context.request.get(), &supported, &first, &target)) {
            std::lock_guard<std::mutex> lock(http.proxyLock);
            http.credentials.scheme = first;
        }
    }
    return status != 0;
}

void AbortTransfers() {
    Http().shared.Abort();
}

HttpTransferScope::HttpTransferScope(InternetHandle& request)
    : request_(request), group_(Transfers()) {
    std::lock_guard<std::mutex> hold(group_.lock);
    group_.open[request_.get()] = false;
}

HttpTransferScope::~HttpTransferScope() {
    std::lock_guard<std::mutex> hold(group_.lock);
    auto found = group_.open.find(request_.get());
    if (found != group_.open.end()) {
        if (found->second)
            request_.release();  // closed by the group's stop
        group_.open.erase(found);
    }
}

namespace {

HttpResult Transfer(const wchar_t* url, char** body, size_t* size, const SYSTEMTIME* lastModified,
                    size_t budget) {
    // Defined on every path, so the caller's std::free is always valid.
    if (body)
        *body = nullptr;
    if (size)
        *size = 0;
    if (!body || !size)
        return HttpRefused;

    wchar_t headers[kHeaderCapacity] = {};
    if (lastModified) {
        wchar_t date[kDateCapacity] = {};
        FormatHttpDate(*lastModified, date, kDateCapacity);
        swprintf(headers, kHeaderCapacity, L"If-Modified-Since: %ls", date);
    }

    HttpRequest context;
    if (!HttpOpenRequest(context, url, L"GET"))
        return HttpRefused;
    HttpTransferScope transfer(context.request);
    if (transfer.aborted())
        return HttpNotModified;
    if (!WinHttpSendRequest(context.request.get(),
                            headers[0] ? headers : WINHTTP_NO_ADDITIONAL_HEADERS,
                            headers[0] ? static_cast<DWORD>(-1) : 0, WINHTTP_NO_REQUEST_DATA, 0,
                            0, 0))
        return HttpRefused;
    // Once stopped, the request's handle is closed and its value may be the
    // next worker's: it is used no more.
    if (!WinHttpReceiveResponse(context.request.get(), nullptr) || transfer.aborted())
        return HttpFailed;
    if (!HttpQueryStatus(context))
        return HttpFailed;
    if (context.status == HTTP_STATUS_NOT_MODIFIED)
        return HttpNotModified;
    if (context.status != HTTP_STATUS_OK)
        return HttpFailed;

    unsigned long long announced = 0;
    const bool hasLength = QueryContentLength(context.request.get(), announced);
    // A length past the budget is refused before anything is allocated.
    if (hasLength && announced > budget)
        return HttpRefused;
    const size_t limit = hasLength && announced > 0 ? static_cast<size_t>(announced)
                                                    : std::min(kUnannouncedLimit, budget);
    // One byte more for the terminator, so text bodies can be parsed in place.
    char* buffer = static_cast<char*>(std::malloc(limit + 1));
    if (!buffer)
        return HttpFailed;
    *body = buffer;

    size_t received = 0;
    DWORD available = 0;
    do {
        if (transfer.aborted() || !WinHttpQueryDataAvailable(context.request.get(), &available))
            return HttpFailed;
        if (available > limit - received)
            return HttpRefused;
        DWORD read = 0;
        if (available > 0 && (transfer.aborted() || !WinHttpReadData(context.request.get(),
                                                                     buffer + received,
                                                                     available, &read)))
            return HttpFailed;
        received += read;
        if (transfer.aborted())
            return HttpNotModified;
    } while (available > 0);

    // The connection ended before the announced length: a partial body
    // must never pass for the whole document.
    if (hasLength && received != announced)
        return HttpFailed;
    buffer[received] = '\0';
    *size = received;
    return HttpOk;
}

}  // namespace

HttpResult HttpGet(const wchar_t* url, char** body, size_t* size, const SYSTEMTIME* lastModified,
                   size_t limit) {
    HttpResult result = Transfer(url, body, size, lastModified, limit);
    // A download cut short by AbortTransfers fails on its closed request:
    // it ends as an aborted one, with nothing to show.
    if (result != HttpOk && StopRequested())
        return HttpNotModified;
    return result;
}

bool LocalCopyTime(const std::wstring& path, SYSTEMTIME& written) {
    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes) &&
           !(attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           FileTimeToSystemTime(&attributes.ftLastWriteTime, &written);
}

bool ReadWholeFile(const std::wstring& path, long long limit, std::string& data) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > limit)
        return false;
    data.resize(size_t(size.QuadPart));
    DWORD read = 0;
    return data.empty() ||
           (ReadFile(file.get(), &data[0], DWORD(data.size()), &read, nullptr) &&
            read == data.size());
}

bool ReplaceWholeFile(const std::wstring& path, const char* data, size_t size) {
    // The data goes to a file beside the target, which replaces the target
    // only once complete: a failed write or a crash leaves the old copy.
    std::wstring folder = path;
    size_t slash = folder.find_last_of(L"\\/");
    folder = slash == std::wstring::npos ? std::wstring(L".") : folder.substr(0, slash + 1);
    wchar_t temporaryName[MAX_PATH] = {};
    if (!GetTempFileNameW(folder.c_str(), L"orv", 0, temporaryName))
        return false;
    TemporaryFile temporary(temporaryName);
    if (!WriteWholeFile(temporary.path(), data, size) ||
        !MoveFileExW(temporary.path().c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return false;
    temporary.Keep();
    return true;
}

bool DownloadFile(const wchar_t* url, const wchar_t* path, size_t limit) {
    const std::wstring target = ModuleRelativePath(path);
    if (target.empty())
        return false;

    // The condition is when the local copy was written, not a date the
    // server once sent: the copy is newer than whatever it was made from.
    SYSTEMTIME written = {};
    const SYSTEMTIME* condition = LocalCopyTime(target, written) ? &written : nullptr;

    char* body = nullptr;
    size_t size = 0;
    const HttpResult result = HttpGet(url, &body, &size, condition, limit);
    const std::unique_ptr<char, decltype(&std::free)> owned(body, &std::free);
    Transfers().serverReachable = result == HttpOk || result == HttpNotModified;
    return result == HttpOk && ReplaceWholeFile(target, body, size);
}

bool TestNetwork() {
    const std::wstring url = StorageServerUrl(kTestNetworkPath);
    HttpRequest context;
    if (!HttpOpenRequest(context, url.c_str(), L"HEAD"))
        return false;
    // The stop closes the request rather than wait for the server; an
    // aborted test tells nothing of the network.
    HttpTransferScope transfer(context.request);
    if (transfer.aborted() ||
        !WinHttpSendRequest(context.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(context.request.get(), nullptr) || transfer.aborted() ||
        !HttpQueryStatus(context))
        return false;
    const bool reachable = context.status == HTTP_STATUS_OK;
    Transfers().serverReachable = reachable;
    return reachable;
}

void FormatHttpDate(const SYSTEMTIME& time, wchar_t* output, size_t capacity) {
    if (!output || capacity == 0)
        return;
    wchar_t text[kDateCapacity] = L"err";
    if (time.wDayOfWeek <= 6 && time.wMonth >= 1 && time.wMonth <= 12 && time.wDay <= 31 &&
        time.wHour <= 23 && time.wMinute <= 59 && time.wSecond <= 59 &&
        time.wMilliseconds <= 999)
        swprintf(text, kDateCapacity, L"%ls, %2.2i %ls %2.2i %2.2i:%2.2i:%2.2i GMT",
                 kDayNames[time.wDayOfWeek], time.wDay, kMonthNames[time.wMonth - 1], time.wYear,
                 time.wHour, time.wMinute, time.wSecond);
    // Cut to the caller's buffer rather than overrun it.
    size_t length = wcslen(text);
    if (length >= capacity)
        length = capacity - 1;
    wmemcpy(output, text, length);
    output[length] = L'\0';
}
