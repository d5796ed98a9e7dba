// The panel's saved settings and identity in the registry, on a real panel.
// Every test starts and ends with HKCU\Software\Tambrel\Orvella removed, so
// no run sees another's values (the panel saves its own when it goes).
#include "WidgetFixture.h"
#include "radio/Radio.h"
#include "widget/WidgetSettings.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

namespace {

// A desktop with room for the panel both ways, so that every edge can be met.
constexpr int kRoomWidth = 1000, kRoomHeight = 700;
constexpr int kLastX = kRoomWidth - Widget::kWidth, kLastY = kRoomHeight - Widget::kHeight;
const std::string kGoodUid = "00112233445566778899aabbccddeeff";

std::string Dword(DWORD value) { return std::string(reinterpret_cast<char*>(&value), 4); }

void Store(const wchar_t* name, DWORD type, const std::string& bytes) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, kWidgetKeyPath, name, type,
                                             bytes.data(), DWORD(bytes.size())));
}
void Store(const wchar_t* name, int number) { Store(name, REG_DWORD, Dword(DWORD(number))); }
void StorePlace(int x, int y) {
    Store(L"WidgetPos.X", x);
    Store(L"WidgetPos.Y", y);
}
// A stored value's bytes if it has the type, "?" otherwise.
std::string Stored(const wchar_t* name, DWORD wantedType) {
    char data[80];
    DWORD size = sizeof(data), type = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, kWidgetKeyPath, name, RRF_RT_ANY, &type, data, &size) ||
        type != wantedType)
        return "?";
    return std::string(data, size);
}

bool IsIdentity(const std::string& uid) {
    return uid.size() == 32 && uid.find_first_not_of("0123456789abcdef") == std::string::npos;
}

