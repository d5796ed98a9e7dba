// The updater against nginx's update object: which published builds are
// fetched, which start the update program, and how it is started.
#include "ServedFiles.h"
#include "TestDesktop.h"
#include "base/Desktop.h"
#include "host/DesktopSurface.h"
#include "net/HttpClient.h"
#include "net/Updater.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// Puts the host's closing flag back as it was, so that no later test finds
// the host closing.
struct ClosingFlagRestorer {
    const bool saved = ClosingRequested();
    ~ClosingFlagRestorer() { SetClosingRequested(saved); }
};

class UpdaterTest : public testing::Test {
protected:
    void SetUp() override {
        WidgetKey::Erase();
        HttpInit();
        Clean();
    }
    void TearDown() override {
        HttpRelease();
        WidgetKey::Erase();
        Clean();
    }
    // No downloaded build and no start of the update program.
    static void Clean() {
        DeleteFileW(Beside(L"orvella_update.tmp").c_str());
        DeleteFileW(Beside(L"check_updates.log").c_str());
    }

    static std::wstring Beside(const wchar_t* name) { return ProgramFolder() + name; }

    // Points the storage at the nginx folder that publishes this version
    // and criticality, and makes an updater for it.
    Updater Published(const wchar_t* version, const wchar_t* critical) {
        SetWidgetValue(L"StorageServer",
                       std::wstring(L"127.0.0.1/update-") + version + L"-" + critical);
        Updater updater;
        UpdaterInit(updater);
        return updater;
    }

    // The command lines the update program was started with.
    static std::vector<std::string> Starts(int waitMs = 3000) {
        std::vector<std::string> lines;
        for (int waited = 0; waited <= waitMs && lines.empty(); waited += 100) {
            if (waited)
                Sleep(100);
            std::string text = ReadAll(Beside(L"check_updates.log"));
            if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)  // the UTF-8 byte-order mark
                text.erase(0, 3);
            std::istringstream log(text);
            for (std::string line; std::getline(log, line);)
                lines.push_back(line.substr(0, line.find('\r')));
        }
        return lines;
    }
    static bool Downloaded() { return WriteTime(Beside(L"orvella_update.tmp")) != 0; }
};

// Versions are read as C integers and compared; a newer build is fetched
// whatever its criticality, but only exactly "true" starts the update
// program, as stub. The first online tick checks; the next waits a period.
TEST_F(UpdaterTest, TheFirstTickFetchesANewerBuildAndOnlyACriticalOneStartsTheUpdateOnce) {
    const struct { const wchar_t *version, *critical; bool fetched; size_t starts; } kBuilds[] = {
        {L"110", L"true", false, 0},  // the running build
        {L"0x70", L"true", true, 1},  // 112
        {L"111", L"True", true, 0},
        {L"111", L"true-space", true, 0},
        {L"111", L"false", true, 0},
        {L"111", L"true", true, 1},
    };
    Updater updater;
    for (const auto& build : kBuilds) {
        SCOPED_TRACE(testing::Message() << build.version << " " << build.critical);
        Clean();
        updater = Published(build.version, build.critical);
        UpdaterTick(updater, 30000);
        EXPECT_EQ(Downloaded(), build.fetched);
        EXPECT_EQ(Starts(build.starts ? 3000 : 500),
                  std::vector<std::string>(build.starts, "[stub ]"));
    }
    UpdaterTick(updater, 30000);
    EXPECT_EQ(updater.elapsed, 30000u);
    // The same build again: 304 for the local copy, nothing started.
    CheckForUpdate(updater);
    Sleep(500);
    EXPECT_EQ(Starts(0).size(), 1u);
}

TEST_F(UpdaterTest, NothingStartsWhileTheHostIsClosing) {
    ClosingFlagRestorer restorer;
    TestDesktop desktop(200, 200);
    {
        EmbeddedPanel panel(desktop.listView);
        ASSERT_TRUE(panel.attached);
        SendMessageW(desktop.listView, DM_CLOSING, 0, 0);
    }
    ASSERT_TRUE(ClosingRequested());
    HttpInit();  // the widget's teardown stopped the transfers of its client

    Updater updater = Published(L"111", L"true");
    CheckForUpdate(updater);
    EXPECT_TRUE(Downloaded());
    EXPECT_TRUE(Starts(500).empty());
}

}  // namespace
