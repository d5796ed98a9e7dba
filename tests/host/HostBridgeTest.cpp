// The host bridge in one process: the finder, the command line hand-over and
// Load/Unload through the hook, with the desktop windows on this thread.
#include "TestDesktop.h"
#include "base/Text.h"
#include "base/WidgetKey.h"
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
    for (std::wstring text : {std::wstring(kCommandLineUnits, L'a'), std::wstring(3000, L'b')}) {
        CopyUnits(buffer, kCommandLineUnits, text.c_str());
        EXPECT_EQ(std::wstring(buffer, kCommandLineUnits), text.substr(0, kCommandLineUnits));
        EXPECT_EQ(buffer[kCommandLineUnits], L'!') << text.size();
    }
}

TEST(Finder, FindsTheListViewUnderProgmanOrWorkerWOnly) {
    for (auto [top, found] :
         {std::pair{L"WorkerW", true}, {L"ProgmanX", false}, {L"Progman", true}}) {
        TestDesktop desktop(200, 200, top);
        EXPECT_EQ(FindDesktopListView(), found ? desktop.listView : nullptr) << top;
    }
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
    LRESULT Send(UINT message) { return SendMessageW(desktop.listView, message, 0, 0); }

    TestDesktop desktop;
    RecordingHost host;
};

TEST_F(LoadTest, LoadEmbedsOnceTakesCommandLinesAndUnloadRestores) {
    ASSERT_TRUE(Load(host.window, L"first"));
    ASSERT_NE(Bridge().instance.get(), nullptr);
    HHOOK hook = Bridge().hook;
    DesktopInstance* first = Bridge().instance.get();
    // Private messages for other windows of the thread are left alone.
    SendMessageW(desktop.defView, HM_DESTROY, 0, 0);
    EXPECT_EQ(Send(HM_QUERY), 1);
    EXPECT_EQ(Received(), L"first");
    // Later command lines arrive empty, whole or cut.
    SendCommandLine(nullptr);
    EXPECT_EQ(Received(), L"");
    std::wstring longer(kCommandLineUnits + 10, L'z');
    SendCommandLine(longer.c_str());
    EXPECT_EQ(Received(), longer.substr(0, kCommandLineUnits));

    EXPECT_FALSE(Load(host.window, L"second"));
    EXPECT_EQ(Bridge().hook, hook);
    EXPECT_EQ(Bridge().instance.get(), first);

    Unload();
    EXPECT_EQ(Bridge().instance.get(), nullptr);
    EXPECT_EQ(Bridge().hook, nullptr);
    EXPECT_EQ(Send(HM_QUERY), 0);

    ASSERT_TRUE(Load(host.window, L"again"));
    EXPECT_EQ(Send(DM_IS_VISIBLE), 1);
    EXPECT_EQ(Received(), L"again");
}

TEST_F(LoadTest, ANewHostTakesOverFromOneThatDiedWithoutUnload) {
    auto first = std::make_unique<RecordingHost>();
    ASSERT_TRUE(Load(first->window, L"first"));
    first.reset();  // gone without Unload; the hook is still ours here
    EXPECT_EQ(Send(HM_QUERY), 0);

    RecordingHost second;
    ASSERT_TRUE(Load(second.window, L"second"));
    EXPECT_FALSE(Load(host.window, L"third"));  // a live host keeps its widget
    Send(DM_TOGGLE);
    EXPECT_EQ(Send(DM_IS_VISIBLE), 0);
    Send(DM_CLOSING);
    ASSERT_EQ(second.received.size(), 1u);
    EXPECT_EQ(second.received[0].message, DM_CLOSING);

    Unload();
    EXPECT_EQ(Bridge().instance.get(), nullptr);
    EXPECT_EQ(Send(HM_QUERY), 0);
}

// A shell call in a click handler may run a modal loop in which the host's
// Unload arrives: the handler must come back to a tree that still stands.
TEST_F(LoadTest, UnloadDuringAClickWaitsUntilTheHandlerHasReturned) {
    ASSERT_TRUE(Load(host.window, L""));
    struct Opener : Window {
        using Window::Window;
        void OnMouseDown(MouseEvent&) override {
            Unload();
            treeStood = Bridge().instance && Bridge().instance->embedding &&
                        root->firstChild != nullptr;
        }
        bool treeStood = false;
    };
    // Not deleted: the tree it lives in is gone when the click returns, and
    // windows go before their root.
    auto* opener = new Opener(3, 3, 20, 20, &Bridge().instance->embedding->root);
    opener->UpdateRegion();
    opener->Show();
    SendMessageW(desktop.listView, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(6, 6));
    EXPECT_TRUE(opener->treeStood);
    EXPECT_EQ(Bridge().instance.get(), nullptr);
    EXPECT_EQ(Send(HM_QUERY), 0);
}

TEST_F(LoadTest, NoDesktopMeansNoLoadAndARebuiltOneGetsANewWidget) {
    ASSERT_TRUE(Load(host.window, L""));
    DestroyWindow(desktop.listView);
    EXPECT_EQ(Bridge().instance.get(), nullptr);
    Unload();
    DestroyWindow(desktop.top);
    PumpMessages();
    EXPECT_EQ(GetDesktopHWND(), nullptr);
    EXPECT_FALSE(Load(host.window, L""));
    EXPECT_EQ(Bridge().hook, nullptr);

    TestDesktop rebuilt;
    ASSERT_EQ(GetDesktopHWND(), rebuilt.listView);
    ASSERT_TRUE(Load(host.window, L""));
    EXPECT_EQ(SendMessageW(rebuilt.listView, DM_IS_VISIBLE, 0, 0), 1);
}

}  // namespace
