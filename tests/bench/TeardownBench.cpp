// What an Unload costs the shell's thread at moments spread over the start
// and the first ticks, scenario by scenario (names that resolve to nothing
// with the proxy detection on and off, our nginx, a slow and a silent server,
// the proxy's dialog and notice), and the private bytes each Unload/Load
// cycle leaves once the threads left behind have ended. Prints, asserts
// nothing. Run inside tests/servers/with_servers.py.
#include "TeardownScenarios.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>

namespace {

using namespace teardown;

// PagefileUsage: Wine leaves PrivateUsage at 0.
double PrivateKilobytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return double(counters.PagefileUsage) / 1024.0;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    TestDesktop desktop;
    RecordingHost host;
    SetDesktopListView(desktop.listView);
    HttpInit();
    const int baseline = threadsRunning;
    std::printf("Unload at 20 moments over the first 1.5 s after Load:\n");
    for (const Scenario& scenario : kScenarios) {
        Use(scenario);
        std::vector<double> times;
        const int left = threadsLeft;
        int moment = 0;
        for (DWORD at : Moments(20, 1500))
            times.push_back(RunCycle(desktop, host, at, scenario.wantsLogin && moment++ % 2).detachMs);
        std::printf("  %-28s median %6.1f ms, longest %6.1f ms, threads left %d of 20\n",
                    scenario.name, Median(times), *std::max_element(times.begin(), times.end()),
                    int(threadsLeft - left));
    }
    // With our servers every worker ends in time; with names that resolve
    // to nothing most are left to end by themselves, many at once, and the
    // heap they used stays committed at its highest for a while.
    for (const Scenario* scenario : {&kScenarios[2], &kScenarios[0]}) {
        Use(*scenario);
        for (DWORD at : Moments(5, 1000))
            RunCycle(desktop, host, at, false);
        ThreadsEndBy(baseline, 60000);
        const double before = PrivateKilobytes();
        for (DWORD at : Moments(20, 1000))
            RunCycle(desktop, host, at, false);
        const bool ended = ThreadsEndBy(baseline, 60000);
        const double after = PrivateKilobytes();
        std::printf("Private bytes over 20 Unload/Load cycles, %s: %.0f -> %.0f kB, "
                    "%.1f kB a cycle%s\n",
                    scenario->name, before, after, (after - before) / 20,
                    ended ? "" : " (threads still running)");
    }
    Http().proxyAuthRequired = false;
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kConnectionsKey, L"DefaultConnectionSettings");
    WidgetKey::Erase();
    HttpRelease();
    return 0;
}
