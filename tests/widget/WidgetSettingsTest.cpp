// The panel's saved settings and identity in the registry, on a real panel.
// Every test starts and ends with HKCU\Software\Tambrel\Orvella removed, so
// no run sees another's values (the panel saves its own when it goes).
#include "TestTree.h"
#include "widget/Widget.h"
#include "widget/WidgetSettings.h"

#include <cstring>
#include <string>
#include <utility>

namespace {

constexpr wchar_t kKey[] = L"Software\\Tambrel\\Orvella";
const std::string kGoodUid = "00112233445566778899aabbccddeeff";

void Store(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, kKey, name, type, data, size));
}
void StoreNumber(const wchar_t* name, DWORD value) { Store(name, REG_DWORD, &value, 4); }

// A stored value's bytes, empty when it is missing.
std::string Stored(const wchar_t* name, DWORD* type) {
    char data[80];
    DWORD size = sizeof(data);
    if (RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_ANY, type, data, &size))
        return {};
    return std::string(data, size);
}
// A stored REG_DWORD; 0xDEAD for anything else.
DWORD StoredNumber(const wchar_t* name) {
    DWORD type = 0;
    std::string bytes = Stored(name, &type);
    return type == REG_DWORD && bytes.size() == 4 ? *reinterpret_cast<const DWORD*>(bytes.data())
                                                  : 0xDEAD;
}

bool IsIdentity(const std::string& uid) {
    return uid.size() == 32 && uid.find_first_not_of("0123456789abcdef") == std::string::npos;
}

class WidgetSettingsTest : public TreeTest {
protected:
    void SetUp() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
        TreeTest::SetUp();
        widget = std::make_unique<Widget>(root.get());
    }
    void TearDown() override {
        TreeTest::TearDown();
        RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    }
    void Forget() override { widget.reset(); }

    void Expect(int x, int y, int tab, float volume) {
        EXPECT_EQ(x, widget->x);
        EXPECT_EQ(y, widget->y);
        EXPECT_EQ(tab, widget->currentTab);
        EXPECT_EQ(widget->tabButtons[tab].get(), widget->selectedTabButton);
        EXPECT_FLOAT_EQ(volume, widget->radioVolume);
    }
    // The identity as the next start of the panel finds it.
    std::string UidOfNextRun() {
        widget->uid[0] = '\0';
        return GetWidgetUID(*widget);
    }
    // The stored identity, with the terminator, if it is a REG_BINARY.
    std::string StoredUid() {
        DWORD type = 0;
        std::string bytes = Stored(L"WidgetUID", &type);
        return type == REG_BINARY ? bytes : "not binary";
    }

    std::unique_ptr<Widget> widget;
};

TEST_F(WidgetSettingsTest, MissingOrMistypedValuesLoadTheDefaults) {
    widget->currentTab = 4;
    LoadWidgetSettings(*widget);
    Expect(400 - 318 - 72, 93, 0, 0.5f);  // the test desktop is 400 wide

    Store(L"WidgetPos.X", REG_SZ, L"5", 4);
    Store(L"WidgetPos.Y", REG_BINARY, "\x07\0\0\0", 4);
    Store(L"CurrentTab", REG_DWORD, "\x03\0", 2);  // cut short
    LoadWidgetSettings(*widget);
    Expect(400 - 318 - 72, 93, 0, 0.5f);
}

TEST_F(WidgetSettingsTest, StoredValuesLoadAndOutOfRangeOnesAreBroughtIn) {
    StoreNumber(L"WidgetPos.X", 123);
    StoreNumber(L"WidgetPos.Y", 45);
    StoreNumber(L"CurrentTab", 3);
    StoreNumber(L"RadioVolume", 80);
    LoadWidgetSettings(*widget);
    Expect(123, 45, 3, 0.8f);

    StoreNumber(L"CurrentTab", 9);
    StoreNumber(L"RadioVolume", 250);
    LoadWidgetSettings(*widget);
    Expect(123, 45, 0, 1.0f);
    StoreNumber(L"CurrentTab", DWORD(-1));
    StoreNumber(L"RadioVolume", DWORD(-1));
    LoadWidgetSettings(*widget);
    Expect(123, 45, 0, 0.0f);
}

