// The desktop surface in one process: attach and detach on a real list view,
// the subclass procedure's message table, paint composition and the legacy
// wallpaper.
#include "TestDesktop.h"
#include "base/WidgetKey.h"
#include "gfx/Canvas.h"
#include "ui/Delivery.h"
#include "widget/Widget.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <utility>
#include <vector>

namespace {

// A pixel of the panel's background picture as 0xRRGGBB (GDI+ must be running).
unsigned PanelPixel(int x, int y) {
    gdip::ImagePtr picture = gdip::LoadPicture(L"images/fon_1.png");
    gdip::ARGB colour = 0;
    if (picture)
        gdip::GdipBitmapGetPixel(static_cast<gdip::GpBitmap*>(picture.get()), x, y, &colour);
    return colour & 0xFFFFFF;
}

// A shown square child of the root that counts what reaches it, and throws
// from a press when told to.
struct Probe : Window {
    Probe(int at, int size, Window& root) : Window(at, at, size, size, &root) {
        UpdateRegion();
        Show();
    }
    ~Probe() override { Hide(); }
    void OnMouseMove(MouseEvent&) override { ++moves; }
    void OnMouseWheel(MouseEvent&) override { ++turns; }
    void OnMouseDown(MouseEvent&) override {
        if (throws)
            throw std::bad_alloc();
    }
    void OnTimer(int id) override { timers.push_back(id); }
    void OnCaptureLost() override { ++lost; }
    std::vector<int> timers;
    int moves = 0, turns = 0, lost = 0;
    bool throws = false;
};

class DesktopSurfaceTest : public testing::Test {
protected:
    void SetUp() override {
        // The panel saves its place when it goes: every test starts from none.
        WidgetKey::Erase();
        AttachNew();
    }
    void TearDown() override { panel.reset(); }

    // Takes out the panel there is, then embeds a new one: in our desktop for
    // our host, or in another list view with no host.
    void AttachNew(HWND other = nullptr) {
        panel.reset();
        panel = std::make_unique<EmbeddedPanel>(other ? other : desktop.listView,
                                                other ? nullptr : host.window);
        ASSERT_TRUE(panel->attached);
    }

    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return SendMessageW(desktop.listView, message, wParam, lParam);
    }
    // Paints the whole list view and answers a pixel of the back buffer.
    unsigned Composed(int x, int y) {
        InvalidateRect(panel->instance.listView, nullptr, TRUE);
        UpdateWindow(panel->instance.listView);
        return PixelAt(embedding().canvas.memoryDC(), x, y);
    }
    // Paints the whole list view and answers a pixel of what reached the window.
    unsigned Shown(int x, int y) {
        Composed(x, y);
        HDC dc = GetDC(desktop.listView);
        unsigned pixel = PixelAt(dc, x, y);
        ReleaseDC(desktop.listView, dc);
        return pixel;
    }
    Embedding& embedding() const { return panel->embedding(); }
    Widget& widget() const { return *embedding().widget; }
    std::pair<int, int> Place() const { return {widget().x, widget().y}; }  // to compare
    void MoveTo(int x, int y) { widget().x = x, widget().y = y; }
    // Moves to a point, presses and lets go; nonzero if the list view saw the buttons.
    LRESULT Click(LPARAM at) {
        Send(WM_MOUSEMOVE, 0, at);
        return Send(WM_LBUTTONDOWN, MK_LBUTTON, at) | Send(WM_LBUTTONUP, 0, at);
    }

    TestDesktop desktop;
    RecordingHost host;
    std::unique_ptr<EmbeddedPanel> panel;
};

// Other software's subclass, installed above ours: it passes every message on,
// but hands each DM_CONTENT on twice, first stopping its sender when told to.
struct Foreign {
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != DM_CONTENT)
            return CallWindowProcW(previous, window, message, wParam, lParam);
        if (stopFirst)
            *stopFirst = true;
        CallWindowProcW(previous, window, message, wParam, lParam);
        return CallWindowProcW(previous, window, message, wParam, lParam);
    }
    static inline WNDPROC previous = nullptr;
    static inline std::atomic<bool>* stopFirst = nullptr;
};

