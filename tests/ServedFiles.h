// Small file and environment helpers of the tests that run beside the test
// servers (tests/servers/with_servers.py).
#pragma once

#include "base/WidgetKey.h"

#include <windows.h>
#include <sys/utime.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

// A variable that with_servers.py sets (ORVELLA_WWW, ORVELLA_ACCESS_LOG, ...).
inline std::wstring Env(const wchar_t* name) {
    const wchar_t* value = _wgetenv(name);
    return value ? value : L"";
}

inline std::string ReadAll(const std::wstring& path) {
    std::ostringstream text;
    text << std::ifstream(path.c_str(), std::ios::binary).rdbuf();
    return text.str();
}

// The file's last-write time; 0 when there is no such file.
inline ULONGLONG WriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return ULONGLONG(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
}

// Sets one of the widget's string values (StorageServer, ContentServer,
// ...); an empty text deletes it.
inline void SetWidgetValue(const wchar_t* name, const std::wstring& text) {
    if (text.empty()) {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kWidgetKeyPath, name);
        return;
    }
    RegSetKeyValueW(HKEY_CURRENT_USER, kWidgetKeyPath, name, REG_SZ, text.c_str(),
                    DWORD((text.size() + 1) * sizeof(wchar_t)));
}

// Writes text into a file, dated when (seconds since 1970).
inline void WriteDated(const std::wstring& file, const std::string& text, time_t when) {
    std::ofstream(file.c_str(), std::ios::binary | std::ios::trunc) << text;
    _utimbuf times = {when, when};
    _wutime(file.c_str(), &times);
}

// Serves text at path (below the served folder), dated seconds from now.
inline void Serve(const std::wstring& path, const std::string& text, long seconds = -3600) {
    WriteDated(Env(L"ORVELLA_WWW") + path, text, time(nullptr) + seconds);
}

// nginx's access log once it has stopped growing. nginx writes a request's
// line only after its answer has gone out, so a client that has its answer
// may read the log before that line is there. The log is read again until
// two reads 50 ms apart agree, for at most two seconds.
inline std::string AccessLog() {
    std::string log = ReadAll(Env(L"ORVELLA_ACCESS_LOG"));
    for (int round = 0; round < 40; ++round) {
        Sleep(50);
        std::string again = ReadAll(Env(L"ORVELLA_ACCESS_LOG"));
        if (again == log)
            break;
        log = std::move(again);
    }
    return log;
}

// The size of nginx's access log: where the lines of what follows begin.
inline size_t AccessLogSize() {
    return AccessLog().size();
}

// The access log's lines from byte from on that hold part, in order.
inline std::vector<std::string> Logged(const std::string& part, size_t from = 0) {
    const std::string log = AccessLog();
    std::vector<std::string> lines;
    for (size_t start = from, end; (end = log.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const std::string line = log.substr(start, end - start);
        if (line.find(part) != std::string::npos)
            lines.push_back(line);
    }
    return lines;
}

// The names that match a pattern (a folder and a wildcard name).
inline std::set<std::wstring> Listing(const std::wstring& pattern) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern.c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do
            if (wcscmp(entry.cFileName, L".") && wcscmp(entry.cFileName, L".."))
                names.insert(entry.cFileName);
        while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    return names;
}
