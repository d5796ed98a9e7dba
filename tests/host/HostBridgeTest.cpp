// The host bridge in one process: the finder, the command line hand-over and
// Load/Unload through the hook, with the desktop windows on this thread.
#include "TestDesktop.h"
#include "host/DesktopSurface.h"
#include "base/Text.h"
#include "base/WidgetKey.h"
#include "host/DesktopSurface.h"
#include "host/HostBridge.h"
#include "widget/Widget.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Received() {
    const wchar_t* text = Bridge().commandLine;
    return std::wstring(text, std::find(text, text + kCommandLineUnits, L'\0'));
}

TEST(CommandLineCopy, LongTextIsCutAtTheBufferEnd) {
    wchar_t buffer[kCommandLineUnits + 1];
    buffer[kCommandLineUnits] = L'!';
    std::wstring exact(kCommandLineUnits, L'a');
    CopyUnits(buffer, kCommandLineUnits, exact.c_str());
    EXPECT_EQ(std::wstring(buffer, kCommandLineUnits), exact);
    EXPECT_EQ(buffer[kCommandLineUnits], L'!');

    std::wstring longer(3000, L'b');
    CopyUnits(buffer, kCommandLineUnits, longer.c_str());
    EXPECT_EQ(std::wstring(buffer, kCommandLineUnits), longer.substr(0, kCommandLineUnits));
    EXPECT_EQ(buffer[kCommandLineUnits], L'!');
}

TEST(Finder, FindsTheListViewUnderProgmanOrWorkerWOnly) {
    {
        TestDesktop desktop(200, 200, L"WorkerW");
        EXPECT_EQ(FindDesktopListView(), desktop.listView);
    }
    {
        TestDesktop lookalike(200, 200, L"ProgmanX");
        EXPECT_EQ(FindDesktopListView(), nullptr);
    }
    TestDesktop desktop;
    EXPECT_EQ(FindDesktopListView(), desktop.listView);
}

class LoadTest : public testing::Test {
protected:
    void SetUp() override {
        WidgetKey::Erase();
        SetDesktopListView(nullptr);
    }
    void TearDown() override {
        Unload();
        SetDesktopListView(nullptr);
    }

    TestDesktop desktop;
    RecordingHost host;
};

TEST_F(LoadTest, LoadEmbedsOnceAndUnloadRestores) {
    EXPECT_EQ(GetDesktopHWND(), desktop.listView);
    ASSERT_TRUE(Load(host.window, L"first"));
    ASSERT_NE(Bridge().instance.get(), nullptr);
    EXPECT_EQ(SendMessageW(desktop.listView, HM_QUERY, 0, 0), 1);
    EXPECT_EQ(Received(), L"first");
    HHOOK hook = Bridge().hook;
    DesktopInstance* first = Bridge().instance.get();

    EXPECT_FALSE(Load(host.window, L"second"));
    EXPECT_EQ(Bridge().hook, hook);
    EXPECT_EQ(Bridge().instance.get(), first);

    Unload();
    EXPECT_EQ(Bridge().instance.get(), nullptr);
    EXPECT_EQ(Bridge().hook, nullptr);
    EXPECT_EQ(SendMessageW(desktop.listView, HM_QUERY, 0, 0), 0);

    ASSERT_TRUE(Load(host.window, L"again"));
    EXPECT_EQ(SendMessageW(desktop.listView, HM_QUERY, 0, 0), 1);
    EXPECT_EQ(SendMessageW(desktop.listView, DM_IS_VISIBLE, 0, 0), 1);
    EXPECT_EQ(Received(), L"again");
}

TEST_F(LoadTest, CommandLineArrivesWholeCutOrEmpty) {
    ASSERT_TRUE(Load(host.window, L"x"));
    SendCommandLine(L"--tab 2");
    EXPECT_EQ(Received(), L"--tab 2");
    SendCommandLine(nullptr);
    EXPECT_EQ(Received(), L"");
    std::wstring longer(kCommandLineUnits + 10, L'z');
    SendCommandLine(longer.c_str());
    EXPECT_EQ(Received(), longer.substr(0, kCommandLineUnits));
}

TEST_F(LoadTest, PrivateMessagesForOtherWindowsOfTheThreadAreLeftAlone) {
    ASSERT_TRUE(Load(host.window, L""));
    DesktopInstance* instance = Bridge().instance.get();
    SendMessageW(desktop.defView, HM_DESTROY, 0, 0);
    EXPECT_EQ(Bridge().instance.get(), instance);
    EXPECT_EQ(SendMessageW(desktop.listView, HM_QUERY, 0, 0), 1);
}

TEST_F(LoadTest, NoDesktopMeansNoLoad) {
    DestroyWindow(desktop.top);
    PumpMessages();
    EXPECT_EQ(GetDesktopHWND(), nullptr);
    EXPECT_FALSE(Load(host.window, L""));
    EXPECT_EQ(Bridge().hook, nullptr);
}

}  // namespace