TEST_F(DesktopSurfaceTest, DetachGivesEverythingBackAndLeavesOtherSubclassesChainedInAnyOrder) {
    panel.reset();
    HCURSOR cursor = LoadCursorW(nullptr, IDC_IBEAM);
    SetClassLongPtrW(desktop.listView, GCLP_HCURSOR, LONG_PTR(cursor));
    DWORD style = LVS_EX_DOUBLEBUFFER | LVS_EX_INFOTIP;
    Send(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, style);
    const LONG_PTR ownProc = GetWindowLongPtrW(desktop.listView, GWLP_WNDPROC);
    auto proc = [&] { return GetWindowLongPtrW(desktop.listView, GWLP_WNDPROC); };

    AttachNew();
    EXPECT_EQ(Send(HM_QUERY), 1);
    EXPECT_EQ(proc(), LONG_PTR(DesktopSubclassProc));
    EXPECT_EQ(GetClassLongPtrW(desktop.listView, GCLP_HCURSOR), 0);
    EXPECT_EQ(DWORD(Send(LVM_GETEXTENDEDLISTVIEWSTYLE)), DWORD(LVS_EX_INFOTIP));
    ASSERT_TRUE(widget().attached);
    EXPECT_EQ(Place(), std::make_pair(embedding().root.width - 390, 93));

    panel.reset();
    EXPECT_EQ(proc(), ownProc);
    EXPECT_EQ(GetClassLongPtrW(desktop.listView, GCLP_HCURSOR), LONG_PTR(cursor));
    EXPECT_EQ(DWORD(Send(LVM_GETEXTENDEDLISTVIEWSTYLE)), style);
    EXPECT_EQ(GetPropW(desktop.listView, L"instance"), nullptr);

    // Another subclass installed after ours and still there: we stay in its
    // chain, passing on.
    AttachNew();
    Foreign::previous =
        WNDPROC(SetWindowLongPtrW(desktop.listView, GWLP_WNDPROC, LONG_PTR(Foreign::Proc)));
    EXPECT_FALSE(Detach(&panel->instance));
    EXPECT_EQ(proc(), LONG_PTR(Foreign::Proc));
    EXPECT_EQ(panel->instance.embedding, nullptr);
    EXPECT_EQ(Send(HM_QUERY), 0);  // the list view's own answer
    // Once it has gone, our procedure comes out too.
    SetWindowLongPtrW(desktop.listView, GWLP_WNDPROC, LONG_PTR(Foreign::previous));
    EXPECT_TRUE(Detach(&panel->instance));
    EXPECT_EQ(proc(), ownProc);
    panel->attached = false;

    // One below ours removed itself, taking ours with it: nothing is put back.
    AttachNew();
    SetWindowLongPtrW(desktop.listView, GWLP_WNDPROC, ownProc);
    EXPECT_FALSE(Detach(&panel->instance));
    EXPECT_EQ(proc(), ownProc);
    panel.release();  // stays for the chain it believes it is in, as in the shell
}

TEST_F(DesktopSurfaceTest, ToggleHidesAndShowsThePanelAndPowerNoticesBecomeIdleEvents) {
    EventRecorder events;
    EXPECT_EQ(Send(DM_TOGGLE), 0);
    EXPECT_EQ(Send(DM_IS_VISIBLE), 0);
    const POINT at{widget().x, widget().y};
    EXPECT_EQ(Composed(at.x + 5, at.y + 100), kDesktopPixel);
    Send(DM_TOGGLE);
    EXPECT_EQ(Send(DM_IS_VISIBLE), 1);
    EXPECT_EQ(Composed(at.x + 5, at.y + 100), PanelPixel(5, 100));
    Send(WM_POWERBROADCAST, PBT_APMSUSPEND);
    Send(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC);
    Send(WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE);
    EXPECT_EQ(events.heard, (std::vector<int>{WidgetHidden, WidgetShown, IdleBegan, IdleEnded}));
}

