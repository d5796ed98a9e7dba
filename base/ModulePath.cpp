// See ModulePath.h.
#include "base/ModulePath.h"

#include <shlwapi.h>

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

std::wstring ModuleRelativePath(const wchar_t* path) {
    if (!path)
        return std::wstring();
    if (!PathIsRelativeW(path))
        return path;
    wchar_t buffer[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(ThisModule(), buffer, MAX_PATH);
    // Too long to resolve: an empty path opens nothing, where the relative
    // one would have been looked up in whatever folder is current.
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    PathRemoveFileSpecW(buffer);
    if (!PathAppendW(buffer, path))
        return std::wstring();
    return buffer;
}
