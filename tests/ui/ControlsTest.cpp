// Hints, buttons, the scroll thumb and the city selector, driven through the
// window tree as the desktop drives them.
#include "TestTree.h"
#include "ui/Button.h"
#include "ui/Popup.h"
#include "ui/Scroller.h"
#include "ui/Select.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// A parent that writes down the commands its children send.
struct Panel : Window {
    explicit Panel(Window* root) : Window(50, 40, 300, 250, root) {
        UpdateRegion();
        Show();
    }
    void OnCommand(int code, int param) override { commands.push_back({code, param}); }
    std::vector<std::pair<int, int>> commands;
};

class ControlsTest : public TreeTest {
protected:
    void SetUp() override {
        TreeTest::SetUp();
        canvas->AddShippedFonts();
        panel = std::make_unique<Panel>(root.get());
    }
    void Forget() override {
        if (panel)
            panel->Hide();
        panel.reset();
    }

    std::unique_ptr<Panel> panel;
};

TEST_F(ControlsTest, HintSizesToItsTextSitsCentredAboveItsRectangleAndFadesInOnEveryShow) {
    PopupHint hint(100, 100, 40, 30, panel.get());  // (150, 140) to (190, 170) on the root
    hint.font = canvas->GetFont(L"PT Sans", 13, 0);
    for (const wchar_t* text : {L"Скидка 10% по карте", L"Скидка", L""}) {
        SCOPED_TRACE(testing::Message() << "text of " << wcslen(text));
        hint.text = *text ? text : nullptr;  // none: a bubble of its own size
        hint.Show();
        EXPECT_EQ(hint.alpha, 0.0f);
        gdip::RectF room = *text ? canvas->MeasureText(text, hint.font, 200, 200) : gdip::RectF{};
        EXPECT_TRUE(hint.width > room.Width && hint.height > room.Height) << hint.width;
        EXPECT_TRUE(!*text || hint.width <= room.Width + 10) << hint.width;
        EXPECT_LE(std::abs(2 * hint.x + hint.width - 2 * 170), 1);  // centred
        EXPECT_TRUE(hint.y + hint.height <= 140 && hint.y + hint.height >= 136) << hint.y;
        EXPECT_EQ(root->lastChild, &hint);  // over the panel, not clipped by it
        int ticks = 0;
        while (root->DispatchTimer(PopupHint::kFadeTimer) && ticks < 50)
            ++ticks;
        EXPECT_TRUE(ticks == 10 || ticks == 11) << ticks;  // then the timer stops
        EXPECT_EQ(hint.alpha, 1.0f);
        hint.Hide();
    }
}

TEST_F(ControlsTest, GroupButtonClickedAgainSendsItsCommandWithoutHighlight) {
    Button* selected = nullptr;
    Button first(0, 0, 50, 20, 0, 1, nullptr, &selected, panel.get());
    Button second(60, 0, 50, 20, 0, 2, nullptr, &selected, panel.get());
    // Each entry of the pointer is told ahead of a click, but on the
    // group's selected button.
    first.enterCommand = second.enterCommand = 5;

    Click(55, 45);
    EXPECT_EQ(selected, &first);
    EXPECT_FALSE(first.hover);
    Move(115, 45);
    EXPECT_TRUE(second.hover);
    Click(56, 45);
    Click(115, 45);
    EXPECT_EQ(selected, &second);
    EXPECT_EQ(panel->commands, (std::vector<std::pair<int, int>>{
                                   {5, 1}, {0, 1}, {5, 2}, {0, 1}, {5, 2}, {0, 2}}));
    first.Hide();
    second.Hide();
}

TEST_F(ControlsTest, ButtonHighlightShowsOnlyWhileHovered) {
    std::wstring picture = ProgramFolder() + L"controls_test_highlight.bmp";
    WriteTestBitmap(picture, 10, 10, 0x00FF00);
    Button button(0, 0, 10, 10, 7, 0, picture.c_str(), nullptr, panel.get());
    ASSERT_TRUE(button.image.get());  // decoded when first asked for
    DeleteFileW(picture.c_str());

    auto paint = [&] {
        Repaint(RGB(255, 255, 255));
        return Pixel(55, 45);
    };
    EXPECT_EQ(paint(), 0xFFFFFFu);
    Move(55, 45);
    EXPECT_EQ(paint(), 0x00FF00u);
    Move(200, 200);
    EXPECT_EQ(paint(), 0xFFFFFFu);
    button.Hide();
}