TEST_F(DesktopSurfaceTest, HostHearsClosingANewWidgetStartsOpenAndGoesWithItsListView) {
    Send(DM_NETWORK_STATE, 1, 0);
    EXPECT_EQ(Send(DM_CLOSING), 0);
    PumpMessages();
    ASSERT_EQ(host.received.size(), 2u);
    EXPECT_EQ(host.received[0].message, DM_CLOSING);
    EXPECT_EQ(host.received[1].message, DM_NETWORK_STATE);
    EXPECT_EQ(host.received[1].wParam, 1u);
    EXPECT_TRUE(ClosingRequested());

    AttachNew();
    EXPECT_FALSE(ClosingRequested());

    static bool told;
    told = false;
    panel->instance.onDetached = [](DesktopInstance*) { told = true; };
    DestroyWindow(desktop.top);
    EXPECT_TRUE(told);
    EXPECT_EQ(panel->instance.embedding, nullptr);
}

// Receives results the way the panel will.
struct Mailbox : Window {
    using Window::Window;
    void OnContent(int kind, void* payload) override { got.push_back({kind, payload}); }
    void OnData(int kind, void* payload) override { got.push_back({-kind, payload}); }
    std::vector<std::pair<int, void*>> got;
};

TEST_F(DesktopSurfaceTest, ResultsReachTheirWindowOnceOnlyThroughRecordsWeSent) {
    int page = 0, data = 0;
    {
        // Goes before its root, as every window of the tree does.
        Mailbox box(0, 0, 1, 1, &embedding().root);
        EXPECT_TRUE(SendWindowMessage(desktop.listView, DM_CONTENT, 3, &box, &page));
        EXPECT_TRUE(SendWindowMessage(desktop.listView, DM_DATA, 2, &box, &data));

        // A record no sender of ours made, as another process could post: ignored.
        WindowMessage forged{&box, &page};
        EXPECT_EQ(Send(DM_CONTENT, 9, LPARAM(&forged)), 0);
        EXPECT_EQ(Send(DM_DATA, 9, LPARAM(0x1234)), 0);
        EXPECT_EQ(box.got, (std::vector<std::pair<int, void*>>{{3, &page}, {-2, &data}}));

        // Each record is taken once, and never once its sender stopped.
        Foreign::previous =
            WNDPROC(SetWindowLongPtrW(desktop.listView, GWLP_WNDPROC, LONG_PTR(Foreign::Proc)));
        const struct {
            const char* what;
            bool stoppedBefore, stoppedOnTheWay;
            bool taken;
        } cases[] = {
            {"from a running sender", false, false, true},
            {"from a stopped sender", true, false, false},
            {"stopped while on its way", false, true, false},
        };
        for (const auto& c : cases) {
            std::atomic<bool> stop{c.stoppedBefore};
            Foreign::stopFirst = c.stoppedOnTheWay ? &stop : nullptr;
            box.got.clear();
            EXPECT_EQ(SendWindowMessage(desktop.listView, DM_CONTENT, 0, &box, &page, 1000, &stop),
                      c.taken)
                << c.what;
            EXPECT_EQ(box.got.size(), c.taken ? 1u : 0u) << c.what;
        }
        SetWindowLongPtrW(desktop.listView, GWLP_WNDPROC, LONG_PTR(Foreign::previous));
        Foreign::stopFirst = nullptr;
    }

    // With no widget attached nothing takes it and the payload stays ours.
    panel.reset();
    EXPECT_FALSE(SendWindowMessage(desktop.listView, DM_CONTENT, 3, nullptr, &page));
}

