// The panel: tab commands, page replacement by name, and which addresses it
// hands to the shell.
#include "base/Text.h"
#include "FeedHarness.h"
#include "WidgetFixture.h"
#include "base/Threads.h"
#include "content/SettingsStreams.h"
#include "widget/Rates.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

std::unique_ptr<Page> NamedPage(const wchar_t* name) {
    auto page = std::make_unique<Page>();
    page->name = name;
    page->scene = std::make_unique<SContainer>(FloatRect{0, 0, 260, 100});
    page->scrollable = true;
    return page;
}

using WidgetTest = WidgetTreeTest;

TEST_F(WidgetTest, RatesFromAnotherThreadComeByMessageAndTheTreeRefusesThatThread) {
    DeliveringListView delivering(desktop.listView);
    Fed<RatesStream> rates(widget.get());
    const int before = wrongThreadCalls;
    std::atomic<bool> done{false};
    std::thread feed([&] {
        rates.Build(R"({"date": "2026-12-04", "usd": "78,42", "eur": "91,10"})");
        done = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 10000));
    feed.join();
    EXPECT_EQ(wrongThreadCalls, before);
    EXPECT_EQ(std::wstring(widget->ratesTexts.dollar), L"78,42");

    // The check itself: another thread's invalidation is refused and counted.
    auto saved = std::exchange(wrongThreadHandler, nullptr);
    std::thread([&] { widget->rates->Invalidate(); }).join();
    wrongThreadHandler = saved;
    EXPECT_EQ(wrongThreadCalls, before + 1);
}

TEST_F(WidgetTest, TabCommandsAlwaysLandOnOneOfTheSixTabs) {
    for (auto [command, tab] : {std::pair{3, 3}, {-1, 5}, {7, 1}, {-13, 5}}) {
        widget->OnCommand(0, command);
        EXPECT_EQ(widget->currentTab, tab) << command;
    }
}

TEST_F(WidgetTest, APressOnTheRatesStartsADragOfThePanel) {
    int x = widget->x, y = widget->y;
    ASSERT_TRUE(Press(x + 130, y + 410));  // on the rates label
    EXPECT_EQ(root->CaptureWindow(), widget.get());
    Move(x + 100, y + 420);
    Release(x + 100, y + 420);
    EXPECT_EQ(std::make_pair(widget->x, widget->y), std::make_pair(x - 30, y + 10));
    EXPECT_EQ(root->CaptureWindow(), nullptr);
}

// Pages laid out a child per slice, one slice per message.
struct OneChildSlices {
    OneChildSlices() { Widget::layoutSlice = {}; }
    ~OneChildSlices() { Widget::layoutSlice = std::chrono::hours(1); }
};

std::unique_ptr<Page> ModelPage(const wchar_t* name, int paragraphs) {
    static const FontSpec font;
    auto page = std::make_unique<Page>();
    page->name = name;
    auto block = std::make_unique<MDiv>();
    block->rect = FloatRect{0, 0, kPageWidth, 0};
    for (int i = 0; i < paragraphs; ++i)
        block->add(std::make_unique<MParagraph>())->padding.top = 4;
    static_cast<MParagraph&>(*block->children.back()).addText(L"последний", &font, 0xFF000000u);
    page->model = std::move(block);
    return page;
}

TEST_F(WidgetTest, ANewerPageOfTheSameNameReplacesTheOldShownOnlyWholeAndTheOldUntilThen) {
    Page* older = NamedPage(L"News").release();
    widget->OnContent(0, older);
    EXPECT_EQ(widget->navigator->page, older);
    Page* shown = NamedPage(L"News").release();
    widget->OnContent(0, shown);
    EXPECT_EQ(widget->navigator->page, shown);  // laid out already: at once
    EXPECT_EQ(std::count_if(widget->pages.begin(), widget->pages.end(),
                            [](auto& page) { return page->name == L"News"; }), 1);
    // Another tab's page is kept, not shown.
    widget->OnContent(0, NamedPage(L"Friday").release());
    EXPECT_EQ(widget->navigator->page, shown);

    // Laid out a child per message, a page is shown only once whole.
    OneChildSlices slices;
    widget->OnContent(0, ModelPage(L"News", 6).release());
    EXPECT_EQ(widget->navigator->page, shown) << "the page on the screen went before its successor";
    // Replaced again before it is whole: the newest is the one waited for.
    Page* newest = ModelPage(L"News", 6).release();
    widget->OnContent(0, newest);
    for (int slice = 0; slice < 20 && widget->navigator->page == shown; ++slice)
        root->DispatchTimer(Widget::kLayoutTimer);
    ASSERT_EQ(widget->navigator->page, newest);
    EXPECT_TRUE(newest->laidOut() && newest->scene);
    EXPECT_EQ(widget->retiringPage, nullptr);
    EXPECT_GT(newest->scene->rect.height, 6 * 4.f);

    // Another tab while its page is laid out shows nothing of the tab left;
    // the page is laid out ahead all the same and shown at once later.
    Page* friday = ModelPage(L"Friday", 6).release();
    Page* about = ModelPage(L"About", 6).release();
    widget->OnContent(0, friday);
    widget->OnContent(0, about);
    widget->OnCommand(Widget::SelectTabCommand, Widget::kFridayTab);
    EXPECT_EQ(widget->navigator->page, nullptr);
    // Ahead of need once the pictures decoded ahead are done.
    EXPECT_TRUE(PumpUntil(
        [&] { return !root->DispatchTimer(Widget::kLayoutTimer) || about->laidOut(); }, 5000));
    EXPECT_TRUE(about->laidOut());
    EXPECT_EQ(widget->navigator->page, friday);
    widget->OnCommand(Widget::SelectTabCommand, 5);
    EXPECT_EQ(widget->navigator->page, about);

    // Torn down while a page is being laid out: nothing of it is left behind.
    widget->OnContent(0, ModelPage(L"About", 50).release());
    EXPECT_NE(widget->pendingPage, nullptr);
}

