// Benchmark: the panel embedded in the in-process stand-in desktop (a real
// SysListView32 with six icons) with every feed's cache present (the install
// folder's first-run caches). Measures, in one run:
//   - Load to the first composed paint;
//   - the desktop's synchronous repaint of the panel's rectangle and of the
//     whole screen, with the panel and, after Unload, without it, as ratios;
//   - one smooth-scroll tick, one hover change over a page link and one step
//     of a hint's fade, each with the paint it asks for (the tick's paint
//     and the hover's mouse move come through the message loop);
//   - switching cities on the map tab and a full repaint on the Club tab;
//   - the private bytes the panel adds, what an hour of ticks bringing
//     changed pages adds to them, and what stays after 20 more Load/Unload
//     cycles;
//   - Load and the private bytes with every cache at its budgets.
// Prints figures; asserts nothing.
#include "Bench.h"
#include "Documents.h"
#include "TestDesktop.h"
#include "base/Budgets.h"
#include "base/WidgetKey.h"
#include "content/ArticleStreams.h"
#include "content/SettingsStreams.h"
#include "host/DesktopSurface.h"
#include "host/HostBridge.h"
#include "layout/Scene.h"
#include "widget/Widget.h"
#include "widget/Worker.h"
#include "host/Embedding.h"

#include <cstdio>
#include <fstream>
#include <memory>

namespace {

double PrivateMegabytes() { return double(PrivateBytes()) / (1024.0 * 1024.0); }

// The first link of a scene that lies wholly in view, as a point in list view
// coordinates; false when there is none.
bool FirstVisibleLink(const SContainer& container, int originX, int originY, int top,
                      int bottom, POINT& at) {
    int x = originX + int(container.rect.x);
    int y = originY + int(container.rect.y);
    for (const auto& child : container.children) {
        if (child->kind == SceneContainer &&
            FirstVisibleLink(static_cast<const SContainer&>(*child), x, y, top, bottom, at))
            return true;
        if (child->kind != SceneLink)
            continue;
        const FloatRect& r = child->rect;
        int cy = y + int(r.y + r.height / 2);
        if (cy > top + 2 && cy < bottom - 2) {
            at = POINT{x + int(r.x) + 3, cy};
            return true;
        }
    }
    return false;
}

double Repaint(HWND listView, const RECT* area, int runs) {
    return MedianMs(runs, [&](int) {
        InvalidateRect(listView, area, TRUE);
        UpdateWindow(listView);
    });
}

}  // namespace

