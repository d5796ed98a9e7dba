// The panel drawn through its retained layers gives the pixels that drawing
// every window straight on the back buffer gives, after each change made the
// way a user makes it (a tab, a hover, a hint fading in, a scroll, the open
// city list): a part the layers failed to redraw would show as stale pixels.
// The two paths draw text through different GDI+ routes, so pixels may differ
// by antialiasing; a stale or missing element differs by far more. So at
// 100 %, 150 % and 200 %: at a scale the layers, the kept lines and the
// scene's copy are of the screen's pixels, and a part they place a pixel
// off shows as well.
#include "base/WidgetKey.h"
#include "TestDesktop.h"
#include "widget/Widget.h"
#include "widget/Worker.h"
#include "ui/Delivery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

// The composed pixels of a rectangle of a device context, as 0xRRGGBB.
struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned> pixels;
    unsigned at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

Picture Grab(HDC dc, const RECT& area) {
    Picture picture{area.right - area.left, area.bottom - area.top, {}};
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(info.bmiHeader), picture.width, -picture.height, 1, 32, BI_RGB, 0, 0,
                      0, 0, 0};
    void* bits = nullptr;
    HDC copyDC = CreateCompatibleDC(dc);
    HBITMAP copy = CreateDIBSection(copyDC, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(copyDC, copy);
    BitBlt(copyDC, 0, 0, picture.width, picture.height, dc, area.left, area.top, SRCCOPY);
    GdiFlush();
    for (size_t i = 0; i < size_t(picture.width) * size_t(picture.height); ++i)
        picture.pixels.push_back(static_cast<unsigned*>(bits)[i] & 0xFFFFFF);
    SelectObject(copyDC, old);
    DeleteObject(copy);
    DeleteDC(copyDC);
    return picture;
}

