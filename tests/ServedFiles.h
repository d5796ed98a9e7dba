// Small file and environment helpers of the tests that run beside the test
// servers (tests/servers/with_servers.py).
#pragma once

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

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