int main() {
    WidgetKey::Erase();
    // The feeds read their caches beside this program.
    const std::wstring folder = ProgramFolder();
    CreateDirectoryW((folder + L"feeds").c_str(), nullptr);
    for (const wchar_t* name : {L"settings.json", L"rates.json", L"news.json", L"friday.json",
                                L"exclusive.json", L"maps.json"})
        CopyFileW((folder + L"..\\dist\\feeds\\" + name).c_str(),
                  (folder + L"feeds\\" + name).c_str(), FALSE);
    TestDesktop desktop;
    for (int i = 0; i < 6; ++i)
        desktop.AddIcon(20, 20 + i * 100);
    RecordingHost host;
    PumpMessages();
    double before = PrivateMegabytes();

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    // Milliseconds from start to now.
    const auto sinceStart = [&] {
        QueryPerformanceCounter(&end);
        return double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
    };
    QueryPerformanceCounter(&start);
    if (!Load(host.window, L"")) {
        std::printf("the panel did not load\n");
        return 1;
    }
    UpdateWindow(desktop.listView);
    const double firstPaintMs = sinceStart();
    // The caches' pages come from the worker's thread.
    const auto cachesShown = [&] {
        PumpUntil([] { return Bridge().instance->embedding->worker->FeedsMade(); }, 20000);
        UpdateWindow(desktop.listView);
    };
    cachesShown();
    const double shownMs = sinceStart();
    // The pages laid out ahead between messages, so that no slice of that
    // lands in the figures below.
    PumpUntil([] { return Bridge().instance->embedding->widget->Prepared(); }, 20000);
    const double preparedMs = sinceStart();
    PumpMessages();
    double after = PrivateMegabytes();

    HWND listView = desktop.listView;
    Widget* panel = Bridge().instance->embedding->widget.get();
    // At the screen's scale the panel's pixels are the tree's, scaled.
    const RootWindow& tree = Bridge().instance->embedding->root;
    const float scale = tree.scale();
    const auto device = [scale](int coordinate) { return int((coordinate + 0.5f) * scale); };
    RECT area = tree.ToSurface(
        RECT{panel->x, panel->y, panel->x + panel->width, panel->y + panel->height});
    // The News tab, as the panel starts.
    panel->OnCommand(Widget::SelectTabCommand, 0);
    UpdateWindow(listView);
    double panelMs = Repaint(listView, &area, 200);
    double screenMs = Repaint(listView, nullptr, 50);

    // Smooth scrolling: ticks of 20 pixels down and up again.
    Navigator* viewer = panel->navigator.get();
    double scrollMs = MedianMs(100, [&](int run) {
        viewer->pendingScroll = run % 2 ? -100 : 100;
        viewer->OnTimer(Navigator::kScrollTimer);
        PumpMessages();
    });
    viewer->pendingScroll = 0;
    viewer->KillWindowTimer(Navigator::kScrollTimer);
    viewer->ShowPage(viewer->page);
    UpdateWindow(listView);

    // Hovering a page link and leaving it for bare page.
    double hoverMs = -1;
    POINT link{};
    if (viewer->page && viewer->page->scene &&
        FirstVisibleLink(*viewer->page->scene, panel->x + viewer->x, panel->y + viewer->y,
                         panel->y + viewer->y + int(viewer->page->headerHeight),
                         panel->y + viewer->y + viewer->height, link)) {
        const POINT bare{panel->x + viewer->x + viewer->width - 30, link.y};
        hoverMs = MedianMs(100, [&](int run) {
            POINT at = run % 2 ? bare : link;
            PostMessageW(listView, WM_MOUSEMOVE, 0, MAKELPARAM(device(at.x), device(at.y)));
            PumpMessages();
        });
    }
    SendMessageW(listView, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    UpdateWindow(listView);

    // One step of a hint's fade, over the middle of the page.
    PopupHint* hint = viewer->hint.get();
    hint->relativeRect = IntRect{100, 200, 40, 20};
    hint->text = L"Ярмарочный";
    hint->Show();
    UpdateWindow(listView);
    double fadeMs = MedianMs(100, [&](int run) {
        hint->alpha = 0.1f * float(run % 9);
        hint->OnTimer(PopupHint::kFadeTimer);
        UpdateWindow(listView);
    });
    hint->Hide();
    hint->text = nullptr;
    UpdateWindow(listView);

    panel->OnCommand(Widget::SelectTabCommand, 1);  // the Club tab
    UpdateWindow(listView);
    double clubMs = Repaint(listView, &area, 100);

    // Down to the second city and up again: a click on either arrow of the
    // selector, then the paint it asked for.
    panel->OnCommand(Widget::SelectTabCommand, Widget::kMapTab);
    UpdateWindow(listView);
    const int arrowX = panel->x + panel->citySelect->x + panel->citySelect->width - 5;
    const int arrowY = panel->y + panel->citySelect->y;
    double cityMs = MedianMs(100, [&](int run) {
        const LPARAM at = MAKELPARAM(device(arrowX), device(arrowY + (run % 2 ? 4 : 16)));
        SendMessageW(listView, WM_MOUSEMOVE, 0, at);
        SendMessageW(listView, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(listView, WM_LBUTTONUP, 0, at);
        UpdateWindow(listView);
    });
    const int shownCity = panel->cityModel.selected;

    const size_t cities = panel->cityModel.items.size();
    RECT client{};
    GetClientRect(listView, &client);
    const int screenWidth = client.right, screenHeight = client.bottom;
    Unload();

    // The same rectangles on the bare desktop.
    PumpMessages();
    double barePanelMs = Repaint(listView, &area, 200);
    double bareScreenMs = Repaint(listView, nullptr, 50);

    std::printf("display scale %.0f %%, the panel %ldx%ld pixels\n", scale * 100,
                area.right - area.left, area.bottom - area.top);
    std::printf("Load to the first composed paint of the panel: %.1f ms; to every cache's "
                "page delivered and painted: %.1f ms; every tab's page laid out ahead: %.1f ms\n",
                firstPaintMs, shownMs, preparedMs);
    std::printf("repaint of the panel's rectangle (News tab): %.2f ms with the panel, %.2f ms "
                "bare: %.2f times\n",
                panelMs, barePanelMs, panelMs / barePanelMs);
    std::printf("repaint of the whole screen %dx%d: %.2f ms with the panel, %.2f ms bare: "
                "%.2f times\n",
                screenWidth, screenHeight, screenMs, bareScreenMs, screenMs / bareScreenMs);
    std::printf("one smooth-scroll tick with its paint: median %.2f ms\n", scrollMs);
    if (hoverMs >= 0)
        std::printf("a hover change over a page link with its paint: median %.2f ms\n", hoverMs);
    else
        std::printf("a hover change: no link in view on the News page\n");
    std::printf("one step of a hint's fade with its paint: median %.2f ms\n", fadeMs);
    std::printf("full repaint of the panel on the Club tab: median %.2f ms\n", clubMs);
    std::printf("switching cities (arrow click to painted map, %zu cities, city %d at the end): "
                "median %.2f ms\n",
                cities, shownCity, cityMs);
    std::printf("private bytes added by the embedded panel, every tab's page laid out: %.1f MB (%.1f -> %.1f MB)\n",
                after - before, before, after);
    // Twenty more lives of the panel: what stays behind after each.
    const int cycles = 20;
    const auto cycle = [&] {
        for (int run = 0; run < cycles; ++run) {
            Load(host.window, L"");
            cachesShown();
            Unload();
        }
    };
    double afterFirst = PrivateMegabytes();
    cycle();
    double afterCycles = PrivateMegabytes();
    std::printf("private bytes over %d Load/Unload cycles: %.1f -> %.1f MB, %.1f kB a cycle\n",
                cycles, afterFirst, afterCycles, (afterCycles - afterFirst) * 1024.0 / cycles);
    // The same once the threads left to end by themselves have ended (the
    // picture decoder finishing a large picture, the worker's): what a
    // cycle keeps for good.
    const auto settledMegabytes = [] {
        Sleep(8000);
        PumpMessages();
        return PrivateMegabytes();
    };
    const double settledFirst = settledMegabytes();
    cycle();
    const double settledCycles = settledMegabytes();
    std::printf("the same, %d more, each side measured once the threads left to end have "
                "ended: %.1f -> %.1f MB, %.1f kB a cycle\n",
                cycles, settledFirst, settledCycles,
                (settledCycles - settledFirst) * 1024.0 / cycles);

    // An hour of ticks (120 of 30 s), each bringing a changed News page and
    // new rates to the News tab, painted: what stays behind is a leak.
    Load(host.window, L"");
    cachesShown();
    panel = Bridge().instance->embedding->widget.get();
    panel->OnCommand(Widget::SelectTabCommand, 0);
    double hourStart = 0;
    const int ticks = int(3600000 / kTickMs), settled = 10;
    for (int tick = 0; tick < ticks; ++tick) {
        if (tick == settled)
            hourStart = PrivateMegabytes();  // once every cache has settled
        NewsStream news(panel);
        RatesStream rates(panel);
        PumpMessages();
        UpdateWindow(listView);
    }
    const double hourEnd = PrivateMegabytes();
    Unload();
    std::printf("private bytes over an hour of ticks (%d, a changed News page and rates each): "
                "%.1f -> %.1f MB, %.1f kB a tick\n",
                ticks - settled, hourStart, hourEnd,
                (hourEnd - hourStart) * 1024.0 / (ticks - settled));

    // Every cache at its budgets: Load, then each tab shown once.
    const auto writeCache = [&](const wchar_t* name, const std::string& text) {
        std::ofstream((folder + L"feeds\\" + name).c_str(), std::ios::binary) << text;
    };
    const auto loadMs = [&] {
        QueryPerformanceCounter(&start);
        Load(host.window, L"");
        UpdateWindow(listView);
        return sinceStart();
    };
    writeCache(L"news.json", PaddedDocument(RepeatedDocument("news.json", kArticleItems),
                                            kFeedDocumentBytes));
    writeCache(L"friday.json", RepeatedDocument("friday.json", kArticleItems));
    writeCache(L"exclusive.json", RepeatedDocument("exclusive.json", kOfferItems));
    writeCache(L"maps.json", RepeatedDocument("maps.json", kMapCities, kCityOffices));
    const double fullBefore = PrivateMegabytes();
    const double fullLoadMs = loadMs();
    cachesShown();
    panel = Bridge().instance->embedding->widget.get();
    for (int tab = 0; tab < Widget::kTabs; ++tab) {
        panel->OnCommand(Widget::SelectTabCommand, tab);
        PumpMessages();
        UpdateWindow(listView);
    }
    const double fullAfter = PrivateMegabytes();
    Unload();
    // A News cache one byte past its budget is not read.
    writeCache(L"news.json", PaddedDocument(RepeatedDocument("news.json", kArticleItems),
                                            kFeedDocumentBytes + 1));
    const double pastLoadMs = loadMs();
    Unload();
    std::printf("Load to the first composed paint, every cache at its budgets: %.1f ms; "
                "with a News cache past its budget: %.1f ms\n",
                fullLoadMs, pastLoadMs);
    std::printf("private bytes added by the panel with every cache at its budgets, each tab "
                "shown: %.1f MB (%.1f -> %.1f MB)\n",
                fullAfter - fullBefore, fullBefore, fullAfter);
    WidgetKey::Erase();
    return 0;
}