class WidgetSettingsTest : public WidgetTreeTest {
protected:
    WidgetSettingsTest() { shown = false; }
    void BeforePanel() override {
        for (HWND window : {desktop.top, desktop.defView, desktop.listView})
            SetWindowPos(window, nullptr, 0, 0, kRoomWidth, kRoomHeight,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        root = std::make_unique<RootWindow>(kRoomWidth, kRoomHeight, canvas, desktop.listView);
    }

    void ExpectLoaded(int x, int y, int tab, float volume) {
        LoadWidgetSettings(*widget);
        EXPECT_EQ(x, widget->x);
        EXPECT_EQ(y, widget->y);
        EXPECT_EQ(tab, widget->currentTab);
        EXPECT_EQ(widget->tabButtons[tab].get(), widget->selectedTabButton);
        EXPECT_FLOAT_EQ(volume, widget->radio->volume);
    }
    // Where the panel goes for a place stored.
    std::pair<int, int> LoadPlace(int x, int y) {
        StorePlace(x, y);
        LoadWidgetSettings(*widget);
        return std::make_pair(widget->x, widget->y);
    }
    // The identity as the next start of the panel finds it.
    std::string UidOfNextRun() {
        widget->uid[0] = '\0';
        return GetWidgetUID(*widget);
    }
};

TEST_F(WidgetSettingsTest, LoadTakesNumbersInRangeDefaultsOrClampsTheRestAndSaveWritesThemBack) {
    widget->currentTab = 4;
    ExpectLoaded(kLastX - 72, 93, 0, 0.5f);
    Store(L"WidgetPos.X", REG_SZ, std::string("5\0\0", 4));
    Store(L"WidgetPos.Y", REG_BINARY, Dword(7));
    Store(L"CurrentTab", REG_DWORD, Dword(3).substr(0, 2));
    ExpectLoaded(kLastX - 72, 93, 0, 0.5f);

    // The tab opened and the volume taken for each stored number: those
    // outside their range fall back or are clamped.
    StorePlace(123, 45);
    const struct {
        int stored;
        int tab;
        float volume;
    } cases[] = {
        {INT_MIN, 0, 0.0f}, {-1, 0, 0.0f}, {0, 0, 0.0f},   {3, 3, 0.03f},  {5, 5, 0.05f},
        {6, 0, 0.06f},      {80, 0, 0.8f}, {100, 0, 1.0f}, {101, 0, 1.0f}, {INT_MAX, 0, 1.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        Store(L"CurrentTab", c.stored);
        Store(L"RadioVolume", c.stored);
        ExpectLoaded(123, 45, c.tab, c.volume);
    }

    // Saved and loaded again, the settings come back, the place kept on the desktop.
    widget->x = -20;
    widget->y = 150;
    widget->currentTab = 5;
    widget->radio->volume = 0.999f;
    SaveWidgetSettings(*widget);
    widget->y = widget->currentTab = 1;
    ExpectLoaded(0, 150, 5, 0.99f);
    // No percent may creep down from one start to the next.
    for (DWORD percent = 0; percent <= 100; ++percent) {
        Store(L"RadioVolume", int(percent));
        LoadWidgetSettings(*widget);
        SaveWidgetSettings(*widget);
        EXPECT_EQ(Dword(percent), Stored(L"RadioVolume", REG_DWORD)) << percent;
    }
}

TEST_F(WidgetSettingsTest, AStoredPositionOffTheDesktopIsBroughtBackInside) {
    // Each number is stored for one axis, with 10 for the other.
    const struct {
        int stored;
        int x;  // where it puts the panel as its x
        int y;  // and as its y
    } cases[] = {
        // Past the left and top edges by far and by a pixel, and on them.
        {INT_MIN, 0, 0}, {-1, 0, 0}, {0, 0, 0},
        // On the bottom edge and a pixel past it, then the same of the right.
        {kLastY, kLastY, kLastY}, {kLastY + 1, kLastY + 1, kLastY},
        {kLastX, kLastX, kLastY}, {kLastX + 1, kLastX, kLastY},
        {100000, kLastX, kLastY}, {INT_MAX, kLastX, kLastY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        EXPECT_EQ(LoadPlace(c.stored, 10), std::make_pair(c.x, 10));
        EXPECT_EQ(LoadPlace(10, c.stored), std::make_pair(10, c.y));
    }

    // On a desktop smaller than the panel both ways its top-left corner shows.
    root->Fit(Widget::kWidth - 1, Widget::kHeight - 1, 1);
    EXPECT_EQ(LoadPlace(100000, 100000), std::make_pair(0, 0));
}

TEST_F(WidgetSettingsTest, AtAScaleThePlaceIsStoredInTheListViewsPixelsAndComesBackAsItWas) {
    for (float scale : {1.25f, 1.5f, 2.0f}) {
        SCOPED_TRACE(scale);
        root->Fit(2 * kRoomWidth, 2 * kRoomHeight, scale);  // room for the panel at 2x
        // Every place read is written back as it was, whatever it rounds to.
        for (int stored = 0; stored < 200; stored += 7) {
            EXPECT_EQ(LoadPlace(stored, stored + 1).first, std::lround(stored / scale)) << stored;
            SaveWidgetSettings(*widget);
            EXPECT_EQ(Dword(DWORD(stored)), Stored(L"WidgetPos.X", REG_DWORD)) << stored;
            EXPECT_EQ(Dword(DWORD(stored + 1)), Stored(L"WidgetPos.Y", REG_DWORD)) << stored;
        }
        // Moved, it is stored where it is drawn; kept inside, where it was kept.
        widget->x += 11;
        SaveWidgetSettings(*widget);
        EXPECT_EQ(Dword(DWORD(std::lround(widget->x * scale))), Stored(L"WidgetPos.X", REG_DWORD));
        EXPECT_EQ(LoadPlace(100000, 0).first, root->width - Widget::kWidth);
        SaveWidgetSettings(*widget);
        EXPECT_EQ(Dword(DWORD(std::lround(widget->x * scale))), Stored(L"WidgetPos.X", REG_DWORD));
    }
    // With nothing stored, the first place keeps its margin from the right edge.
    RegDeleteTreeW(HKEY_CURRENT_USER, kWidgetKeyPath);
    LoadWidgetSettings(*widget);
    EXPECT_EQ(root->width - widget->x - Widget::kWidth, 72);
}

TEST_F(WidgetSettingsTest, IdentityIsMadeOnceReadBackLaterAndRemadeIfMissingOrMalformed) {
    std::string first = GetWidgetUID(*widget);
    EXPECT_TRUE(IsIdentity(first)) << first;
    EXPECT_EQ(first + '\0', Stored(L"WidgetUID", REG_BINARY));
    // Within a run the registry is not asked again.
    Store(L"WidgetUID", REG_BINARY, kGoodUid + '\0');
    EXPECT_EQ(first, GetWidgetUID(*widget));
    EXPECT_EQ(kGoodUid, UidOfNextRun());
    // Deleted, it is made anew.
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyValueW(HKEY_CURRENT_USER, kWidgetKeyPath, L"WidgetUID"));
    Sleep(20);  // identities are made from the time to the millisecond
    EXPECT_NE(first, UidOfNextRun());
    // So is one malformed.
    const std::pair<DWORD, std::string> stored[] = {
        {REG_SZ, kGoodUid + '\0'},
        {REG_BINARY, kGoodUid},        // cut short
        {REG_BINARY, kGoodUid + 'a'},  // not terminated
        {REG_BINARY, "00112233445566778899AABBCCDDEEFF" + std::string(1, '\0')},
    };
    for (const auto& [type, bytes] : stored) {
        SCOPED_TRACE(bytes);
        Store(L"WidgetUID", type, bytes);
        std::string uid = UidOfNextRun();
        EXPECT_TRUE(IsIdentity(uid) && uid != kGoodUid) << uid;
        EXPECT_EQ(uid + '\0', Stored(L"WidgetUID", REG_BINARY));
    }
}

TEST(IdentityTest, Md5MatchesRfc1321AcrossBlockEdgesAndTheSourceHasNoLeadingZeros) {
    // Of the RFC's suite: no text, one block, the padding spilling into a
    // second block, and two blocks of text.
    const char* const suite[][2] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [text, digest] : suite)
        EXPECT_EQ(digest, Md5Hex(text, std::strlen(text))) << '"' << text << '"';

    SYSTEMTIME utc{2026, 12, 6 /* Saturday */, 5, 5, 4, 7, 45};
    EXPECT_EQ("PC2026125 547 45", IdentitySource("PC", utc));
}

}  // namespace
