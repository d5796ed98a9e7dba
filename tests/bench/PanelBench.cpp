// Benchmark: the time from embedding the panel to its first composed paint,
// one full repaint of the panel on the Club tab, and the memory that an
// embedded panel adds to the desktop's process. Prints figures; asserts
// nothing.
#include "Bench.h"
#include "TestDesktop.h"
#include "host/DesktopSurface.h"
#include "base/WidgetKey.h"
#include "host/DesktopSurface.h"
#include "host/HostBridge.h"
#include "widget/Widget.h"

#include <psapi.h>

#include <cstdio>
#include <memory>

namespace {

// Private bytes: the commit charge, which Windows and Wine both report as
// PagefileUsage (Wine leaves PrivateUsage at 0).
double PrivateMegabytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return double(counters.PagefileUsage) / (1024.0 * 1024.0);
}

}  // namespace

int main() {
    WidgetKey::Erase();
    TestDesktop desktop;
    RecordingHost host;
    PumpMessages();
    double before = PrivateMegabytes();

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);

    if (!Load(host.window, L"")) {
        std::printf("the panel did not load\n");
        return 1;
    }
    UpdateWindow(desktop.listView);
    QueryPerformanceCounter(&end);
    double firstPaintMs = double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
    PumpMessages();
    double after = PrivateMegabytes();

    Widget* panel = Bridge().instance->embedding->widget.get();
    panel->OnCommand(Widget::SelectTabCommand, 1);  // the Club tab
    RECT area{panel->x, panel->y, panel->x + panel->width, panel->y + panel->height};
    double clubMs = MedianMs(100, [&](int) {
        InvalidateRect(desktop.listView, &area, TRUE);
        UpdateWindow(desktop.listView);
    });

    std::printf("Load to the first composed paint of the panel: %.1f ms\n", firstPaintMs);
    std::printf("full repaint of the panel on the Club tab: median %.2f ms\n", clubMs);
    std::printf("private bytes added by the embedded panel: %.1f MB (%.1f -> %.1f MB)\n",
                after - before, before, after);
    Unload();
    WidgetKey::Erase();
    return 0;
}
