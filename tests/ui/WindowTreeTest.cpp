// The window tree: routing order, capture, hover, clicks, timers,
// invalidation and painting, on a real surface window.
#include "FeedHarness.h"
#include "TestTree.h"
#include "ui/Delivery.h"

#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using Log = std::vector<std::string>;

// A window that writes down everything that happens to it.
class Probe : public Window {
public:
    Probe(std::string name, int x, int y, int w, int h, Window* parent, Log& log)
        : Window(x, y, w, h, parent), name_(std::move(name)), log_(log) {
        UpdateRegion();
    }

    void Paint() override {
        log_.push_back(name_ + " paint");
        canvas->FillRect(0, 0, 10, 10, fill);
        if (onPaint)
            onPaint();
    }
    void OnTimer(int id) override { log_.push_back(name_ + " timer " + std::to_string(id)); }
    void OnClick(MouseEvent& e) override { Note("click", e); }
    void OnMouseEnter(MouseEvent& e) override { Note("enter", e); }
    void OnMouseLeave(MouseEvent& e) override { Note("leave", e); }
    void OnMouseWheel(MouseEvent& e) override {
        log_.push_back(name_ + " wheel " + std::to_string(e.wheel));
    }
    void OnMouseDown(MouseEvent& e) override {
        Note("down", e);
        if (drags)
            root->SetMouseCapture(this);
    }
    void OnMouseUp(MouseEvent& e) override {
        Note("up", e);
        if (drags)
            root->ReleaseMouseCapture();
    }
    void OnMouseMove(MouseEvent& e) override { Note("move", e); }
    void OnCaptureLost() override { log_.push_back(name_ + " lost"); }

    gdip::ARGB fill = 0xFFFF0000u;
    bool drags = false;  // takes the capture on a press and lets it go on the release, as the panel
    std::function<void()> onPaint;  // after each paint

private:
    void Note(const char* what, const MouseEvent& e) {
        log_.push_back(name_ + " " + what + " " + std::to_string(e.x) + "," + std::to_string(e.y));
    }

    std::string name_;
    Log& log_;
};

class WindowTreeTest : public TreeTest {
protected:
    void Forget() override { windows.clear(); }

    Probe* Add(const char* name, int x, int y, int w, int h, Window* parent = nullptr) {
        windows.push_back(std::make_unique<Probe>(name, x, y, w, h, parent ? parent : root.get(), log));
        windows.back()->Show();
        return windows.back().get();
    }

    // Dispatches the list view's timer messages as the desktop surface does
    // until done() holds; false when it never did.
    template <class Done>
    bool PumpTimersUntil(Done done) {
        for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(1)) {
            MSG msg;
            while (PeekMessageW(&msg, desktop.listView, WM_TIMER, WM_TIMER, PM_REMOVE))
                root->DispatchTimer(int(msg.wParam));
            if (done())
                return true;
        }
        return false;
    }
    void ExpectPixels(std::initializer_list<std::tuple<int, int, unsigned>> pixels) {
        for (auto [x, y, colour] : pixels)
            EXPECT_EQ(Pixel(x, y), colour) << "pixel " << x << "," << y;
    }

    std::vector<std::unique_ptr<Probe>> windows;
    Log log;
};

