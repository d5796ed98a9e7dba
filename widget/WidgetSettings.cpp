// Widget settings and identity; see WidgetSettings.h.
#include "widget/WidgetSettings.h"

#include "net/HttpClient.h"

#include "widget/Widget.h"

#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr wchar_t kKeyPath[] = L"Software\\Tambrel\\Orvella";
constexpr wchar_t kPositionXValue[] = L"WidgetPos.X";
constexpr wchar_t kPositionYValue[] = L"WidgetPos.Y";
constexpr wchar_t kCurrentTabValue[] = L"CurrentTab";
constexpr wchar_t kRadioVolumeValue[] = L"RadioVolume";
constexpr wchar_t kIdentityValue[] = L"WidgetUID";

constexpr int kRightMargin = 72;  // between the panel and the desktop's right edge
constexpr int kDefaultY = 93;
constexpr int kDefaultVolumePercent = 50;
constexpr DWORD kIdentityBytes = sizeof(Widget::uid);  // 32 digits and the terminator
constexpr size_t kIdentityDigits = kIdentityBytes - 1;

// The settings key, created when missing and open for the holder's lifetime;
// get() is null when it could not be opened, and every use below then reads
// nothing and writes nothing.
class SettingsKey {
public:
    SettingsKey() {
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key_, nullptr) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~SettingsKey() {
        if (key_)
            RegCloseKey(key_);
    }
    SettingsKey(const SettingsKey&) = delete;
    SettingsKey& operator=(const SettingsKey&) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// A stored number, as the signed value the panel uses; fallback unless the
// value exists, is a REG_DWORD and has exactly 4 bytes (a shorter one would
// leave part of the buffer unwritten).
int ReadNumber(const SettingsKey& key, const wchar_t* name, int fallback) {
    if (!key.get())
        return fallback;
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value))
        return fallback;
    return static_cast<int>(value);
}

void WriteNumber(const SettingsKey& key, const wchar_t* name, DWORD value) {
    if (key.get())
        RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof(value));
}

// The volume in whole percent, truncated (0.999 is 99). A volume loaded from
// a stored p is the float nearest p / 100, which may lie just below it (0.53f
// is 0.52999997); the small allowance keeps it at p, where plain truncation
// would lose a percent at every start for some values.
DWORD VolumePercent(float volume) {
    double percent = double(volume) * 100.0 + 1e-4;
    if (!(percent > 0.0))  // also a volume that is not a number
        return 0;
    return percent >= 100.0 ? 100 : static_cast<DWORD>(percent);
}

