// Safe picture names and paths; see PictureFiles.h.
#include "content/PictureFiles.h"

#include "net/HttpClient.h"

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

bool DownloadFeedPictures(const JsonValue& entries, const wchar_t* folder) {
    bool all = true;
    for (size_t i = 0, n = JsonCount(entries); i < n; ++i) {
        if (StopRequested())
            return false;
        wchar_t url[kImageUnits];
        JsonText(JsonItem(entries, i), "image_url", url);
        const std::wstring name = IsPictureAddress(url) ? PictureFileName(url) : std::wstring();
        if (name.empty() || !DownloadFile(url, (folder + name).c_str()))
            all = false;
    }
    return all;
}