TEST_F(WindowTreeTest, InputGoesToTheFirstWindowChildrenFirstWhoseShapeHoldsThePoint) {
    // A round button: only the disc of radius 20 in its 40 x 40 box is hit.
    struct Round : Probe {
        using Probe::Probe;
        void UpdateRegion() override {
            gdip::GpPath* path = nullptr;
            gdip::GdipCreatePath(gdip::FillModeAlternate, &path);
            gdip::GdipAddPathEllipseI(path, 0, 0, width, height);
            gdip::GpRegion* disc = nullptr;
            gdip::GdipCreateRegionPath(path, &disc);
            gdip::GdipDeletePath(path);
            region.native.reset(disc);
        }
    };
    Add("a", 10, 10, 100, 100);
    Add("b", 50, 50, 100, 100);  // over a, which keeps the input in their overlap
    Probe* parent = Add("p", 300, 200, 50, 50);
    Add("c", -80, 0, 20, 20, parent);  // outside its parent
    Add("inner", 10, 10, 10, 10, parent);
    Probe* glass = Add("glass", 0, 200, 100, 100);
    glass->mouseTransparent = true;
    Add("knob", 10, 10, 10, 10, glass);
    windows.push_back(std::make_unique<Round>("r", 150, 200, 40, 40, root.get(), log));
    windows.back()->UpdateRegion();
    windows.back()->Show();

    // Painted in that order, later on top; c lies outside its top-level
    // window, whose layer is all that is drawn of it.
    root->PaintTree(0, 0, 400, 300);
    EXPECT_EQ(log, (Log{"a paint", "b paint", "p paint", "inner paint", "glass paint",
                        "knob paint", "r paint"}));
    const struct {
        int x, y;
        const char* heard;  // "": the press is not the tree's
    } presses[] = {
        {60, 60, "a down 50,50"},      {140, 140, "b down 90,90"},
        {225, 205, "c down 5,5"},      {315, 215, "inner down 5,5"},
        {340, 240, "p down 40,40"},    {50, 250, ""},  // through the glass
        {15, 215, "knob down 5,5"},    {152, 202, ""},  // the round button's corner
        {170, 220, "r down 20,20"},    {390, 290, ""},
    };
    for (const auto& press : presses) {
        log.clear();
        EXPECT_EQ(Press(press.x, press.y), *press.heard != 0) << press.x << "," << press.y;
        Release(press.x, press.y);
        EXPECT_EQ(log.empty() ? "" : log.front(), press.heard) << press.x << "," << press.y;
    }
}

TEST_F(WindowTreeTest, BareDesktopTakesOnlyTheWheelAndTheTreeADoubleClickAsASecondLeftPress) {
    Add("a", 10, 10, 50, 50);
    EXPECT_FALSE(Move(300, 200));
    EXPECT_TRUE(root->RouteWheel(300, 200, MAKEWPARAM(0, WORD(-240))));
    EXPECT_TRUE(root->RouteWheel(20, 20, MAKEWPARAM(0, WORD(-250))));
    EXPECT_TRUE(root->RouteWheel(20, 20, MAKEWPARAM(0, 119)));
    EXPECT_FALSE(root->RouteButton(2, true, 20, 20, MK_RBUTTON));  // only the left button counts
    const std::tuple<UINT, int, int, bool> steps[] = {
        {WM_LBUTTONDOWN, 300, 200, false}, {WM_LBUTTONUP, 300, 200, false},  // bare desktop
        {WM_LBUTTONDOWN, 10, 10, true},    {WM_LBUTTONUP, 10, 10, true},
        {WM_LBUTTONDBLCLK, 59, 59, true},  {WM_LBUTTONUP, 59, 59, true},
        {WM_LBUTTONDBLCLK, 60, 20, false}, {WM_LBUTTONUP, 60, 20, false},
        {WM_RBUTTONDBLCLK, 20, 20, false}, {WM_MBUTTONDOWN, 20, 20, false},
    };
    for (auto [message, x, y, taken] : steps) {
        EXPECT_EQ(root->RouteButtonMessage(message, MK_LBUTTON, MAKELPARAM(x, y)), taken)
            << "message " << message << " at " << x << "," << y;
    }
    EXPECT_EQ(log, (Log{"a wheel -2", "a wheel 0", "a down 0,0", "a up 0,0", "a click 0,0",
                        "a down 49,49", "a up 49,49", "a click 49,49"}));
}

