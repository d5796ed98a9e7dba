// The window tree: routing order, capture, hover, clicks, timers,
// invalidation and painting, on a real surface window.
#include "TestTree.h"

#include <memory>
#include <string>
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
    }
    void OnTimer(int id) override { log_.push_back(name_ + " timer " + std::to_string(id)); }
    void OnClick(MouseEvent& e) override { Note("click", e); }
    void OnMouseEnter(MouseEvent& e) override { Note("enter", e); }
    void OnMouseLeave(MouseEvent& e) override { Note("leave", e); }
    void OnMouseWheel(MouseEvent& e) override {
        log_.push_back(name_ + " wheel " + std::to_string(e.wheel));
    }
    void OnMouseDown(MouseEvent& e) override { Note("down", e); }
    void OnMouseUp(MouseEvent& e) override { Note("up", e); }
    void OnMouseMove(MouseEvent& e) override { Note("move", e); }
    void OnCaptureLost() override { log_.push_back(name_ + " lost"); }

    gdip::ARGB fill = 0xFFFF0000u;

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

    std::vector<std::unique_ptr<Probe>> windows;
    Log log;
};

TEST_F(WindowTreeTest, OverlappingSiblingsPaintLaterOnTopButTheEarlierTakesInput) {
    Add("a", 10, 10, 100, 100);
    Add("b", 50, 50, 100, 100);
    root->PaintTree(0, 0, 400, 300);
    EXPECT_EQ(log, (Log{"a paint", "b paint"}));

    log.clear();
    EXPECT_TRUE(Press(60, 60));
    EXPECT_TRUE(Release(60, 60));
    EXPECT_EQ(log, (Log{"a down 50,50", "a up 50,50", "a click 50,50"}));
}

TEST_F(WindowTreeTest, ChildrenBeforeParentAndOutsideTheParentStillReachable) {
    Probe* parent = Add("p", 100, 100, 50, 50);
    Add("c", -80, 0, 20, 20, parent);
    Add("inner", 10, 10, 10, 10, parent);

    EXPECT_TRUE(Press(25, 105));
    EXPECT_TRUE(Press(115, 115));
    EXPECT_TRUE(Press(140, 140));
    EXPECT_EQ(log, (Log{"c down 5,5", "inner down 5,5", "p down 40,40"}));
}

TEST_F(WindowTreeTest, BareDesktopTakesWheelButNotButtonsOrMoves) {
    Add("a", 10, 10, 50, 50);
    EXPECT_FALSE(Press(300, 200));
    EXPECT_FALSE(Release(300, 200));
    EXPECT_FALSE(Move(300, 200));
    EXPECT_TRUE(root->RouteWheel(300, 200, MAKEWPARAM(0, WORD(-240))));
    EXPECT_TRUE(log.empty());

    EXPECT_TRUE(root->RouteWheel(20, 20, MAKEWPARAM(0, WORD(-250))));
    EXPECT_TRUE(root->RouteWheel(20, 20, MAKEWPARAM(0, 119)));
    EXPECT_EQ(log, (Log{"a wheel -2", "a wheel 0"}));
    // Only the left button is routed.
    EXPECT_FALSE(root->RouteButton(2, true, 20, 20, MK_RBUTTON));
}

TEST_F(WindowTreeTest, CaptureHolderGetsEverythingWhereverThePointerIs) {
    Probe* a = Add("a", 100, 100, 50, 50);
    Probe* b = Add("b", 0, 0, 50, 50);
    root->SetMouseCapture(a);
    EXPECT_EQ(GetCapture(), desktop.listView);

    EXPECT_TRUE(Move(10, 10));
    EXPECT_TRUE(Release(5, 5));
    EXPECT_EQ(log, (Log{"a enter -90,-90", "a move -90,-90", "a up -95,-95"}));

    log.clear();
    root->SetMouseCapture(b);
    root->SetMouseCapture(b);
    root->ReleaseMouseCapture();
    EXPECT_EQ(log, (Log{"a lost", "b lost"}));
    EXPECT_EQ(root->CaptureWindow(), nullptr);
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(WindowTreeTest, PressDraggedOffAndReleasedElsewhereClicksNothing) {
    Add("a", 0, 0, 50, 50);
    Add("b", 100, 0, 50, 50);
    Press(10, 10);
    Release(110, 10);
    EXPECT_EQ(log, (Log{"a down 10,10", "b up 10,10"}));

    // Back onto the pressed window after a detour: the release still clicks.
    log.clear();
    Press(10, 10);
    Move(110, 10);
    Release(20, 20);
    EXPECT_EQ(log.back(), "a click 20,20");
}

TEST_F(WindowTreeTest, HoverEntersAndLeavesInPairs) {
    Add("a", 0, 0, 50, 50);
    Add("b", 100, 0, 50, 50);
    Move(10, 10);
    Move(11, 10);
    Move(110, 10);
    EXPECT_EQ(log, (Log{"a enter 10,10", "a move 10,10", "a move 11,10", "a leave 10,10",
                        "b enter 10,10", "b move 10,10"}));
    EXPECT_EQ(root->HoverWindow(), windows[1].get());
}

TEST_F(WindowTreeTest, AReplacedRegionIsTheHitShape) {
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
    } round("r", 0, 0, 40, 40, root.get(), log);
    round.UpdateRegion();
    round.Show();
    EXPECT_FALSE(Press(2, 2));
    EXPECT_TRUE(Press(20, 20));
    EXPECT_EQ(log, (Log{"r down 20,20"}));
    round.Hide();
}

