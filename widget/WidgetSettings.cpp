// Widget settings and identity; see WidgetSettings.h.
#include "widget/WidgetSettings.h"

#include "base/WidgetKey.h"
#include "radio/Radio.h"
#include "widget/Widget.h"

#include <bcrypt.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

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

// A stored number as the signed value the panel uses.
int ReadNumber(const WidgetKey& key, const wchar_t* name, int fallback) {
    return static_cast<int>(key.ReadNumber(name, static_cast<uint32_t>(fallback)));
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
bool ReadIdentity(const WidgetKey& key, char (&uid)[kIdentityBytes]) {
    char stored[kIdentityBytes] = {};
    if (!key.ReadBinary(kIdentityValue, stored, sizeof(stored)) ||
        !IsIdentity(stored, sizeof(stored)))
        return false;
    std::memcpy(uid, stored, kIdentityBytes);
    return true;
}

void WriteIdentity(const WidgetKey& key, const char (&uid)[kIdentityBytes]) {
    key.WriteBinary(kIdentityValue, uid, kIdentityBytes);
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

int SavedTab() {
    WidgetKey key;
    int tab = ReadNumber(key, kCurrentTabValue, 0);
    return tab >= 0 && tab < Widget::kTabs ? tab : 0;
}

void LoadWidgetSettings(Widget& widget) {
    // The parent is the root, which covers the desktop list view's client area.
    int roomWidth = widget.parent->width;
    int roomHeight = widget.parent->height;
    // Saved in the list view's pixels, whatever the screen's scale.
    const double scale = widget.root->scale();
    auto listViewPixels = [scale](int design) { return int(std::lround(design * scale)); };
    int x, y, tab, percent;
    {
        WidgetKey key;
        x = ReadNumber(key, kPositionXValue,
                       listViewPixels(roomWidth - Widget::kWidth - kRightMargin));
        y = ReadNumber(key, kPositionYValue, listViewPixels(kDefaultY));
        tab = ReadNumber(key, kCurrentTabValue, 0);
        percent = ReadNumber(key, kRadioVolumeValue, kDefaultVolumePercent);
    }
    // A position saved on a larger desktop, or on a screen since removed, or
    // a damaged value would leave the panel where it cannot be seen or
    // dragged back: it comes back wholly inside the desktop.
    const POINT stored{x, y};
    x = int(std::lround(x / scale));
    y = int(std::lround(y / scale));
    widget.x = KeepInside(x, Widget::kWidth, roomWidth);
    widget.y = KeepInside(y, Widget::kHeight, roomHeight);
    // Only a place that was taken as it is may be written back as it was.
    widget.storedPlace = stored;
    widget.storedAt = POINT{widget.x == x ? x : INT_MIN, widget.y == y ? y : INT_MIN};
    widget.storedScale = float(scale);
    // The tab indexes the tab buttons and backgrounds, so a number we never
    // write (a hand-edited or damaged value) opens the first tab instead.
    widget.currentTab = tab >= 0 && tab < Widget::kTabs ? tab : 0;
    widget.selectedTabButton = widget.tabButtons[widget.currentTab].get();
    widget.radio->SetVolume(std::clamp(percent / 100.0f, 0.0f, 1.0f));
}

void SaveWidgetSettings(const Widget& widget) {
    WidgetKey key;
    // A panel dragged partly off the desktop's top or left edge comes back
    // at that edge next time.
    const double scale = widget.root->scale();
    auto stored = [&](int design, LONG storedAt, LONG storedPlace) {
        if (design == storedAt && widget.storedScale == widget.root->scale())
            return static_cast<uint32_t>(std::max(storedPlace, LONG(0)));
        return static_cast<uint32_t>(std::lround(std::max(design, 0) * scale));
    };
    key.WriteNumber(kPositionXValue, stored(widget.x, widget.storedAt.x, widget.storedPlace.x));
    key.WriteNumber(kPositionYValue, stored(widget.y, widget.storedAt.y, widget.storedPlace.y));
    key.WriteNumber(kCurrentTabValue, static_cast<uint32_t>(widget.currentTab));
    key.WriteNumber(kRadioVolumeValue, VolumePercent(widget.radio->volume));
}

const char* GetWidgetUID(Widget& widget) {
    // Read at most once a run: afterwards the cached copy answers.
    if (widget.uid[0])
        return widget.uid;
    WidgetKey key;
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