TEST_F(WindowTreeTest, CaptureHolderGetsEverythingUntilTheTreeOrAnotherWindowEndsTheCapture) {
    Probe* panel = Add("panel", 0, 0, 100, 100);
    Probe* button = Add("button", 200, 0, 50, 50);
    panel->drags = true;
    // The list view's own capture (its selection marquee) outlives every way
    // the tree lets go.
    const std::function<void()> lettingGo[] = {
        [&] {  // a press on the bare desktop released over the panel
            EXPECT_FALSE(Press(300, 20));
            EXPECT_FALSE(Release(50, 50));
        },
        [&] { root->SetMouseCapture(nullptr); },  // focus lost with no holder
        [&] { root->ReleaseMouseCapture(); },
    };
    for (const auto& letGo : lettingGo) {
        SetCapture(desktop.listView);
        letGo();
        EXPECT_EQ(GetCapture(), desktop.listView);
        ReleaseCapture();
    }

    // The holder hears the pointer wherever it is; a release whose press the
    // tree never had was the list view's and was heard by nobody.
    root->SetMouseCapture(panel);
    root->SetMouseCapture(button);
    root->SetMouseCapture(button);
    EXPECT_EQ(GetCapture(), desktop.listView);
    EXPECT_TRUE(Move(10, 10));
    EXPECT_TRUE(Release(5, 5));
    root->ReleaseMouseCapture();
    EXPECT_EQ(log, (Log{"panel lost", "button enter -190,10", "button move -190,10",
                        "button up -195,5", "button lost"}));
    EXPECT_EQ(GetCapture(), nullptr);

    // Another window taking the capture ends the drag and the press. The list
    // view tells the root when it loses the capture, as the desktop surface does.
    static RootWindow* tree;
    tree = root.get();
    DeliveringListView watched(desktop.listView);
    DeliveringListView::watch = [](UINT message, WPARAM) {
        if (message == WM_CAPTURECHANGED)
            tree->CaptureLost();
    };
    HWND other = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 nullptr, nullptr);
    struct Case {
        int x, y;
        bool tracking;  // the list view had a capture of its own before the press
        bool taken;     // another window takes the capture before the release
        Log heard;
    };
    const Case cases[] = {
        {50, 50, false, true, {"panel down 50,50", "panel lost"}},
        {220, 20, true, true, {"button down 20,20"}},
        {50, 50, false, false,  // the panel's own release still clicks
         {"panel down 50,50", "panel up 50,50", "panel lost", "panel click 50,50"}},
    };
    for (const Case& c : cases) {
        log.clear();
        if (c.tracking)
            SetCapture(desktop.listView);
        EXPECT_TRUE(Press(c.x, c.y));
        if (c.taken)
            SetCapture(other);
        EXPECT_EQ(Release(c.x, c.y), !c.taken);
        root->ReleaseMouseCapture();
        EXPECT_EQ(GetCapture(), c.taken ? other : nullptr);  // not the tree's to let go
        EXPECT_EQ(log, c.heard);
        ReleaseCapture();
    }
    DestroyWindow(other);
    DeliveringListView::watch = nullptr;
}

