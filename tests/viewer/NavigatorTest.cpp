// The page viewer, driven through the window tree as the desktop drives it,
// on scenes built by hand.
#include "TestTree.h"
#include "viewer/Navigator.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kLeft = 10, kTop = 20;  // the Navigator's place on the root

// The Navigator's parent: hears the links it passes on.
struct Owner : Window {
    explicit Owner(Window* root) : Window(kLeft, kTop, 300, 420, root) {
        UpdateRegion();
        Show();
    }
    void OnLink(const wchar_t* url) override { links.push_back(url); }
    std::vector<std::wstring> links;
};

std::unique_ptr<SContainer> Box(float y, float height) {
    return std::make_unique<SContainer>(FloatRect{0, y, 280, height});
}
// Adds an element to a container; answers it.
template <class T, class... Args> T* Add(SContainer& to, Args&&... args) {
    return static_cast<T*>(to.add(std::make_unique<T>(std::forward<Args>(args)...)));
}
SLink* AddLink(SContainer& to, float y, const wchar_t* url) {
    return Add<SLink>(to, FloatRect{20, y, 100, 20}, L"link", url);
}

class NavigatorTest : public TreeTest {
protected:
    void SetUp() override {
        TreeTest::SetUp();
        canvas->AddShippedFonts();
        owner = std::make_unique<Owner>(root.get());
        nav = std::make_unique<Navigator>(0, 0, 280, 400, owner.get());
        nav->Show();
    }
    void Forget() override {
        nav.reset();
        owner->Hide();
        owner.reset();
    }

    std::unique_ptr<Page> MakePage(float height, uint32_t header, bool scrollable = true) {
        auto page = std::make_unique<Page>();
        page->scene = Box(0, height);
        page->headerHeight = header;
        page->scrollable = scrollable;
        return page;
    }
    SButton* AddButton(SContainer& to, FloatRect rect, const wchar_t* link, const wchar_t* hint) {
        SButton* button = Add<SButton>(to, rect, rect, ImageUse(), ImageUse());
        if (link)
            button->link = link;
        if (hint)
            button->hint = hint;
        return button;
    }
    // Points in the Navigator's coordinates.
    void MoveTo(int x, int y) { Move(x + kLeft, y + kTop); }
    // Presses at one point and lets go at another.
    void DragAt(int x, int y, int toX, int toY) {
        MoveTo(x, y);
        Press(x + kLeft, y + kTop);
        MoveTo(toX, toY);
        Release(toX + kLeft, toY + kTop);
    }
    void ClickAt(int x, int y) { DragAt(x, y, x, y); }
    void Wheel(int notches) {
        root->RouteWheel(kLeft + 50, kTop + 100,
                   unsigned(WORD(short(notches * WHEEL_DELTA))) << 16);
    }
    // Runs the smooth scroll to its end; the distance of every tick.
    std::vector<int> ScrollSteps() {
        std::vector<int> steps;
        for (int before = nav->scroller->position;
             root->DispatchTimer(Navigator::kScrollTimer) && steps.size() < 100;
             before = nav->scroller->position)
            steps.push_back(nav->scroller->position - before);
        return steps;
    }

    EventRecorder events;
    std::unique_ptr<Owner> owner;
    std::unique_ptr<Navigator> nav;
};

TEST_F(NavigatorTest, ScrollerFitsTheRoomBelowTheHeaderAndPagesKeepTheirPlace) {
    Scroller& s = *nav->scroller;
    auto geometry = [&] {
        return std::vector<int>{s.y, s.height, s.pageSize, s.maximum, s.thumbHeight};
    };
    auto tall = MakePage(1000, 56), bare = MakePage(1000, 0);
    nav->ShowPage(tall.get());
    EXPECT_EQ(geometry(), (std::vector<int>{56, 344, 344, 1000, 118}));
    EXPECT_EQ(tall->scene->rect.y, 56);  // placed before the first paint
    s.setPosition(120);                  // as a thumb drag leaves it
    nav->ShowPage(bare.get());
    EXPECT_EQ(geometry(), (std::vector<int>{6, 394, 400, 1000, 157}));
    EXPECT_EQ(s.position, 0);
    nav->ShowPage(tall.get());
    EXPECT_EQ(tall->scene->rect.y, 56 - 120);

    auto exact = MakePage(344, 56), fixed = MakePage(1000, 56, false);
    for (Page* page : {exact.get(), fixed.get(), static_cast<Page*>(nullptr)}) {
        nav->ShowPage(tall.get());
        nav->ShowPage(page);
        EXPECT_FALSE(s.attached);
    }
}

