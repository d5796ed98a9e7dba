// Text conversion and fixed fields; see Text.h.
#include "base/Text.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>

namespace {

bool IsHighSurrogate(wchar_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

// How many units of a UTF-16 text fit in room units without splitting a pair.
size_t WholeUnits(const wchar_t* text, size_t length, size_t room) {
    if (length <= room)
        return length;
    if (room > 0 && IsHighSurrogate(text[room - 1]))
        return room - 1;
    return room;
}

// How many bytes of an 8-bit text fit in room bytes without splitting a
// character. UTF-8 continuation bytes are 10xxxxxx; in the ANSI code page
// the system tells lead bytes.
size_t WholeBytes(Encoding encoding, const char* text, size_t length, size_t room) {
    if (length <= room)
        return length;
    if (encoding == Encoding::Utf8) {
        size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;
        return cut;
    }
    size_t cut = 0;
    while (cut < room) {
        size_t step = IsDBCSLeadByte(static_cast<BYTE>(text[cut])) ? 2 : 1;
        if (cut + step > room)
            break;
        cut += step;
    }
    return cut;
}

size_t Length(const wchar_t* text, size_t length) {
    return length == std::wstring::npos ? std::wcslen(text) : length;
}

size_t Length(const char* text, size_t length) {
    return length == std::string::npos ? std::strlen(text) : length;
}

}  // namespace

void CopyText(wchar_t* field, size_t capacity, const wchar_t* text) {
    if (!field || capacity == 0)
        return;
    if (!text)
        text = L"";
    size_t length = std::wcslen(text);
    size_t kept = WholeUnits(text, length, capacity - 1);
    std::wmemmove(field, text, kept);
    field[kept] = L'\0';
}

void CopyText(char* field, size_t capacity, const char* text) {
    if (!field || capacity == 0)
        return;
    if (!text)
        text = "";
    size_t length = std::strlen(text);
    size_t kept = std::min(length, capacity - 1);
    std::memmove(field, text, kept);
    field[kept] = '\0';
}

void CopyUnits(wchar_t* field, size_t units, const wchar_t* text) {
    size_t length = 0;
    if (text)
        while (length < units && text[length])
            ++length;
    if (length > 0)
        std::wmemmove(field, text, length);
    std::fill(field + length, field + units, L'\0');
}

std::wstring ToWide(Encoding from, const char* text, size_t length) {
    if (!text)
        return std::wstring();
    length = Length(text, length);
    if (length == 0 || length > size_t(INT32_MAX))
        return std::wstring();
    UINT codePage = static_cast<UINT>(from);
    int needed = MultiByteToWideChar(codePage, 0, text, int(length), nullptr, 0);
    if (needed <= 0)
        return std::wstring();
    std::wstring wide(size_t(needed), L'\0');
    MultiByteToWideChar(codePage, 0, text, int(length), &wide[0], needed);
    return wide;
}

std::string ToNarrow(Encoding to, const wchar_t* text, size_t length) {
    if (!text)
        return std::string();
    length = Length(text, length);
    if (length == 0 || length > size_t(INT32_MAX))
        return std::string();
    UINT codePage = static_cast<UINT>(to);
    int needed = WideCharToMultiByte(codePage, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return std::string();
    std::string narrow(size_t(needed), '\0');
    WideCharToMultiByte(codePage, 0, text, int(length), &narrow[0], needed, nullptr, nullptr);
    return narrow;
}

void ToWide(Encoding from, const char* text, wchar_t* field, size_t capacity) {
    if (!field || capacity == 0)
        return;
    std::wstring wide = ToWide(from, text);
    size_t kept = WholeUnits(wide.c_str(), wide.size(), capacity - 1);
    std::wmemcpy(field, wide.c_str(), kept);
    field[kept] = L'\0';
}

void ToNarrow(Encoding to, const wchar_t* text, char* field, size_t capacity) {
    if (!field || capacity == 0)
        return;
    std::string narrow = ToNarrow(to, text);
    size_t kept = WholeBytes(to, narrow.c_str(), narrow.size(), capacity - 1);
    std::memcpy(field, narrow.c_str(), kept);
    field[kept] = '\0';
}
