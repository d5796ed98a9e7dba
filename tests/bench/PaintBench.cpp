// Benchmark: one composed WM_PAINT of the panel's rectangle and of the whole
// screen, and one mouse move routed through a tree of 100 windows. Prints the
// median of repeated runs after a warm-up; asserts nothing.
#include "Bench.h"
#include "TestDesktop.h"
#include "ui/Window.h"
#include "widget/Widget.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace {

void PaintOnce(HWND listView, const RECT* area) {
    InvalidateRect(listView, area, TRUE);
    UpdateWindow(listView);
}

}  // namespace

int main() {
    TestDesktop desktop;
    for (int i = 0; i < 6; ++i)
        desktop.AddIcon(20, 20 + i * 100);
    RecordingHost host;
    EmbeddedPanel embedded(desktop.listView, host.window);
    if (!embedded.attached)
        return 1;

    Widget* panel = embedded.embedding().widget.get();
    RECT panelRect{panel->x, panel->y, panel->x + panel->width, panel->y + panel->height};
    double panelMs = MedianMs(200, [&](int) { PaintOnce(desktop.listView, &panelRect); });
    double screenMs = MedianMs(50, [&](int) { PaintOnce(desktop.listView, nullptr); });

    // A chain of 10 levels, 10 siblings each, the pointer over the deepest.
    std::vector<std::unique_ptr<Window>> tree;
    RootWindow& root = embedded.embedding().root;
    Window* parent = &root;
    for (int level = 0; level < 10; ++level) {
        Window* last = nullptr;
        for (int i = 0; i < 10; ++i) {
            tree.push_back(std::make_unique<Window>(i == 9 ? 1 : 500, 1, 300, 300, parent));
            tree.back()->UpdateRegion();
            tree.back()->Show();
            last = tree.back().get();
        }
        parent = last;
    }
    double routeMs = MedianMs(20000, [&](int i) {
        root.RouteMove(20 + (i & 1), 20, 0);
    });

    std::printf("paint panel 318x468: median %.3f ms\n", panelMs);
    std::printf("paint whole screen %dx%d: median %.3f ms\n", root.width, root.height, screenMs);
    std::printf("route one mouse move through 100 windows: median %.5f ms\n", routeMs);

    for (auto it = tree.rbegin(); it != tree.rend(); ++it)
        (*it)->Hide();
    tree.clear();
    return 0;
}