TEST_F(ControlsTest, DraggedThumbFollowsThePointerToBothEndsAndThePositionIsClampedToThem) {
    Scroller scroller(280, 0, 8, 210, panel.get());
    scroller.maximum = 1000;
    scroller.pageSize = 300;
    scroller.thumbHeight = 63;
    scroller.Show();
    // Scroller coordinates to root coordinates.
    const int x = 50 + 280 + 4;
    auto y = [](int at) { return 40 + at; };

    Press(x, y(10));
    EXPECT_EQ(root->CaptureWindow(), &scroller);
    Move(x + 100, y(40));  // off the scroller: it still follows
    EXPECT_EQ(scroller.thumbTop, 30);
    EXPECT_TRUE(scroller.position > 0 && scroller.position < 700) << scroller.position;
    for (auto [to, thumbTop, position] : {std::tuple{900, 210 - 63, 700}, {-500, 0, 0}}) {
        Move(x, y(to));
        EXPECT_EQ(scroller.thumbTop, thumbTop) << to;
        EXPECT_EQ(scroller.position, position) << to;
    }
    Release(x, y(-500));
    Move(x, y(100));
    EXPECT_EQ(scroller.thumbTop, 0);

    // A press below the thumb takes nothing.
    Press(x, y(150));
    EXPECT_EQ(root->CaptureWindow(), nullptr);

    int above = -1;
    for (int asked : {-40, 0, 100, 350, 600, 700, 5000}) {  // 700: the last position
        scroller.setPosition(asked);
        EXPECT_EQ(scroller.position, std::clamp(asked, 0, 700)) << asked;
        if (scroller.position % 700 == 0)  // at either end
            EXPECT_EQ(scroller.thumbTop, scroller.position ? 210 - 63 : 0) << asked;
        else
            EXPECT_GT(scroller.thumbTop, above) << asked;
        above = scroller.thumbTop;
    }
    scroller.Hide();
}

class SelectTest : public ControlsTest {
protected:
    void SetUp() override {
        ControlsTest::SetUp();
        model.items = {L"Москва", L"Казань", L"Пермь"};
        select = std::make_unique<Select>(80, 150, 200, 21, &model, panel.get());
        select->Show();
    }
    void Forget() override {
        select->Hide();
        select.reset();
        ControlsTest::Forget();
    }
    void ClickSelect(int x, int y) { Click(50 + 80 + x, 40 + 150 + y); }

    SelectModel model;
    std::unique_ptr<Select> select;
};

TEST_F(SelectTest, ArrowsStepAndNotifyEvenAtTheEnds) {
    model.selected = 2;
    ClickSelect(190, 15);
    EXPECT_EQ(model.selected, 2);
    ClickSelect(190, 5);
    ClickSelect(190, 10);  // the upper arrow's last row
    EXPECT_EQ(model.selected, 0);
    ClickSelect(190, 2);
    EXPECT_EQ(model.selected, 0);
    EXPECT_EQ(panel->commands.size(), 4u);

    Move(50 + 80 + 190, 40 + 150 + 10);
    EXPECT_TRUE(select->downHover);
    EXPECT_FALSE(select->upHover);
}

TEST_F(SelectTest, PopupOpensWithTheChosenRowOnTheSelectAndClosesOnAChoiceAPressOutsideOrAHide) {
    model.selected = 1;
    ClickSelect(20, 10);
    SelectPopup* popup = select->popup.get();
    ASSERT_TRUE(popup->attached);
    const int row = popup->rowHeight, margin = 10;
    EXPECT_GT(row, 10);
    EXPECT_EQ(popup->y + margin + row, 40 + 150);  // the chosen row on the select
    EXPECT_TRUE(popup->x < 130 && popup->x + popup->width >= 330) << popup->x << popup->width;
    EXPECT_GE(popup->height, 3 * row + 2 * margin);
    EXPECT_EQ(root->CaptureWindow(), popup);

    Move(popup->x + 30, popup->y + 2);  // the top margin: the first row
    EXPECT_EQ(popup->hovered, 0);
    Click(popup->x + 30, popup->y + margin + 2 * row + 3);
    EXPECT_EQ(model.selected, 2);
    EXPECT_FALSE(popup->attached);
    EXPECT_EQ(root->CaptureWindow(), nullptr);

    // Opened again, another row hovered and a press outside: closed, nothing chosen.
    ClickSelect(20, 10);
    Move(popup->x + 30, popup->y + margin + row + 2);
    EXPECT_EQ(popup->hovered, 1);
    Press(5, 5);
    Release(5, 5);
    EXPECT_FALSE(popup->attached);
    EXPECT_EQ(model.selected, 2);
    EXPECT_EQ(panel->commands, (std::vector<std::pair<int, int>>{{10, 0}}));

    // Hiding the select alone closes it too.
    ClickSelect(20, 10);
    ASSERT_TRUE(popup->attached);
    select->Hide();
    EXPECT_FALSE(popup->attached);
    EXPECT_EQ(root->CaptureWindow(), nullptr);
}

}  // namespace
