// The widget's own registry key, HKCU\Software\Tambrel\Orvella: the one
// holder through which the saved settings, the identity and the server
// overrides are read and written.
//
// The key is opened (and created when missing) for the holder's lifetime;
// when it cannot be opened every read finds nothing and every write is lost,
// silently. Any thread; each user opens a holder of its own.
#pragma once

#include "base/Handles.h"

#include <cstddef>
#include <cstdint>

constexpr wchar_t kWidgetKeyPath[] = L"Software\\Tambrel\\Orvella";

class WidgetKey {
public:
    WidgetKey();

    bool IsOpen() const { return static_cast<bool>(key_); }

    // A REG_DWORD of exactly 4 bytes, or fallback (a shorter value would
    // leave part of the number unwritten).
    uint32_t ReadNumber(const wchar_t* name, uint32_t fallback) const;
    void WriteNumber(const wchar_t* name, uint32_t value) const;

    // A non-empty REG_SZ that fits capacity units with its terminator;
    // false, with text empty, for anything else.
    bool ReadString(const wchar_t* name, wchar_t* text, size_t capacity) const;

    // A REG_BINARY of exactly size bytes into data; false, with data
    // untouched, for anything else.
    bool ReadBinary(const wchar_t* name, void* data, size_t size) const;
    void WriteBinary(const wchar_t* name, const void* data, size_t size) const;

    // Removes the whole key with its values (tests start from nothing).
    static void Erase();

private:
    RegistryKey key_;
};
