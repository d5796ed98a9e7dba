// The updater against nginx's update object: which published builds are
// fetched, which start the update program, and how it is started.
#include "TestDesktop.h"
#include "base/Desktop.h"
#include "base/WidgetKey.h"
#include "host/DesktopSurface.h"
#include "net/HttpClient.h"
#include "net/Updater.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Puts the host's closing flag back as it was, so that no later test finds
// the host closing.
class ClosingFlagRestorer {
public:
    ClosingFlagRestorer() : saved_(ClosingRequested()) {}
    ~ClosingFlagRestorer() { SetClosingRequested(saved_); }
    ClosingFlagRestorer(const ClosingFlagRestorer&) = delete;
    ClosingFlagRestorer& operator=(const ClosingFlagRestorer&) = delete;

private:
    bool saved_;
};

class UpdaterTest : public testing::Test {
protected:
    void SetUp() override {
        WidgetKey::Erase();
        HttpInit();
        DeleteFileW(Beside(L"orvella_update.tmp").c_str());
        DeleteFileW(Beside(L"check_updates.log").c_str());
    }
    void TearDown() override {
        HttpRelease();
        WidgetKey::Erase();
        DeleteFileW(Beside(L"orvella_update.tmp").c_str());
        DeleteFileW(Beside(L"check_updates.log").c_str());
    }

    static std::wstring Beside(const wchar_t* name) { return ProgramFolder() + name; }

    // Points the storage at the nginx folder that publishes this version
    // and criticality, and makes an updater for it.
    Updater Published(const wchar_t* version, const wchar_t* critical) {
        std::wstring host = std::wstring(L"127.0.0.1/update-") + version + L"-" + critical;
        RegSetKeyValueW(HKEY_CURRENT_USER, kWidgetKeyPath, L"StorageServer", REG_SZ, host.c_str(),
                        DWORD((host.size() + 1) * sizeof(wchar_t)));
        Updater updater;
        UpdaterInit(updater);
        return updater;
    }

    // The command lines the update program was started with.
    static std::vector<std::wstring> Starts(int waitMs = 3000) {
        std::vector<std::wstring> lines;
        for (int waited = 0; waited <= waitMs; waited += 100) {
            lines.clear();
            FILE* log = _wfopen(Beside(L"check_updates.log").c_str(), L"r, ccs=UTF-8");
            wchar_t line[256];
            while (log && fgetws(line, 256, log)) {
                std::wstring text(line);
                while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
                    text.pop_back();
                lines.push_back(text);
            }
            if (log)
                fclose(log);
            if (!lines.empty())
                break;
            Sleep(100);
        }
        return lines;
    }
    static bool Downloaded() {
        return GetFileAttributesW(Beside(L"orvella_update.tmp").c_str()) != INVALID_FILE_ATTRIBUTES;
    }
};

TEST_F(UpdaterTest, ACriticalNewerBuildStartsTheUpdateProgramOnceAsStub) {
    Updater updater = Published(L"111", L"true");
    CheckForUpdate(updater);
    EXPECT_TRUE(Downloaded());
    EXPECT_EQ(Starts(), (std::vector<std::wstring>{L"[stub ]"}));

    // The same build again: 304 for the local copy, nothing started.
    CheckForUpdate(updater);
    Sleep(500);
    EXPECT_EQ(Starts(0).size(), 1u);
}

TEST_F(UpdaterTest, VersionsAreReadAsCIntegersAndCompared) {
    Updater same = Published(L"110", L"true");
    CheckForUpdate(same);
    EXPECT_FALSE(Downloaded());

    Updater hex = Published(L"0x70", L"true");  // 112
    CheckForUpdate(hex);
    EXPECT_TRUE(Downloaded());
    EXPECT_EQ(Starts().size(), 1u);
}

TEST_F(UpdaterTest, OnlyExactlyTrueIsCritical) {
    for (const wchar_t* critical : {L"True", L"true-space", L"false"}) {
        DeleteFileW(Beside(L"orvella_update.tmp").c_str());
        Updater updater = Published(L"111", critical);
        CheckForUpdate(updater);
        EXPECT_TRUE(Downloaded()) << critical;  // a newer build is fetched all the same
    }
    EXPECT_TRUE(Starts(500).empty());
}

TEST_F(UpdaterTest, NothingStartsWhileTheHostIsClosing) {
    ClosingFlagRestorer restorer;
    TestDesktop desktop(200, 200);
    DesktopInstance instance;
    instance.listView = desktop.listView;
    SetDesktopListView(desktop.listView);
    ASSERT_TRUE(Attach(&instance));
    SendMessageW(desktop.listView, DM_CLOSING, 0, 0);
    Detach(&instance);
    SetDesktopListView(nullptr);
    ASSERT_TRUE(ClosingRequested());
    HttpInit();  // the widget's teardown stopped the transfers of its client

    Updater updater = Published(L"111", L"true");
    CheckForUpdate(updater);
    EXPECT_TRUE(Downloaded());
    EXPECT_TRUE(Starts(500).empty());
}

TEST_F(UpdaterTest, TheFirstOnlineTickChecksAndTheNextWaitsAPeriod) {
    Updater updater = Published(L"110", L"true");
    UpdaterTick(updater, 30000);
    EXPECT_EQ(updater.elapsed, 0u);
    UpdaterTick(updater, 30000);
    EXPECT_EQ(updater.elapsed, 30000u);
}

}  // namespace
