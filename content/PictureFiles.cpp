// Safe picture names and paths; see PictureFiles.h.
#include "content/PictureFiles.h"

#include "base/Budgets.h"
#include "base/ModulePath.h"
#include "net/HttpClient.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>

namespace {

constexpr size_t kImageUnits = 300;

bool IsPictureAddress(const wchar_t* text) {
    return std::wcsncmp(text, L"http://", 7) == 0;
}

bool IsDeviceName(const std::wstring& name) {
    // The part before the first dot is what the system matches, whatever
    // follows, case aside.
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ')
        stem.pop_back();
    for (wchar_t& c : stem)
        c = wchar_t(std::towupper(c));
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (stem == device)
            return true;
    return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
           stem[3] >= L'1' && stem[3] <= L'9';
}

bool HasUnsafeCharacter(const std::wstring& text, const wchar_t* refused) {
    for (wchar_t c : text)
        if (c < 0x20 || c == 0x7F || std::wcschr(refused, c))
            return true;
    return false;
}

}  // namespace

std::wstring PictureFileName(const std::wstring& url) {
    size_t slash = url.rfind(L'/');
    if (slash == std::wstring::npos)
        return std::wstring();
    std::wstring name = url.substr(slash + 1);
    if (name.empty() || name == L"." || name == L".." || name.back() == L'.' ||
        name.back() == L' ' || HasUnsafeCharacter(name, L"\\:*?\"<>|") || IsDeviceName(name))
        return std::wstring();
    return name;
}

bool IsShippedPicturePath(const std::wstring& path) {
    if (path.empty() || path[0] == L'\\' || path[0] == L'/' || HasUnsafeCharacter(path, L":*?\"<>|"))
        return false;
    // No part of it may climb out of the library's folder.
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of(L"\\/", start);
        std::wstring part = path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (part == L".." || IsDeviceName(part))
            return false;
        if (end == std::wstring::npos)
            break;
        start = end + 1;
    }
    return true;
}

std::wstring FeedPicturePath(const JsonValue& entry, const wchar_t* folder) {
    wchar_t value[kImageUnits];
    JsonText(entry, "image_url", value);
    if (!IsPictureAddress(value))
        return IsShippedPicturePath(value) ? value : std::wstring();
    const std::wstring name = PictureFileName(value);
    return name.empty() ? name : folder + name;
}

std::wstring FoldedName(const std::wstring& name) {
    std::wstring folded = name;
    if (!folded.empty())
        CharUpperBuffW(&folded[0], DWORD(folded.size()));
    return folded;
}

bool PictureFolder::Fits(const std::wstring& path) {
    const std::wstring key = FoldedName(path);
    if (admitted_.count(key))
        return true;
    if (admitted_.size() >= kFeedPictures)
        return false;
    // A missing file takes no room (it is not shown either).
    WIN32_FILE_ATTRIBUTE_DATA file{};
    uint64_t size = 0;
    if (GetFileAttributesExW(ModuleRelativePath(path.c_str()).c_str(), GetFileExInfoStandard,
                             &file))
        size = (uint64_t(file.nFileSizeHigh) << 32) | file.nFileSizeLow;
    if (size > kPictureFolderBytes - bytes_)
        return false;
    bytes_ += size;
    admitted_.insert(key);
    return true;
}

void PictureFolder::StartBuild() {
    admitted_.clear();
    bytes_ = 0;
}

std::wstring PictureFolder::Admit(const JsonValue& entry) {
    const std::wstring path = FeedPicturePath(entry, folder_);
    if (path.empty() || !Fits(path))
        return std::wstring();
    const size_t prefix = std::wcslen(folder_);
    if (path.compare(0, prefix, folder_) == 0)
        kept_.insert(FoldedName(path.substr(prefix)));
    return path;
}

bool PictureFolder::Download(const JsonValue& entries) {
    // The walk of a build, with each picture fetched before it is weighed:
    // what is admitted here is what the build then shows.
    StartBuild();
    bool all = true;
    for (size_t i = 0, n = JsonCount(entries); i < n; ++i) {
        if (StopRequested())
            return false;
        wchar_t url[kImageUnits];
        JsonText(JsonItem(entries, i), "image_url", url);
        const std::wstring name = IsPictureAddress(url) ? PictureFileName(url) : std::wstring();
        if (name.empty()) {
            all = false;
            continue;
        }
        const std::wstring path = folder_ + name;
        const bool seen = admitted_.count(FoldedName(path)) != 0;
        if (!seen && (admitted_.size() >= kFeedPictures || bytes_ >= kPictureFolderBytes))
            continue;  // past the budget: left out, not failed
        if (!seen && !DownloadFile(url, path.c_str(), kPictureFileBytes))
            all = false;
        Fits(path);
    }
    StartBuild();
    return all;
}

void PictureFolder::DeleteUnused() const {
    std::wstring folder = ModuleRelativePath(folder_);
    while (!folder.empty() && (folder.back() == L'/' || folder.back() == L'\\'))
        folder.pop_back();
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !kept_.count(FoldedName(entry.cFileName)))
            DeleteFileW((folder + L"\\" + entry.cFileName).c_str());
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

namespace {

// "orv", one to four hex digits, ".tmp", letter case aside.
bool IsLeftTemporary(const wchar_t* name) {
    if (_wcsnicmp(name, L"orv", 3) != 0)
        return false;
    size_t digits = 0;
    while (std::iswxdigit(name[3 + digits]))
        ++digits;
    return digits >= 1 && digits <= 4 && _wcsicmp(name + 3 + digits, L".tmp") == 0;
}

}  // namespace

void RemoveLeftTemporaries() {
    for (const wchar_t* folder : {L"", L"feeds\\", L"maps\\", L"exclusive\\"}) {
        const std::wstring pattern = ModuleRelativePath((folder + std::wstring(L"orv*.tmp")).c_str());
        WIN32_FIND_DATAW entry;
        HANDLE search = pattern.empty() ? INVALID_HANDLE_VALUE
                                        : FindFirstFileW(pattern.c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do {
            // One still being written is open without sharing its deletion.
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                IsLeftTemporary(entry.cFileName))
                DeleteFileW(ModuleRelativePath((folder + std::wstring(entry.cFileName)).c_str()).c_str());
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
}