TEST_F(NavigatorTest, WheelScrollsInDecayingStepsThatStopAtEitherEndAndNotAPageThatFits) {
    auto page = MakePage(1000, 56);  // positions 0 to 656
    SLink* below = AddLink(*page->scene, 130, L"http://below");
    AddLink(*page->scene, 60, L"http://above");
    nav->ShowPage(page.get());
    MoveTo(50, 100);
    Wheel(-3);
    std::vector<int> steps = ScrollSteps();
    steps.resize(3);
    EXPECT_EQ(steps, (std::vector<int>{18, 14, 11}));
    EXPECT_EQ(page->scene->rect.y, 56 - 90);
    EXPECT_EQ(nav->hoveredLink, below);  // the hover followed the content
    MoveTo(50, 40);                      // the other link, now behind the header
    EXPECT_EQ(nav->hoveredLink, nullptr);

    auto fits = MakePage(300, 56);
    nav->ShowPage(fits.get());
    Wheel(-3);
    EXPECT_EQ(events.Count(PageScrolled), 1);  // not for the page that fits
    EXPECT_FALSE(root->DispatchTimer(Navigator::kScrollTimer));

    // Back on the first page, where it was left: turns in order (negative:
    // down), each run to its end, and the position it leaves.
    nav->ShowPage(page.get());
    const struct {
        int notches;
        int position;
    } turns[] = {
        {3, 0},     {-22, 656}, {22, 0},  // to the top, just past the end, as far back: the top
        {-40, 656}, {-1, 656},  {40, 0},  // far past the end, further still, and back
        {1, 0},     {-1, 30},             // past the top, then a notch down
        {22, 0},    {-22, 656},           // past the top, and as far back: the end
    };
    for (const auto& turn : turns) {
        SCOPED_TRACE(turn.notches);
        Wheel(turn.notches);
        ASSERT_LT(ScrollSteps().size(), 100u) << "the smooth scroll did not stop";
        EXPECT_EQ(nav->scroller->position, turn.position);
        EXPECT_EQ(page->scene->rect.y, 56 - turn.position);
    }
    // Turned back while still on the way to the end.
    Wheel(40);
    root->DispatchTimer(Navigator::kScrollTimer);
    Wheel(-40);
    ASSERT_LT(ScrollSteps().size(), 100u) << "the smooth scroll did not stop";
    EXPECT_EQ(nav->scroller->position, 656);
}

TEST_F(NavigatorTest, LinksAndButtonsActivateOnlyWhenReleasedOverWhatWasPressed) {
    auto page = MakePage(1000, 56);
    AddLink(*page->scene, 10, L"anchor://deep");                              // y 66 to 86
    auto* inner = Add<SContainer>(*page->scene, FloatRect{0, 40, 280, 100});
    AddLink(*inner, 10, L"http://bank/offers");                             // y 106 to 126
    AddButton(*inner, {20, 50, 40, 30}, L"page://Map", nullptr);              // y 146 to 176
    auto* deep = Add<SContainer>(*page->scene, FloatRect{0, 600, 280, 100});
    Add<SBackground>(*deep, FloatRect{0, 50, 9, 9}, 0, 0)->name = L"deep";
    nav->ShowPage(page.get());

    // Pressed and let go elsewhere, or pressed elsewhere (the owner) and let
    // go over them: a press once left behind must not fire later, on the
    // click that follows.
    for (POINT p : {POINT{50, 115}, POINT{30, 160}}) {
        DragAt(p.x, p.y, 200, 300);
        DragAt(290, 10, p.x, p.y);
        ClickAt(p.x, p.y);
    }
    EXPECT_EQ(owner->links, (std::vector<std::wstring>{L"http://bank/offers", L"page://Map"}));
    EXPECT_EQ(events.Count(PageLinkClicked), 2);

    ClickAt(50, 75);
    EXPECT_EQ(nav->scroller->position, 650);
    nav->OnLink(L"anchor://nowhere");
    EXPECT_EQ(nav->scroller->position, 650);
    EXPECT_EQ(owner->links.size(), 2u);
    EXPECT_EQ(events.Count(PageLinkClicked), 4);
}

