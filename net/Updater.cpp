// The updater; see Updater.h. Runs on the worker thread.
#include "net/Updater.h"

#include "base/Budgets.h"
#include "base/Desktop.h"
#include "base/Handles.h"
#include "base/ModulePath.h"
#include "net/HttpClient.h"

#include <cwchar>

namespace {

constexpr wchar_t kUpdatePath[] = L"/orvella/update.exe";

// A custom header of the response into a buffer of 100 bytes; false when absent.
bool ReadHeader(HttpRequest& context, const wchar_t* name, wchar_t (&value)[50]) {
    DWORD size = sizeof(value);
    value[0] = L'\0';
    if (!WinHttpQueryHeaders(context.request.get(), WINHTTP_QUERY_CUSTOM, name, value, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return false;
    value[49] = L'\0';
    return true;
}

// Asks the storage server for the published build: true when it is newer
// than ours, with critical telling whether it is marked critical. The
// request's handles are closed when this returns, before any download.
bool NewerBuildPublished(const Updater& updater, bool& critical) {
    HttpRequest context;
    if (!HttpOpenRequest(context, updater.url.c_str(), L"HEAD"))
        return false;
    // The stop closes the request rather than wait for the server.
    HttpTransferScope transfer(context.request);
    bool answered = !transfer.aborted() &&
                    WinHttpSendRequest(context.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                       WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
                    WinHttpReceiveResponse(context.request.get(), nullptr) &&
                    !transfer.aborted() && HttpQueryStatus(context) && context.status == 200;
    wchar_t version[50], criticalText[50];
    int published = 0;
    bool newer = answered && ReadHeader(context, L"x-amz-meta-version", version) &&
                 std::swscanf(version, L"%i", &published) == 1 &&
                 published > int(updater.currentVersion);
    critical = newer && ReadHeader(context, L"x-amz-meta-is-critical-update", criticalText) &&
               std::wcscmp(criticalText, L"true") == 0;
    return newer;
}

}  // namespace

void UpdaterInit(Updater& updater) {
    updater = Updater{};
    updater.localPath = ModuleRelativePath(L"orvella_update.tmp");
    updater.url = StorageServerUrl(kUpdatePath);
}

void UpdaterTick(Updater& updater, uint32_t step) {
    updater.elapsed += step;
    if (updater.elapsed > updater.period) {
        updater.elapsed = 0;
        CheckForUpdate(updater);
    }
}

void CheckForUpdate(Updater& updater) {
    bool isCritical = false;
    if (!NewerBuildPublished(updater, isCritical))
        return;
    // Conditional on the local copy's time: a build fetched before answers
    // 304 and starts nothing again.
    if (DownloadFile(updater.url.c_str(), updater.localPath.c_str(), kUpdateBytes) && isCritical &&
        !ClosingRequested() && !StopRequested())
        RunUpdateProgram(ModuleRelativePath(L"check_updates.exe").c_str());
}

bool RunUpdateProgram(const wchar_t* path) {
    wchar_t commandLine[16];
    std::swprintf(commandLine, 16, L"stub %ls", L"");
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(path, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process))
        return false;
    // Not waited for: the handles are only let go (the thread's first).
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    return true;
}
