// Stands in for the widget's update program in tests: appends the command
// line it was started with to check_updates.log beside itself.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring log(path);
    log = log.substr(0, log.find_last_of(L"\\/") + 1) + L"check_updates.log";
    FILE* file = _wfopen(log.c_str(), L"a, ccs=UTF-8");
    if (!file)
        return 1;
    std::fwprintf(file, L"[%ls]\n", GetCommandLineW());
    std::fclose(file);
    return 0;
}
