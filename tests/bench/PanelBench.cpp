// Benchmark: the time from embedding the panel to its first composed paint
// with every feed's cache present (the install folder's first-run caches),
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

    std::printf("Load to the first composed paint of the panel: %.1f ms\n", firstPaintMs);
    std::printf("full repaint of the panel on the Club tab: median %.2f ms\n", clubMs);
    std::printf("private bytes added by the embedded panel: %.1f MB (%.1f -> %.1f MB)\n",
                after - before, before, after);
    Unload();
    WidgetKey::Erase();
    return 0;
}