TEST_F(WindowTreeTest, HidingTheHolderOrAnAncestorOfItEndsTheCapture) {
    // Which window hides: 0 the holder's parent, 1 the holder, 2 its child,
    // 3 its parent's sibling; and whether the capture ends.
    Probe* parent = Add("p", 100, 100, 100, 100);
    Probe* holder = Add("h", 10, 10, 50, 50, parent);
    Add("c", 5, 5, 10, 10, holder);
    Add("s", 0, 0, 50, 50);
    for (auto [hidden, ends] : {std::pair{0, true}, {1, true}, {2, false}, {3, false}}) {
        root->SetMouseCapture(holder);
        log.clear();
        windows[hidden]->Hide();
        EXPECT_EQ(root->CaptureWindow(), ends ? nullptr : holder) << hidden;
        EXPECT_EQ(GetCapture(), ends ? nullptr : desktop.listView) << hidden;
        EXPECT_EQ(log, ends ? Log{"h lost"} : Log{}) << hidden;
        root->ReleaseMouseCapture();
        windows[hidden]->Show();
    }
    // A holder destroyed while it holds the capture takes it along.
    auto loose = std::make_unique<Probe>("loose", 0, 0, 10, 10, root.get(), log);
    root->SetMouseCapture(loose.get());
    loose.reset();
    EXPECT_EQ(root->CaptureWindow(), nullptr);
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(WindowTreeTest, HoverPairsEntersWithLeavesAndOnlyAReleaseOverThePressedWindowClicks) {
    Add("a", 0, 0, 50, 50);
    Add("b", 100, 0, 50, 50);
    struct Step {
        char what;  // m: move, p: press, r: release
        int x, y;
    };
    const struct {
        std::vector<Step> steps;
        Log heard;
    } scripts[] = {
        {{{'m', 10, 10}, {'m', 11, 10}, {'m', 110, 10}},
         {"a enter 10,10", "a move 10,10", "a move 11,10", "a leave 10,10", "b enter 10,10",
          "b move 10,10"}},
        {{{'p', 10, 10}, {'r', 110, 10}}, {"a down 10,10", "b up 10,10"}},  // dragged off
        // Back onto the pressed window after a detour: the release still clicks.
        {{{'p', 10, 10}, {'m', 110, 10}, {'r', 20, 20}},
         {"a down 10,10", "b enter 10,10", "b move 10,10", "a up 20,20", "a click 20,20"}},
    };
    for (const auto& script : scripts) {
        SCOPED_TRACE(script.heard.front());
        log.clear();
        for (auto [what, x, y] : script.steps)
            what == 'm' ? Move(x, y) : what == 'p' ? Press(x, y) : Release(x, y);
        EXPECT_EQ(log, script.heard);
        root->ClearHoverWindow();
    }
}

TEST_F(WindowTreeTest, TimersReachTheirOwnWindowEvenWithOneIdAndForeignIdsPassOn) {
    Probe* a = Add("a", 0, 0, 10, 10);
    Probe* b = Add("b", 0, 0, 10, 10);
    using Timers = std::vector<std::pair<Probe*, int>>;
    struct Case {
        Timers set, killed, running;
    };
    const Case cases[] = {
        {{{a, 7}, {b, 7}}, {{b, 7}}, {{a, 7}}},
        {{{a, 7}, {b, 7}}, {{a, 7}}, {{b, 7}}},
        {{{a, 7}, {b, 7}, {b, 7}}, {}, {{a, 7}, {b, 7}}},
        {{{a, 7}, {a, 7}, {b, 8}}, {{a, 7}}, {{b, 8}}},  // set twice: one timer
    };
    auto heard = [&](std::pair<Probe*, int> t) {
        const std::string timer = t.first == a ? "a timer " : "b timer ";
        return std::count(log.begin(), log.end(), timer + std::to_string(t.second));
    };
    for (const Case& c : cases) {
        for (auto [window, id] : c.set)
            window->SetWindowTimer(id, 10);
        for (auto [window, id] : c.killed)
            window->KillWindowTimer(id);
        log.clear();
        // Each running timer twice: by then every other one had its turn too.
        EXPECT_TRUE(PumpTimersUntil([&] {
            return std::all_of(c.running.begin(), c.running.end(),
                               [&](auto t) { return heard(t) >= 2; });
        })) << "a timer that runs never fired";
        for (auto t : c.killed)
            EXPECT_EQ(heard(t), 0);
        for (Probe* window : {a, b}) {
            window->KillWindowTimer(7);
            window->KillWindowTimer(8);
        }
        PumpTimersUntil([] { return true; });
        EXPECT_FALSE(root->DispatchTimer(7));
    }

    // A window deleted with its timer still set never hears from it again.
    a->SetWindowTimer(9, 10000);
    EXPECT_TRUE(root->DispatchTimer(9));
    a->Hide();
    windows.erase(windows.begin());
    EXPECT_FALSE(root->DispatchTimer(9));
}

TEST_F(WindowTreeTest, MoveByInvalidatesTheOldAndTheNewPlace) {
    Probe* parent = Add("p", 20, 30, 200, 200);
    Probe* w = Add("w", 10, 10, 100, 50);
    Probe* nested = Add("n", 10, 10, 100, 50, parent);
    const struct {
        Probe* window;
        int dx, dy;
        RECT update;  // empty: none
    } moves[] = {{w, 0, 0, {}}, {w, 5, 0, {10, 10, 116, 61}}, {nested, -4, -6, {26, 34, 131, 91}}};
    for (const auto& move : moves) {
        ValidateRect(desktop.listView, nullptr);
        move.window->MoveBy(move.dx, move.dy);
        RECT update{};
        EXPECT_EQ(GetUpdateRect(desktop.listView, &update, FALSE), !IsRectEmpty(&move.update));
        EXPECT_TRUE(EqualRect(&update, &move.update))
            << move.dx << "," << move.dy << ": " << update.left << "," << update.top << " to "
            << update.right << "," << update.bottom;
    }
}

TEST_F(WindowTreeTest, ShowAndHideAreIdempotentAndShowingAgainGoesOnTop) {
    Probe* a = Add("a", 0, 0, 10, 10);
    Probe* b = Add("b", 0, 0, 10, 10);
    Add("c", 0, 0, 10, 10);
    // The windows as painted, bottom to top, then the one a press hits: the
    // first that holds the point.
    auto order = [&] {
        root->Invalidate();
        log.clear();
        root->PaintTree(0, 0, 400, 300);
        Log seen = log;
        log.clear();
        Press(5, 5);
        Release(5, 5);
        seen.push_back(log.empty() ? "" : log.front());
        return seen;
    };
    a->Show();
    EXPECT_EQ(order(), (Log{"a paint", "b paint", "c paint", "a down 5,5"}));
    b->Hide();
    b->Hide();
    EXPECT_EQ(order(), (Log{"a paint", "c paint", "a down 5,5"}));
    a->Hide();
    a->Show();
    b->Show();
    EXPECT_EQ(order(), (Log{"c paint", "a paint", "b paint", "c down 5,5"}));

    // The root has no parent to be linked into.
    root->Hide();
    EXPECT_TRUE(root->attached);
    EXPECT_EQ(order(), (Log{"c paint", "a paint", "b paint", "c down 5,5"}));
}

// Pages that worker threads hand over through the list view, whose thread
// pumps its messages as the desktop's does.
struct CountedPage {
    CountedPage(int sender, int index) : sender(sender), index(index) { ++made; }
    ~CountedPage() { ++gone; }
    int sender, index;
    static inline std::atomic<int> made{0}, gone{0};
};

struct Inbox : Window {
    using Window::Window;
    // Even pages go as DM_CONTENT of kind 0, odd ones as DM_DATA of kind 1.
    void OnContent(int kind, void* payload) override { Take(kind, payload); }
    void OnData(int kind, void* payload) override { Take(-kind, payload); }
    void Take(int kind, void* payload) {
        auto* page = static_cast<CountedPage*>(payload);
        wrongKind += kind != -(page->index % 2);
        // A page that comes twice is counted, not kept (and freed) twice.
        if (seen[page->sender][page->index]++ == 0)
            kept.emplace_back(page);
    }
    int seen[2][300] = {};
    int wrongKind = 0;
    std::vector<std::unique_ptr<CountedPage>> kept;
};

TEST_F(WindowTreeTest, PagesFromTwoSendersAreEachTakenOrReturnedExactlyOnce) {
    struct Case {
        int pages;                 // per sender
        int stallEvery, stallMs;   // the receiver stalls before every stallEvery-th message
        unsigned timeoutMs;
    };
    static Case receiving;
    static int received;
    DeliveringListView delivering(desktop.listView);
    DeliveringListView::watch = [](UINT message, WPARAM) {
        if ((message == DM_CONTENT || message == DM_DATA) && receiving.stallEvery &&
            ++received % receiving.stallEvery == 0)
            Sleep(receiving.stallMs);
    };
    // The second stalls past the senders' patience: sends time out before
    // the receiver gets to them, and it gets to them afterwards.
    for (Case c : {Case{300, 0, 0, 1000}, Case{60, 3, 40, 10}}) {
        receiving = c;
        received = 0;
        CountedPage::made = CountedPage::gone = 0;
        Inbox inbox(0, 0, 1, 1, root.get());
        int returned[2][300] = {};
        std::atomic<bool> abandon{false};
        std::atomic<int> finished{0};
        std::vector<std::thread> senders;
        for (int s = 0; s < 2; ++s) {
            senders.emplace_back([&, s] {
                for (int i = 0; i < c.pages && !abandon; ++i) {
                    auto page = std::make_unique<CountedPage>(s, i);
                    if (SendWindowMessage(desktop.listView, i % 2 ? DM_DATA : DM_CONTENT, i % 2,
                                          &inbox, page.get(), c.timeoutMs))
                        page.release();
                    else
                        ++returned[s][i];
                }
                ++finished;
            });
        }
        abandon = !PumpUntil([&] { return finished == 2; }, 30000);
        for (std::thread& sender : senders)
            sender.join();
        PumpMessages();  // what the list view got to only after its sender gave up
        ASSERT_FALSE(abandon) << "the senders did not finish within 30 seconds";

        int wrong = 0;
        for (int s = 0; s < 2; ++s) {
            for (int i = 0; i < c.pages; ++i)
                wrong += inbox.seen[s][i] + returned[s][i] != 1;
        }
        EXPECT_EQ(wrong, 0) << "pages taken twice, or neither taken nor returned";
        EXPECT_EQ(inbox.wrongKind, 0);
        inbox.kept.clear();
        EXPECT_EQ(CountedPage::made, CountedPage::gone);
    }
    DeliveringListView::watch = nullptr;
}

TEST_F(WindowTreeTest, RetainedLayersRedrawOnlyWhatWasInvalidated) {
    auto paint = [&] {
        log.clear();
        Repaint();
    };
    Probe* panel = Add("p", 100, 50, 200, 150);
    Probe* first = Add("a", 10, 10, 10, 10, panel);
    Add("b", 190, 140, 10, 10, panel)->fill = 0xFF00FF00u;  // flush with the corner
    Add("q", 0, 200, 50, 50);
    paint();
    EXPECT_EQ(log, (Log{"p paint", "a paint", "b paint", "q paint"}));
    ASSERT_TRUE(root->LayerOf(panel));
    EXPECT_TRUE(canvas->transformStack.empty());  // each window's translation undone

    // One child: it and what lies beneath it, nothing beside it.
    first->fill = 0xFF0000FFu;
    first->Invalidate();
    paint();
    EXPECT_EQ(log, (Log{"p paint", "a paint"}));
    // b comes from the layer, not repainted; what is clear in the layer lets
    // the desktop show, and so does the first pixel past both edges.
    ExpectPixels({{110, 60, 0x0000FFu}, {119, 69, 0x0000FFu}, {290, 190, 0x00FF00u},
                  {299, 199, 0x00FF00u}, {150, 100, 0x000000u}, {300, 200, 0x000000u}});

    // A window that invalidates itself while it paints (an animation's next
    // step) is painted again at the next paint.
    int steps = 0;
    first->onPaint = [&] {
        if (steps++ == 0)
            first->Invalidate();
    };
    first->Invalidate();
    paint();
    paint();
    EXPECT_EQ(log, (Log{"p paint", "a paint"}));
    paint();
    EXPECT_TRUE(log.empty());
    first->onPaint = nullptr;

    // A part: only the windows that meet it are asked.
    panel->InvalidatePart(RECT{185, 135, 200, 150});
    paint();
    EXPECT_EQ(log, (Log{"p paint", "b paint"}));

    // A top-level window moves with its layer as it is.
    panel->MoveBy(-100, 20);
    paint();
    EXPECT_TRUE(log.empty());
    ExpectPixels({{10, 80, 0x0000FFu}, {199, 219, 0x00FF00u}, {110, 60, 0x000000u}});

    // A display change marks everything; hiding lets the layer go.
    root->Invalidate();
    paint();
    EXPECT_EQ(log, (Log{"p paint", "a paint", "b paint", "q paint"}));
    panel->Hide();
    EXPECT_EQ(root->LayerOf(panel), nullptr);
    paint();
    EXPECT_TRUE(log.empty());
    ExpectPixels({{10, 80, 0x000000u}, {5, 205, 0xFF0000u}});  // q still copied from its layer

    // An unbalanced pop leaves the identity.
    canvas->PopTranslation();
    canvas->FillRect(1, 1, 2, 2, 0xFFFFFF00u);
    EXPECT_EQ(Pixel(2, 2), 0xFFFF00u);
}

TEST_F(WindowTreeTest, AtAScaleTheRootAloneTurnsTheTreesPixelsIntoTheListViewsAndBack) {
    root->Fit(400, 300, 1.5f);
    EXPECT_EQ(root->width, 266);  // 400 / 1.5, rounded down: the tree lies wholly inside
    EXPECT_EQ(root->height, 200);
    // At (150, 75) of the list view, 150 x 90 of its pixels.
    Probe* panel = Add("p", 100, 50, 100, 60);

    // Pointer messages in list view pixels, on both sides of each edge.
    const struct {
        int x, y;
        const char* heard;  // "": nothing
    } points[] = {
        {150, 75, "p move 0,0"},  {149, 75, ""},  {150, 74, ""},  {299, 164, "p move 99,59"},
        {300, 164, ""},           {299, 165, ""}, {151, 76, "p move 0,0"},  {152, 77, "p move 1,1"},
    };
    for (const auto& point : points) {
        log.clear();
        Move(point.x, point.y);
        root->ClearHoverWindow();
        EXPECT_EQ(log.empty() ? "" : log.back(), point.heard) << point.x << "," << point.y;
    }
    log.clear();
    EXPECT_TRUE(Press(299, 164));
    EXPECT_TRUE(Release(299, 164));
    EXPECT_TRUE(root->RouteWheel(150, 75, MAKEWPARAM(0, WORD(-120))));
    EXPECT_EQ(log, (Log{"p down 99,59", "p up 99,59", "p click 99,59", "p wheel -1"}));

    // Painted at the scale: the 10 x 10 square is 15 x 15 of the list view's.
    Repaint();
    ASSERT_TRUE(root->LayerOf(panel));
    EXPECT_EQ(root->LayerOf(panel)->width(), 150);
    EXPECT_EQ(root->LayerOf(panel)->height(), 90);
    ExpectPixels({{150, 75, 0xFF0000u}, {164, 89, 0xFF0000u}, {165, 89, 0x000000u},
                  {164, 90, 0x000000u}, {149, 75, 0x000000u}});

    // A part invalidated covers its scaled place, and little more.
    ValidateRect(desktop.listView, nullptr);
    panel->InvalidatePart(RECT{10, 10, 21, 20});
    RECT update{};
    ASSERT_TRUE(GetUpdateRect(desktop.listView, &update, FALSE));
    const LONG edges[] = {update.left, update.top, update.right, update.bottom};
    const LONG placed[] = {164, 89, 183, 106};  // (165, 90) to (181.5, 105), rounded outwards
    for (int i = 0; i < 4; ++i)
        EXPECT_LE(std::abs(edges[i] - placed[i]), 1) << "edge " << i << ": " << edges[i];

    // Another scale keeps the panel where it was on the list view and
    // inside it, and has it drawn again at the new size.
    log.clear();
    root->Fit(400, 300, 2.0f);
    EXPECT_LE(std::abs(panel->x * 2 - 150), 2);
    EXPECT_LE(std::abs(panel->y * 2 - 75), 2);
    root->PaintTree(0, 0, 400, 300);
    EXPECT_EQ(log, (Log{"p paint"}));
    EXPECT_EQ(root->LayerOf(panel)->width(), 200);
    EXPECT_EQ(Pixel(panel->x * 2 + 19, panel->y * 2 + 19), 0xFF0000u);
    EXPECT_EQ(Pixel(panel->x * 2 + 20, panel->y * 2 + 19), 0x000000u);
    panel->MoveBy(150, 0);
    root->Fit(300, 300, 2.0f);  // narrower: kept inside
    EXPECT_EQ(panel->x, 150 - 100);
    root->Fit(400, 300, 1.0f);
    EXPECT_EQ(root->width, 400);
}

}  // namespace