// Whether a stored identity is one this code would have made: 33 bytes, 32
// lowercase hexadecimal digits and the terminator.
bool IsIdentity(const char* text, DWORD size) {
    if (size != kIdentityBytes || text[kIdentityDigits] != '\0')
        return false;
    for (size_t i = 0; i < kIdentityDigits; ++i) {
        char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

// Copies the stored identity into uid when there is a well-formed one; uid
// is left alone otherwise. Anything else under the name (another type, a
// value cut short, longer, unterminated or of other characters) is not
// trusted: the usage reports would carry it into JSON text as it is, so the
// caller replaces it with a new identity.
bool ReadIdentity(const SettingsKey& key, char (&uid)[kIdentityBytes]) {
    if (!key.get())
        return false;
    char stored[kIdentityBytes] = {};
    DWORD type = 0;
    DWORD size = sizeof(stored);
    if (RegQueryValueExW(key.get(), kIdentityValue, nullptr, &type,
                         reinterpret_cast<BYTE*>(stored), &size) != ERROR_SUCCESS ||
        type != REG_BINARY || !IsIdentity(stored, size))
        return false;
    std::memcpy(uid, stored, kIdentityBytes);
    return true;
}

void WriteIdentity(const SettingsKey& key, const char (&uid)[kIdentityBytes]) {
    if (key.get())
        RegSetValueExW(key.get(), kIdentityValue, 0, REG_BINARY,
                       reinterpret_cast<const BYTE*>(uid), kIdentityBytes);
}

// A new identity in uid: the digest of the computer's name and the current
// UTC time to the millisecond. False, with uid untouched, when no digest
// could be made.
bool MakeIdentity(char (&uid)[kIdentityBytes]) {
    char name[100] = {};
    DWORD length = sizeof(name);
    if (!GetComputerNameA(name, &length))
        name[0] = '\0';
    SYSTEMTIME utc{};
    GetSystemTime(&utc);
    std::string source = IdentitySource(name, utc);
    std::string digest = Md5Hex(source.data(), source.size());
    if (digest.size() != kIdentityDigits)
        return false;
    std::memcpy(uid, digest.c_str(), kIdentityBytes);  // with the terminator
    return true;
}

// Owners of the CNG handles.
struct AlgorithmCloser {
    void operator()(void* algorithm) const { BCryptCloseAlgorithmProvider(algorithm, 0); }
};
struct HashDestroyer {
    void operator()(void* hash) const { BCryptDestroyHash(hash); }
};
using AlgorithmHandle = std::unique_ptr<void, AlgorithmCloser>;
using HashHandle = std::unique_ptr<void, HashDestroyer>;

}  // namespace

void LoadWidgetSettings(Widget& widget) {
    RECT client{};
    GetClientRect(widget.surfaceWindow, &client);
    int x, y, tab, percent;
    {
        SettingsKey key;
        x = ReadNumber(key, kPositionXValue, client.right - client.left - Widget::kWidth - kRightMargin);
        y = ReadNumber(key, kPositionYValue, kDefaultY);
        tab = ReadNumber(key, kCurrentTabValue, 0);
        percent = ReadNumber(key, kRadioVolumeValue, kDefaultVolumePercent);
    }
    // The position is taken as stored: the panel may have been saved partly
    // off a larger desktop, and the user can drag it back.
    widget.x = x;
    widget.y = y;
    // The tab indexes the tab buttons and backgrounds, so a number we never
    // write (a hand-edited or damaged value) opens the first tab instead.
    widget.currentTab = tab >= 0 && tab < Widget::kTabs ? tab : 0;
    widget.selectedTabButton = widget.tabButtons[widget.currentTab].get();
    // The radio is not part of the panel yet: the volume waits here, and the
    // radio takes it as its starting volume when it joins.
    widget.radioVolume = std::clamp(percent / 100.0f, 0.0f, 1.0f);
    HttpInit();
}

void SaveWidgetSettings(const Widget& widget) {
    // The panel is going away: the HTTP client is used no more.
    HttpRelease();
    SettingsKey key;
    // A panel dragged partly off the desktop's top or left edge comes back
    // at that edge next time.
    WriteNumber(key, kPositionXValue, static_cast<DWORD>(std::max(widget.x, 0)));
    WriteNumber(key, kPositionYValue, static_cast<DWORD>(std::max(widget.y, 0)));
    WriteNumber(key, kCurrentTabValue, static_cast<DWORD>(widget.currentTab));
    WriteNumber(key, kRadioVolumeValue, VolumePercent(widget.radioVolume));
}

const char* GetWidgetUID(Widget& widget) {
    // Read at most once a run: afterwards the cached copy answers.
    if (widget.uid[0])
        return widget.uid;
    SettingsKey key;
    if (!ReadIdentity(key, widget.uid) && MakeIdentity(widget.uid))
        WriteIdentity(key, widget.uid);
    return widget.uid;
}

std::string Md5Hex(const void* data, size_t size) {
    BCRYPT_ALG_HANDLE openedAlgorithm = nullptr;
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&openedAlgorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0)))
        return {};
    AlgorithmHandle algorithm(openedAlgorithm);
    // No object buffer: the provider keeps the hash state itself. The hash
    // is held after the provider, so it is destroyed before the provider
    // it was made from is closed.
    BCRYPT_HASH_HANDLE createdHash = nullptr;
    if (!BCRYPT_SUCCESS(
            BCryptCreateHash(algorithm.get(), &createdHash, nullptr, 0, nullptr, 0, 0)))
        return {};
    HashHandle hash(createdHash);

    // BCryptHashData counts in ULONG and takes a non-const pointer, though it
    // only reads the input.
    auto bytes = static_cast<UCHAR*>(const_cast<void*>(data));
    while (size > 0) {
        ULONG chunk = static_cast<ULONG>(std::min<size_t>(size, 1u << 30));
        if (!BCRYPT_SUCCESS(BCryptHashData(hash.get(), bytes, chunk, 0)))
            return {};
        bytes += chunk;
        size -= chunk;
    }
    UCHAR digest[16];
    if (!BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), digest, sizeof(digest), 0)))
        return {};

    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * sizeof(digest));
    for (UCHAR byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xF];
    }
    return hex;
}

std::string IdentitySource(const char* computerName, const SYSTEMTIME& utc) {
    char time[64];
    std::snprintf(time, sizeof(time), "%i%i%i %i%i%i %i", utc.wYear, utc.wMonth, utc.wDay,
                  utc.wHour, utc.wMinute, utc.wSecond, utc.wMilliseconds);
    return std::string(computerName ? computerName : "") + time;
}