// The panel lies between the background and the icons: in paint, and for
// presses, which go to an icon over the panel and elsewhere to the panel.
TEST_F(DesktopSurfaceTest, PanelIsComposedAndPressedBetweenBackgroundAndIcons) {
    const POINT at{widget().x, widget().y};
    RECT iconRect = desktop.IconRect(desktop.AddIcon(at.x + 120, at.y + 150));

    EXPECT_EQ(Composed(at.x - 20, at.y + 10), kDesktopPixel);
    for (POINT p : {POINT{5, 100}, POINT{160, 30}, POINT{300, 450}})
        EXPECT_EQ(Composed(at.x + p.x, at.y + p.y), PanelPixel(p.x, p.y));

    int iconPixels = 0;
    for (int y = iconRect.top; y < iconRect.bottom; ++y)
        for (int x = iconRect.left; x < iconRect.right; ++x)
            iconPixels += PixelAt(embedding().canvas.memoryDC(), x, y) !=
                          PanelPixel(x - at.x, y - at.y);
    EXPECT_GT(iconPixels, 100);  // the icon covers the panel
    // The composed buffer is what reaches the window.
    EXPECT_EQ(Shown(at.x + 160, at.y + 30), PanelPixel(160, 30));

    // Without a canvas to compose with, the list view paints the desktop.
    embedding().canvas.graphics.native.reset();
    EXPECT_EQ(Shown(at.x + 160, at.y + 30), kDesktopPixel);
    EXPECT_EQ(GetUpdateRect(desktop.listView, nullptr, FALSE), FALSE);

    // An icon over the Club tab, whose click would switch tabs.
    int icon = desktop.AddIcon(at.x + 110, at.y + 50);
    RECT r = desktop.IconRect(icon);
    Click(MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
    PumpMessages();
    EXPECT_EQ(desktop.SelectedItem(), icon);
    EXPECT_EQ(widget().currentTab, 0);

    EXPECT_EQ(Click(MAKELPARAM(at.x + 100, at.y + 38)), 0);
    EXPECT_EQ(widget().currentTab, 1);

    EventRecorder events;
    Click(MAKELPARAM(at.x + 295, at.y + 20));  // the close button
    EXPECT_EQ(Send(DM_IS_VISIBLE), 0);
    EXPECT_EQ(events.heard, (std::vector<int>{WidgetHidden}));
}

TEST_F(DesktopSurfaceTest, MovesTimersAndFocusReachTheWindowUnderneathAndItsThrowsStayInside) {
    Probe holder(3, 20, embedding().root);
    for (int x : {5, 5, 6})  // the same point twice: the repeat is dropped
        Send(WM_MOUSEMOVE, 0, MAKELPARAM(x, 6));
    EXPECT_EQ(holder.moves, 2);

    holder.SetWindowTimer(4242, 60000);
    EXPECT_EQ(Send(WM_TIMER, 4242), 0);
    EXPECT_EQ(holder.timers, (std::vector<int>{4242}));

    embedding().root.SetMouseCapture(&holder);
    Send(WM_KILLFOCUS);
    EXPECT_EQ(holder.lost, 1);
    embedding().root.SetMouseCapture(&holder);
    Send(WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0));
    EXPECT_EQ(embedding().root.CaptureWindow(), &holder);
    Send(WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0));
    EXPECT_EQ(holder.lost, 2);
    EXPECT_EQ(embedding().root.CaptureWindow(), nullptr);

    holder.throws = true;
    Send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(6, 6));  // no exception leaves the procedure
    Send(WM_LBUTTONUP, 0, MAKELPARAM(6, 6));
    EXPECT_EQ(Send(HM_QUERY), 1);
}

// The desktop may span screens left of, above or beyond the primary one.
TEST_F(DesktopSurfaceTest, AListViewWiderThanTheScreenIsComposedWholeAndWheelsFindThePanel) {
    panel.reset();
    WidgetKey::Erase();  // the place the detached panel saved
    const int screen = GetSystemMetrics(SM_CXSCREEN);
    TestDesktop wide(2 * screen, 600);
    SetWindowPos(wide.top, nullptr, -screen, -40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    AttachNew(wide.listView);
    const POINT at{widget().x, widget().y};
    ASSERT_GT(at.x, screen);  // on the part beyond the primary screen's width
    EXPECT_EQ(Composed(at.x + 160, at.y + 30), PanelPixel(160, 30));

    Probe probe(10, 40, embedding().root);
    for (POINT client : {POINT{10, 10}, POINT{49, 49}, POINT{50, 30}, POINT{30, 50}}) {
        POINT onScreen = client;
        ClientToScreen(wide.listView, &onScreen);
        SendMessageW(wide.listView, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA),
                     MAKELPARAM(onScreen.x, onScreen.y));
    }
    EXPECT_EQ(probe.turns, 2);  // the last pixel inside, not the first outside
}

