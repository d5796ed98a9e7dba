// See ModulePath.h.
#include "net/ModulePath.h"

#include "host/HostBridge.h"

#include <shlwapi.h>

std::wstring ModuleRelativePath(const wchar_t* path) {
    if (!path)
        return std::wstring();
    if (!PathIsRelativeW(path))
        return path;
    wchar_t buffer[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(Bridge().module, buffer, MAX_PATH);
    // Too long to resolve: an empty path opens nothing, where the relative
    // one would have been looked up in whatever folder is current.
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    PathRemoveFileSpecW(buffer);
    if (!PathAppendW(buffer, path))
        return std::wstring();
    return buffer;
}