TEST(WebAddressTest, OnlyHttpAddressesThatCannotAddArgumentsPass) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"http://www.orvella.example/news", true},
        {L"https://online.orvella.example/login?a=1&b=%20~!", true},
        {L"http://орвелла.example/путь", true},
        {nullptr, false}, {L"", false}, {L"http:/", false},
        {L"file:///C:/Windows/notepad.exe", false}, {L"orvellatest://link", false},
        {L" http://www.orvella.example/", false},
        {L"http://www.orvella.example/ --new-window", false},
        {L"http://www.orvella.example/\"--new-window", false},
        {L"http://www.orvella.example/'--new-window", false},
        {L"http://www.orvella.example/\n", false},
        {L"http://www.orvella.example/\x1f", false},  // the last control below the space
        {L"http://www.orvella.example/\x7f", false},
        {L"http://www.orvella.example/\x80", true},  // the first past it
    };
    for (auto [url, accepted] : cases)
        EXPECT_EQ(IsWebAddress(url), accepted) << (url ? url : L"(null)");
}

// Registers url_recorder.exe as the shell's handler of some schemes while
// it lives (putting back what was there), and reads back what was opened.
class ShellLog {
public:
    explicit ShellLog(std::vector<std::wstring> schemes) {
        log_ = ProgramFolder() + L"widget_test_urls.txt";
        DeleteFileW(log_.c_str());
        std::wstring command = L"\"" + ProgramFolder() + L"url_recorder.exe\" \"" + log_ + L"\" \"%1\"";
        for (const std::wstring& scheme : schemes) {
            const std::wstring key = L"Software\\Classes\\" + scheme;
            wchar_t old[512] = {};
            DWORD size = sizeof(old);
            const bool existed = RegGetValueW(HKEY_LOCAL_MACHINE, (key + kCommand).c_str(),
                                              nullptr, RRF_RT_REG_SZ, nullptr, old,
                                              &size) == ERROR_SUCCESS;
            saved_.push_back({key, existed ? std::optional<std::wstring>(old) : std::nullopt});
            SetCommand(key, command);
        }
    }
    ~ShellLog() {
        DeleteFileW(log_.c_str());
        for (const auto& [key, command] : saved_) {
            if (command)
                SetCommand(key, *command);
            else
                RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
        }
    }
    // The addresses opened, once at least count were, or after five seconds.
    std::vector<std::wstring> Opened(size_t count) {
        std::vector<std::wstring> lines;
        for (int wait = 0; wait < 50 && lines.size() < count; ++wait) {
            Sleep(100);
            lines.clear();
            FILE* file = _wfopen(log_.c_str(), L"r, ccs=UTF-8");
            for (wchar_t line[512]; file && fgetws(line, 512, file);)
                lines.push_back(std::wstring(line, wcscspn(line, L"\r\n")));
            if (file)
                fclose(file);
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }

private:
    static constexpr const wchar_t* kCommand = L"\\shell\\open\\command";
    static void SetCommand(const std::wstring& key, const std::wstring& command) {
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, (key + kCommand).c_str(), nullptr, REG_SZ,
                        command.c_str(), DWORD((command.size() + 1) * sizeof(wchar_t)));
    }

    // Each key and the command it held, if it was there.
    std::vector<std::pair<std::wstring, std::optional<std::wstring>>> saved_;
    std::wstring log_;
};

TEST_F(WidgetTest, OnlyPlainWebLinksAndAWebBankingAddressReachTheShell) {
    ShellLog shell({L"http", L"https", L"orvellatest"});
    auto bank = [&](const wchar_t* address) {
        CopyText(widget->settings.online_banking, address);
        MouseEvent onBanking{150, 15};
        widget->OnMouseDown(onBanking);
    };
    // A tampered banking address of another scheme is not opened.
    bank(L"orvellatest://banking");
    // Pages follow "http://" links only.
    for (const wchar_t* link : {L"https://www.orvella.example/secure", L"orvellatest://link",
                                L"http://www.orvella.example/news",
                                L"http://www.orvella.example/\" --evil"})
        widget->OnLink(link);
    bank(L"https://online.orvella.example/ --evil");
    bank(L"https://online.orvella.example/login");
    EXPECT_EQ(root->CaptureWindow(), nullptr);  // the press opened the bank, it started no drag

    Sleep(1000);  // anything wrongly launched has time to write too
    EXPECT_EQ(shell.Opened(2), (std::vector<std::wstring>{L"http://www.orvella.example/news",
                                                          L"https://online.orvella.example/login"}));
}

}  // namespace