// Screens come and go under the list view: the panel keeps its relative
// place and stays wholly inside, on each axis on its own.
TEST_F(DesktopSurfaceTest, DisplayChangesAndResizesKeepThePanelInPlaceOnEachAxis) {
    Window& root = embedding().root;
    // Twice as wide and twice as tall: both axes scale, each by its own.
    root.width /= 2;
    root.height /= 2;
    MoveTo(100, 40);
    Send(WM_DISPLAYCHANGE, 32, MAKELPARAM(root.width * 2, root.height * 2));
    EXPECT_EQ(root.width, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(root.height, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(Place(), std::make_pair(200, 80));
    // A root of no size scales nothing (and divides by nothing).
    root.width = root.height = 0;
    Send(WM_DISPLAYCHANGE, 32, 0);
    EXPECT_EQ(Place(), std::make_pair(200, 80));

    RECT client{};
    GetClientRect(desktop.listView, &client);
    constexpr int kWidth = 2000, kHeight = 1200;  // beyond any test screen: screens add up
    struct Case {
        int x, y, width, height;  // the panel's place, then the new client size
        int expectX, expectY;
    } cases[] = {
        {100, 40, kWidth, kHeight / 2, 100, 20},           // the height alone
        {200, 40, kWidth / 2, kHeight / 2, 100, 20},       // both
        {kWidth - 318, 0, kWidth / 2, kHeight, 682, 0},    // kept inside on the right
        {1364, 732, kWidth / 2, kHeight, 682, 732},        // exactly on both edges: stays
        {0, kHeight - 468, kWidth, 300, 0, 0},             // smaller than the panel
    };
    for (const Case& c : cases) {
        SetWindowPos(desktop.listView, nullptr, 0, 0, kWidth, kHeight, SWP_NOZORDER);
        MoveTo(c.x, c.y);
        SetWindowPos(desktop.listView, nullptr, 0, 0, c.width, c.height, SWP_NOZORDER);
        EXPECT_EQ(std::make_pair(root.width, root.height), std::make_pair(c.width, c.height));
        EXPECT_EQ(Place(), std::make_pair(c.expectX, c.expectY))
            << c.x << "," << c.y << " in " << c.width << "x" << c.height;
    }
    SetWindowPos(desktop.listView, nullptr, 0, 0, client.right, client.bottom, SWP_NOZORDER);
}

void SetWallpaper(const wchar_t* file, const wchar_t* style, const wchar_t* tile) {
    for (auto [name, value] : {std::pair{L"WallpaperStyle", style}, {L"TileWallpaper", tile}})
        RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", name, REG_SZ, value, 4);
    SystemParametersInfoW(SPI_SETDESKWALLPAPER, 0, const_cast<wchar_t*>(file), 0);
}

// Legacy painting draws the wallpaper itself.
TEST_F(DesktopSurfaceTest, LegacyWallpaperNoneStretchedCentredTiledAndUnreadable) {
    COLORREF c = GetSysColor(COLOR_BACKGROUND);
    const unsigned background = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    int cx = GetSystemMetrics(SM_CXSCREEN) / 2, cy = GetSystemMetrics(SM_CYSCREEN) / 2;
    std::wstring path = ProgramFolder() + L"orvella_wallpaper_test.bmp", copy = path + L".bmp";
    WriteTestBitmap(path, 16, 16, 0x112233);
    CopyFileW(path.c_str(), copy.c_str(), FALSE);
    panel->instance.legacyPaint = true;

    SetWallpaper(L"", L"2", L"0");
    EXPECT_EQ(Composed(10, 10), background);
    SetWallpaper(path.c_str(), L"2", L"0");
    EXPECT_EQ(Composed(3, 3), 0x112233u);
    EXPECT_EQ(embedding().wallpaper.mode, WallpaperMode::Stretched);
    // A new path rebuilds the prepared picture; the style alone would not.
    SetWallpaper(copy.c_str(), L"0", L"0");
    EXPECT_EQ(Composed(3, 3), background);
    EXPECT_EQ(Composed(cx, cy), 0x112233u);
    SetWallpaper(path.c_str(), L"0", L"1");
    EXPECT_EQ(Composed(3, 3), 0x112233u);
    EXPECT_EQ(Composed(cx + 1, cy + 1), 0x112233u);
    EXPECT_EQ(embedding().wallpaper.mode, WallpaperMode::Tiled);
    SetWallpaper(L"C:\\no\\such\\wallpaper.bmp", L"2", L"0");
    EXPECT_EQ(Composed(3, 3), background);  // unreadable

    SetWallpaper(L"", L"0", L"0");
    DeleteFileW(path.c_str());
    DeleteFileW(copy.c_str());
}

}  // namespace
