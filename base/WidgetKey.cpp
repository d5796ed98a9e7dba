// The widget's registry key; see WidgetKey.h.
#include "base/WidgetKey.h"

#include <vector>

WidgetKey::WidgetKey() {
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kWidgetKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, key_.put(), nullptr) != ERROR_SUCCESS)
        key_.release();
}

uint32_t WidgetKey::ReadNumber(const wchar_t* name, uint32_t fallback) const {
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof(value);
    if (!key_ ||
        RegQueryValueExW(key_.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value))
        return fallback;
    return value;
}

void WidgetKey::WriteNumber(const wchar_t* name, uint32_t value) const {
    DWORD stored = value;
    if (key_)
        RegSetValueExW(key_.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&stored),
                       sizeof(stored));
}

bool WidgetKey::ReadString(const wchar_t* name, wchar_t* text, size_t capacity) const {
    if (!text || capacity == 0)
        return false;
    text[0] = L'\0';
    DWORD size = DWORD(capacity * sizeof(wchar_t));
    // RegGetValueW terminates what it returns and refuses what does not fit.
    if (!key_ || RegGetValueW(key_.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, text, &size) !=
                     ERROR_SUCCESS) {
        text[0] = L'\0';
        return false;
    }
    return text[0] != L'\0';
}

bool WidgetKey::ReadBinary(const wchar_t* name, void* data, size_t size) const {
    // One byte more than expected, so that a longer value is told apart.
    std::vector<BYTE> stored(size + 1);
    DWORD type = 0;
    DWORD read = DWORD(stored.size());
    if (!key_ ||
        RegQueryValueExW(key_.get(), name, nullptr, &type, stored.data(), &read) !=
            ERROR_SUCCESS ||
        type != REG_BINARY || read != size)
        return false;
    std::copy(stored.begin(), stored.begin() + size, static_cast<BYTE*>(data));
    return true;
}

void WidgetKey::WriteBinary(const wchar_t* name, const void* data, size_t size) const {
    if (key_)
        RegSetValueExW(key_.get(), name, 0, REG_BINARY, static_cast<const BYTE*>(data),
                       DWORD(size));
}

void WidgetKey::Erase() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kWidgetKeyPath);
}