TEST_F(WidgetSettingsTest, SaveKeepsThePositionOnTheDesktopAndTruncatesTheVolume) {
    widget->x = -20;
    widget->y = -1;
    widget->currentTab = 4;
    widget->radioVolume = 0.999f;
    SaveWidgetSettings(*widget);
    EXPECT_EQ(0u, StoredNumber(L"WidgetPos.X"));
    EXPECT_EQ(0u, StoredNumber(L"WidgetPos.Y"));
    EXPECT_EQ(4u, StoredNumber(L"CurrentTab"));
    EXPECT_EQ(99u, StoredNumber(L"RadioVolume"));
}

TEST_F(WidgetSettingsTest, SavedStateLoadsBackWithEveryWholePercent) {
    widget->x = 200;
    widget->y = 150;
    widget->currentTab = 5;
    widget->radioVolume = 0.35f;
    SaveWidgetSettings(*widget);
    widget->x = widget->y = widget->currentTab = 1;
    LoadWidgetSettings(*widget);
    Expect(200, 150, 5, 0.35f);
    // No percent may creep down from one start to the next.
    for (DWORD percent = 0; percent <= 100; ++percent) {
        StoreNumber(L"RadioVolume", percent);
        LoadWidgetSettings(*widget);
        SaveWidgetSettings(*widget);
        EXPECT_EQ(percent, StoredNumber(L"RadioVolume"));
    }
}

TEST_F(WidgetSettingsTest, IdentityIsMadeOnceAndReadBackAtLaterStarts) {
    std::string first = GetWidgetUID(*widget);
    EXPECT_TRUE(IsIdentity(first)) << first;
    EXPECT_EQ(first + '\0', StoredUid());
    // Within a run the registry is not asked again.
    Store(L"WidgetUID", REG_BINARY, kGoodUid.c_str(), 33);
    EXPECT_EQ(first, GetWidgetUID(*widget));
    EXPECT_EQ(kGoodUid, UidOfNextRun());
    EXPECT_EQ(kGoodUid, UidOfNextRun());

    // Deleted, it is made anew.
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"WidgetUID"));
    Sleep(20);  // identities are made from the time to the millisecond
    std::string second = UidOfNextRun();
    EXPECT_TRUE(IsIdentity(second)) << second;
    EXPECT_NE(first, second);
    EXPECT_EQ(second + '\0', StoredUid());
}

TEST_F(WidgetSettingsTest, MalformedStoredIdentityIsReplaced) {
    const std::pair<DWORD, std::string> stored[] = {
        {REG_SZ, kGoodUid + '\0'},
        {REG_BINARY, kGoodUid},                                      // cut short
        {REG_BINARY, kGoodUid + 'a'},                                // not terminated
        {REG_BINARY, "00112233445566778899AABBCCDDEEFF" + std::string(1, '\0')},
        {REG_BINARY, "0011223344556677 8899aabbccddeef" + std::string(1, '\0')},
        {REG_BINARY, kGoodUid + kGoodUid + '\0'},
    };
    for (const auto& [type, bytes] : stored) {
        SCOPED_TRACE(bytes);
        Store(L"WidgetUID", type, bytes.data(), DWORD(bytes.size()));
        std::string uid = UidOfNextRun();
        EXPECT_TRUE(IsIdentity(uid)) << uid;
        EXPECT_NE(kGoodUid, uid);
        EXPECT_EQ(uid + '\0', StoredUid());
    }
}

TEST(IdentityTest, Md5MatchesTheRfc1321TestSuite) {
    const char* const suite[][2] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
         "0",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [text, digest] : suite)
        EXPECT_EQ(digest, Md5Hex(text, std::strlen(text))) << '"' << text << '"';
}

TEST(IdentityTest, SourceIsTheComputerAndTheTimeWithoutLeadingZeros) {
    SYSTEMTIME utc{2026, 12, 6 /* Saturday */, 5, 5, 4, 7, 45};
    EXPECT_EQ("PC2026125 547 45", IdentitySource("PC", utc));
}

}  // namespace