int ChannelDistance(unsigned a, unsigned b) {
    int most = 0;
    for (int shift = 0; shift < 24; shift += 8)
        most = std::max(most, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
    return most;
}

// How many pixels of two pictures differ by more than `tolerance` in a
// channel from everything within `reach` pixels of their place in the other.
size_t Differing(const Picture& a, const Picture& b, int tolerance, int reach) {
    auto closeBy = [&](const Picture& in, int x, int y, unsigned pixel) {
        for (int ny = std::max(0, y - reach); ny <= std::min(in.height - 1, y + reach); ++ny)
            for (int nx = std::max(0, x - reach); nx <= std::min(in.width - 1, x + reach); ++nx)
                if (ChannelDistance(in.at(nx, ny), pixel) <= tolerance)
                    return true;
        return false;
    };
    size_t differing = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            differing += !closeBy(b, x, y, a.at(x, y)) || !closeBy(a, x, y, b.at(x, y));
    return differing;
}

// How many 8 x 8 blocks hold something in one picture and are plain in the
// other: "something" being two pixels further apart than `contrast` in a
// channel. Glyphs set a pixel apart still leave ink in their blocks; a line
// drawn or left out does not.
size_t BlocksInkedInOneOnly(const Picture& a, const Picture& b, int contrast) {
    constexpr int kBlock = 8;
    auto inked = [&](const Picture& in, int left, int top) {
        for (int y = top; y < std::min(in.height, top + kBlock); ++y)
            for (int x = left; x < std::min(in.width, left + kBlock); ++x)
                if (ChannelDistance(in.at(x, y), in.at(left, top)) > contrast)
                    return true;
        return false;
    };
    size_t differing = 0;
    for (int top = 0; top < a.height; top += kBlock)
        for (int left = 0; left < a.width; left += kBlock)
            differing += inked(a, left, top) != inked(b, left, top);
    return differing;
}

class RetainedDrawingTest : public testing::Test {
public:
    void SetUp() override {
        WidgetKey::Erase();
        // Every feed's first-run cache, as the install folder ships them.
        const std::wstring folder = ProgramFolder();
        CreateDirectoryW((folder + L"feeds").c_str(), nullptr);
        for (const wchar_t* name : {L"settings.json", L"rates.json", L"news.json",
                                    L"friday.json", L"exclusive.json", L"maps.json"})
            CopyFileW((folder + L"..\\dist\\feeds\\" + name).c_str(),
                      (folder + L"feeds\\" + name).c_str(), FALSE);
        ASSERT_NO_FATAL_FAILURE(Embed());
        // The scale changes as it would under a running panel.
        if (scale != 1)
            embedded->embedding().FitToDisplay(unsigned(96 * scale));
        ASSERT_EQ(root->scale(), scale);
        UpdateWindow(desktop.listView);
    }
    void TearDown() override {
        embedded.reset();
        WidgetKey::Erase();
        // The panel's worker asks every build to stop as it goes; the tests
        // after this one build feeds of their own.
        SetClosingRequested(false);
    }
    // Embeds the panel, once its feeds' caches have arrived.
    void Embed() {
        embedded = std::make_unique<EmbeddedPanel>(desktop.listView, host.window);
        ASSERT_TRUE(embedded->attached);
        panel = embedded->embedding().widget.get();
        root = &embedded->embedding().root;
        ASSERT_TRUE(PumpUntil([&] { return embedded->embedding().worker->FeedsMade(); }, 10000))
            << "the caches never arrived";
    }

    // The panel's rectangle and what lies a little around it (popups), in
    // the list view's pixels.
    RECT Area() const {
        RECT area = root->ToSurface(RECT{panel->x - 20, panel->y - 40,
                                         panel->x + panel->width + 20,
                                         panel->y + panel->height + 20});
        RECT client{};
        GetClientRect(desktop.listView, &client);
        IntersectRect(&area, &area, &client);
        return area;
    }
    // A coordinate of the tree in the list view's pixels, in the middle of
    // its pixel there.
    int Device(int coordinate) const { return int((coordinate + 0.5f) * scale); }
    // The screen around the panel once what was asked for is painted and
    // the list view is painted over again.
    Picture Composed(bool retained) {
        UpdateWindow(desktop.listView);
        root->retained = retained;
        // The list view alone is invalidated: the layers keep what they hold.
        RECT area = Area();
        InvalidateRect(desktop.listView, &area, TRUE);
        UpdateWindow(desktop.listView);
        root->retained = true;
        return Grab(embedded->embedding().canvas.memoryDC(), area);
    }
    // Paints what the change asked for through the layers, then compares
    // what they hold with the layers drawn afresh (exactly: nothing stale)
    // and with every window drawn directly (the same picture, though under
    // Wine GDI+ draws text on the back buffer through GDI and on a layer
    // with its own rasteriser, which sets glyphs a little differently).
    void ExpectSameAsDirect(const char* state) {
        const Picture kept = Composed(true);
        root->Invalidate();
        const Picture fresh = Composed(true);
        const Picture direct = Composed(false);
        EXPECT_EQ(Differing(kept, fresh, 0, 0), 0u) << state;
        const size_t glyphs = Differing(fresh, direct, 64, 1);
        EXPECT_LT(glyphs, kept.pixels.size() / 25) << state << ": " << glyphs << " pixels";
        // Everything the direct drawing shows is there: the titles of a
        // page's articles left out leave some ninety blocks plain, glyphs set
        // differently a handful (under thirty where GDI sets a small bold
        // face as light as the regular one).
        const size_t blocks = BlocksInkedInOneOnly(fresh, direct, 40);
        EXPECT_LT(blocks, size_t(40 * scale * scale)) << state << ": " << blocks << " blocks";
    }
    // Every tab, and News scrolled and hovered, as the screen shows them.
    std::vector<Picture> EveryTab() {
        std::vector<Picture> shots;
        for (int tab : {1, 2, 3, 4, 5, 0}) {
            panel->OnCommand(Widget::SelectTabCommand, tab);
            EXPECT_TRUE(PumpUntil([&] { return !panel->pendingPage; }, 5000)) << "tab " << tab;
            shots.push_back(Composed(true));
        }
        Scroll(40);
        Move(panel->x + panel->navigator->x + 40, panel->y + panel->navigator->y + 150);
        shots.push_back(Composed(true));
        return shots;
    }
    // A wheel turn down, and up to ticks of the smooth scroll it starts.
    void Scroll(int ticks) {
        MouseEvent wheel{0, 0, -3};
        panel->navigator->OnMouseWheel(wheel);
        for (int tick = 0; tick < ticks && panel->navigator->pendingScroll != 0; ++tick) {
            panel->navigator->OnTimer(Navigator::kScrollTimer);
            UpdateWindow(desktop.listView);
        }
    }
    void Move(int x, int y) {
        SendMessageW(desktop.listView, WM_MOUSEMOVE, 0, MAKELPARAM(Device(x), Device(y)));
    }

    float scale = 1;  // of the screen, set before SetUp
    TestDesktop desktop;
    RecordingHost host;
    std::unique_ptr<EmbeddedPanel> embedded;
    Widget* panel = nullptr;
    RootWindow* root = nullptr;
};

class ScaledDrawingTest : public RetainedDrawingTest,
                          public testing::WithParamInterface<float> {
public:
    ScaledDrawingTest() { scale = GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Scales, ScaledDrawingTest, testing::Values(1.0f, 1.5f, 2.0f));

TEST_P(ScaledDrawingTest, EveryTabAndEveryChangeLooksAsDrawnDirectly) {
    ExpectSameAsDirect("start");
    for (int tab : {1, 3, 4, 5, 2, 0}) {
        panel->OnCommand(Widget::SelectTabCommand, tab);
        ExpectSameAsDirect(("tab " + std::to_string(tab)).c_str());
        // The card is of one colour under the viewer, at every scale: the
        // viewer keeps its lines on it.
        EXPECT_TRUE(panel->navigator->backdrop.has_value()) << tab;
    }

    // A smooth scroll, tick by tick, then the pointer over what came under it.
    Navigator& viewer = *panel->navigator;
    ASSERT_TRUE(viewer.scroller->attached);
    Scroll(6);
    ExpectSameAsDirect("scrolled part way");
    for (int tick = 0; tick < 40 && viewer.pendingScroll != 0; ++tick)
        viewer.OnTimer(Navigator::kScrollTimer);
    ExpectSameAsDirect("scrolled");
    for (int y = 100; y < 380 && !viewer.hoveredLink; y += 6)
        Move(panel->x + viewer.x + 40, panel->y + viewer.y + y);
    ASSERT_NE(viewer.hoveredLink, nullptr);
    ExpectSameAsDirect("link hovered");
    Move(panel->x + viewer.x + 270, panel->y + viewer.y + 5);
    ExpectSameAsDirect("link left");

    // The map: a marker's hint fading in, the city list open.
    panel->OnCommand(Widget::SelectTabCommand, Widget::kMapTab);
    ExpectSameAsDirect("map");
    auto onMarker = [&] { return viewer.hoveredButton && viewer.hoveredButton->hint; };
    for (int y = 40; y < 260 && !onMarker(); y += 3)
        for (int x = 10; x < 270 && !onMarker(); x += 3)
            Move(panel->x + viewer.x + x, panel->y + viewer.y + y);
    ASSERT_TRUE(onMarker());
    ExpectSameAsDirect("marker hovered");
    root->DispatchTimer(Navigator::kHintTimer);
    ASSERT_TRUE(viewer.hint->attached);
    root->DispatchTimer(PopupHint::kFadeTimer);
    ExpectSameAsDirect("hint fading in");
    while (viewer.hint->alpha < 1)
        root->DispatchTimer(PopupHint::kFadeTimer);
    ExpectSameAsDirect("hint shown");
    Move(2, 2);
    ExpectSameAsDirect("hint gone");

    Select& select = *panel->citySelect;
    const int selectX = panel->x + select.x + 20, selectY = panel->y + select.y + 8;
    Move(selectX, selectY);
    const LPARAM at = MAKELPARAM(Device(selectX), Device(selectY));
    SendMessageW(desktop.listView, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(desktop.listView, WM_LBUTTONUP, 0, at);
    ASSERT_TRUE(select.popup->attached);
    ExpectSameAsDirect("city list open");

    // New rates at a tick: only their label is redrawn, glyphs and all.
    panel->OnData(RatesContent, new RatesRecord{L"Курс ЦБ, 9.12", L"99,99", L"99,99"});
    ExpectSameAsDirect("new rates");
}

TEST_F(RetainedDrawingTest, PagesLaidOutInSlicesLookAsLaidOutWhole) {
    const std::vector<Picture> whole = EveryTab();
    embedded.reset();
    Widget::layoutSlice = {};  // a child of a page's block per message
    WidgetKey::Erase();
    ASSERT_NO_FATAL_FAILURE(Embed());
    const std::vector<Picture> sliced = EveryTab();
    Widget::layoutSlice = std::chrono::hours(1);
    for (size_t i = 0; i < whole.size(); ++i)
        EXPECT_EQ(Differing(whole[i], sliced[i], 0, 0), 0u) << "shot " << i;
}

}  // namespace