TEST_F(WindowTreeTest, MouseTransparentWindowPassesThroughButItsChildrenTakeInput) {
    Probe* glass = Add("glass", 0, 0, 100, 100);
    glass->mouseTransparent = true;
    Add("knob", 10, 10, 10, 10, glass);
    EXPECT_FALSE(Press(50, 50));
    EXPECT_TRUE(Press(15, 15));
    EXPECT_EQ(log, (Log{"knob down 5,5"}));
}

TEST_F(WindowTreeTest, TimersReachTheirWindowAndForeignIdsPassOn) {
    Probe* a = Add("a", 0, 0, 10, 10);
    Probe* b = Add("b", 0, 0, 10, 10);
    a->SetWindowTimer(7, 10000);
    EXPECT_TRUE(root->DispatchTimer(7));
    EXPECT_FALSE(root->DispatchTimer(8));
    b->SetWindowTimer(7, 10000);
    EXPECT_TRUE(root->DispatchTimer(7));
    EXPECT_EQ(log, (Log{"a timer 7", "b timer 7"}));

    b->KillWindowTimer(7);
    EXPECT_FALSE(root->DispatchTimer(7));

    // A window deleted with its timer still set never hears from it again.
    a->SetWindowTimer(9, 10000);
    a->Hide();
    windows.erase(windows.begin());
    EXPECT_FALSE(root->DispatchTimer(9));
}

TEST_F(WindowTreeTest, MoveByInvalidatesTheOldAndTheNewPlace) {
    Probe* parent = Add("p", 20, 30, 200, 200);
    Probe* w = Add("w", 10, 10, 100, 50, root.get());
    Probe* nested = Add("n", 10, 10, 100, 50, parent);
    RECT update{};

    ValidateRect(desktop.listView, nullptr);
    w->MoveBy(0, 0);
    EXPECT_FALSE(GetUpdateRect(desktop.listView, &update, FALSE));

    w->MoveBy(5, 0);
    ASSERT_TRUE(GetUpdateRect(desktop.listView, &update, FALSE));
    EXPECT_EQ(update.left, 10);
    EXPECT_EQ(update.top, 10);
    EXPECT_EQ(update.right, 116);
    EXPECT_EQ(update.bottom, 61);
    EXPECT_EQ(w->x, 15);

    ValidateRect(desktop.listView, nullptr);
    nested->MoveBy(-4, -6);
    ASSERT_TRUE(GetUpdateRect(desktop.listView, &update, FALSE));
    EXPECT_EQ(update.left, 26);
    EXPECT_EQ(update.top, 34);
    EXPECT_EQ(update.right, 131);
    EXPECT_EQ(update.bottom, 91);
}

TEST_F(WindowTreeTest, ShowAndHideAreIdempotentAndShowingAgainGoesToTheEnd) {
    Probe* a = Add("a", 0, 0, 10, 10);
    Probe* b = Add("b", 0, 0, 10, 10);
    Probe* c = Add("c", 0, 0, 10, 10);
    a->Show();
    EXPECT_EQ(root->firstChild, a);

    b->Hide();
    b->Hide();
    EXPECT_FALSE(b->attached);
    EXPECT_EQ(a->nextSibling, c);
    EXPECT_EQ(c->prevSibling, a);

    a->Hide();
    EXPECT_EQ(root->firstChild, c);
    EXPECT_EQ(root->lastChild, c);
    a->Show();
    b->Show();
    EXPECT_EQ(root->firstChild, c);
    EXPECT_EQ(c->nextSibling, a);
    EXPECT_EQ(a->nextSibling, b);
    EXPECT_EQ(root->lastChild, b);
    EXPECT_EQ(b->nextSibling, nullptr);

    // The root has no parent to be linked into.
    root->Hide();
    EXPECT_TRUE(root->attached);
}

TEST_F(WindowTreeTest, PaintingTranslatesEachWindowToItsOriginAndRestoresTheTransform) {
    Probe* parent = Add("p", 100, 50, 80, 80);
    parent->fill = 0xFF0000FFu;
    Add("c", 20, 30, 20, 20, parent)->fill = 0xFF00FF00u;
    root->PaintTree(0, 0, 400, 300);

    HDC dc = canvas->memoryDC();
    EXPECT_EQ(PixelAt(dc, 105, 55), 0x0000FFu);
    EXPECT_EQ(PixelAt(dc, 125, 85), 0x00FF00u);
    EXPECT_TRUE(canvas->transformStack.empty());

    // An unbalanced pop leaves the identity.
    canvas->PopTranslation();
    canvas->FillRect(1, 1, 2, 2, 0xFFFFFF00u);
    EXPECT_EQ(PixelAt(dc, 2, 2), 0xFFFF00u);
}

}  // namespace