TEST_F(NavigatorTest, HintShowsAfterTheDelayAboveTheButtonAndRestartsOnAnotherOne) {
    auto page = MakePage(300, 0);
    SButton* first = AddButton(*page->scene, {20, 100, 40, 30}, nullptr, L"Первая");
    auto* box = Add<SContainer>(*page->scene, FloatRect{0, 200, 280, 100});
    SButton* second = AddButton(*box, {60, 10, 40, 30}, nullptr, L"Вторая подсказка");
    AddButton(*page->scene, {150, 100, 40, 30}, nullptr, nullptr);
    page->overlayScene = Box(0, 400);
    SButton* marker = AddButton(*page->overlayScene, {200, 20, 30, 30}, nullptr, L"Офис");
    nav->ShowPage(page.get());
    PopupHint& hint = *nav->hint;

    MoveTo(30, 110);
    EXPECT_EQ(nav->hintButton, first);
    MoveTo(70, 215);
    EXPECT_FALSE(first->hover || hint.attached);
    root->DispatchTimer(Navigator::kHintTimer);
    ASSERT_TRUE(hint.attached);
    EXPECT_EQ(hint.text, second->hint->c_str());
    // Centred above the button (60, 210 to 100, 240 on the page), just clear of it.
    EXPECT_LE(std::abs(2 * (hint.x - kLeft) + hint.width - 2 * 80), 1) << hint.x;
    EXPECT_TRUE(hint.y + hint.height <= kTop + 210 && hint.y + hint.height >= kTop + 206);

    MoveTo(160, 110);  // a button without a hint
    EXPECT_FALSE(hint.attached || hint.text || nav->hintButton);
    EXPECT_FALSE(root->DispatchTimer(Navigator::kHintTimer));
    MoveTo(210, 30);
    EXPECT_EQ(nav->hoveredButton, marker);
    root->DispatchTimer(Navigator::kHintTimer);
    EXPECT_TRUE(hint.attached);
    MoveTo(250, 350);
    EXPECT_FALSE(hint.attached);
}

TEST_F(NavigatorTest, PaintDrawsTheOverlayBeneathAndClipsTheSceneBelowTheHeader) {
    auto page = MakePage(1000, 56);
    Add<SBackground>(*page->scene, FloatRect{0, 0, 280, 1000}, 0, 0xFFFF0000u);
    page->overlayScene = Box(0, 400);
    Add<SBackground>(*page->overlayScene, FloatRect{0, 0, 280, 400}, 0, 0xFF0000FFu);
    nav->ShowPage(page.get());
    nav->scroller->setPosition(30);
    auto clip = [&] {
        gdip::GpRect r{};
        gdip::GdipGetClipBoundsI(canvas->graphics.get(), &r);
        return std::vector<int>{r.X, r.Y, r.Width, r.Height};
    };
    std::vector<int> before = clip();
    root->PaintTree(0, 0, 400, 300);
    EXPECT_EQ(clip(), before);
    // The scrolled scene starts above the header but shows from its last row
    // on; the overlay shows in the header.
    for (auto [y, colour] :
         {std::pair{40, 0x0000FFu}, {55, 0x0000FFu}, {56, 0xFF0000u}, {70, 0xFF0000u}})
        EXPECT_EQ(Pixel(kLeft + 100, kTop + y), colour) << y;
}

// The owner replaces a shown page by a newer one: nothing of the old page may
// be reached once it is gone.
TEST_F(NavigatorTest, ForgottenPageLeavesNoPointerBehind) {
    auto old = MakePage(1000, 56), other = MakePage(500, 0);
    AddLink(*old->scene, 60, L"http://old");  // y 116 to 136, under a hinted button
    AddButton(*old->scene, {20, 60, 40, 30}, L"http://old", L"Старая");
    nav->ShowPage(old.get());
    MoveTo(30, 125);
    root->DispatchTimer(Navigator::kHintTimer);
    ASSERT_TRUE(nav->hint->attached);
    Press(kLeft + 30, kTop + 125);
    ASSERT_TRUE(nav->pressedLink && nav->pressedButton);
    Wheel(-1);

    nav->ForgetPage(other.get());
    EXPECT_EQ(nav->page, old.get());
    nav->ForgetPage(old.get());
    old.reset();
    EXPECT_FALSE(nav->page || nav->hoveredLink || nav->pressedLink || nav->hoveredButton ||
                 nav->pressedButton || nav->hintButton);
    EXPECT_FALSE(nav->hint->attached || nav->hint->text || nav->scroller->attached);
    EXPECT_FALSE(root->DispatchTimer(Navigator::kScrollTimer) ||
                 root->DispatchTimer(Navigator::kHintTimer));

    Release(kLeft + 30, kTop + 125);
    ClickAt(30, 125);
    Wheel(-1);
    root->PaintTree(0, 0, 400, 300);
    nav->ShowPage(other.get());
    EXPECT_TRUE(owner->links.empty());
}

}  // namespace
