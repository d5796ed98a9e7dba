// Benchmark: the time from embedding the panel to its first composed paint
// with every feed's cache present (the install folder's first-run caches),
// one full repaint of the panel on the Club tab, switching cities on the map
// tab (a click on the selector's arrows to the painted map of the next
// city), and the memory that an embedded panel adds to the desktop's
// process. Prints figures; asserts
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
    // The feeds read their caches beside this program.
    const std::wstring folder = ProgramFolder();
    CreateDirectoryW((folder + L"feeds").c_str(), nullptr);
    for (const wchar_t* name : {L"settings.json", L"rates.json", L"news.json", L"friday.json",
                                L"exclusive.json", L"maps.json"})
        CopyFileW((folder + L"..\\dist\\feeds\\" + name).c_str(),
                  (folder + L"feeds\\" + name).c_str(), FALSE);
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

    // Down to the second city and up again: a click on either arrow of the
    // selector, then the paint it asked for.
    panel->OnCommand(Widget::SelectTabCommand, Widget::kMapTab);
    UpdateWindow(desktop.listView);
    const int arrowX = panel->x + panel->citySelect->x + panel->citySelect->width - 5;
    const int arrowY = panel->y + panel->citySelect->y;
    double cityMs = MedianMs(100, [&](int run) {
        const LPARAM at = MAKELPARAM(arrowX, arrowY + (run % 2 ? 4 : 16));
        SendMessageW(desktop.listView, WM_MOUSEMOVE, 0, at);
        SendMessageW(desktop.listView, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(desktop.listView, WM_LBUTTONUP, 0, at);
        UpdateWindow(desktop.listView);
    });
    const int shownCity = panel->cityModel.selected;

    std::printf("Load to the first composed paint of the panel: %.1f ms\n", firstPaintMs);
    std::printf("full repaint of the panel on the Club tab: median %.2f ms\n", clubMs);
    std::printf("switching cities (arrow click to painted map, %zu cities, city %d at the end): "
                "median %.2f ms\n",
                panel->cityModel.items.size(), shownCity, cityMs);
    std::printf("private bytes added by the embedded panel: %.1f MB (%.1f -> %.1f MB)\n",
                after - before, before, after);
    Unload();
    // Twenty more lives of the panel: what stays behind after each.
    const int cycles = 20;
    double afterFirst = PrivateMegabytes();
    for (int cycle = 0; cycle < cycles; ++cycle) {
        Load(host.window, L"");
        UpdateWindow(desktop.listView);
        PumpMessages();
        Unload();
    }
    double afterCycles = PrivateMegabytes();
    std::printf("private bytes over %d Load/Unload cycles: %.1f -> %.1f MB, %.1f kB a cycle\n",
                cycles, afterFirst, afterCycles, (afterCycles - afterFirst) * 1024.0 / cycles);
    WidgetKey::Erase();
    return 0;
}
