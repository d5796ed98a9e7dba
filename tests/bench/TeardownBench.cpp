// What an Unload costs the shell's thread at moments spread over the start
// and the first ticks, scenario by scenario (names that resolve to nothing
// with the proxy detection on and off, our nginx, a slow and a silent server,
// the proxy's dialog and notice), and the private bytes each Unload/Load
// cycle leaves once the threads left behind have ended. Prints, asserts
// nothing. Run inside tests/servers/with_servers.py.
#include "TeardownScenarios.h"

#include <malloc.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>

namespace {

using namespace teardown;

// The bytes of the C runtime's heap in use: finer than the commit charge,
// which grows a whole region at a time.
double HeapKilobytes() {
    _HEAPINFO entry{};
    double used = 0;
    while (_heapwalk(&entry) == _HEAPOK)
        if (entry._useflag == _USEDENTRY)
            used += double(entry._size);
    return used / 1024.0;
}

// Every thread of the process: Wine's own too, such as a name resolution
// that goes on after the request that asked for it gave up.
int ProcessThreads() {
    KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    return count;
}

// Private bytes once the threads of ours have ended and the process's
// count of threads has stayed the same for 3 s (at most a minute).
double SettledKilobytes(int ours) {
    ThreadsEndBy(ours, 60000);
    int threads = ProcessThreads();
    for (DWORD start = GetTickCount(), still = start; GetTickCount() - still < 3000 &&
                                                      GetTickCount() - start < 60000;) {
        Sleep(100);
        const int now = ProcessThreads();
        if (now != threads)
            threads = now, still = GetTickCount();
    }
    return double(PrivateBytes()) / 1024.0;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    Stage stage;
    const int baseline = threadsRunning;
    std::printf("Unload at 20 moments over the first 1.5 s after Load:\n");
    for (const Scenario& scenario : kScenarios) {
        Use(scenario);
        std::vector<double> times;
        const int left = threadsLeft;
        int moment = 0;
        for (DWORD at : Moments(20, 1500))
            times.push_back(RunCycle(stage, at, scenario.wantsLogin && moment++ % 2).detachMs);
        std::printf("  %-28s median %6.1f ms, longest %6.1f ms, threads left %d of 20\n",
                    scenario.name, Median(times), *std::max_element(times.begin(), times.end()),
                    int(threadsLeft - left));
    }
    // With our servers every worker ends in time; with names that resolve
    // to nothing most are left to end by themselves, and Wine's own name
    // resolutions go on after them.
    for (const Scenario* scenario : {&kScenarios[2], &kScenarios[0]}) {
        Use(*scenario);
        // Until the usage reports' queue is full (one report a run) and the
        // heap has grown to what a run needs.
        for (DWORD at : Moments(30, 1000))
            RunCycle(stage, at, false);
        const double before = SettledKilobytes(baseline), heapBefore = HeapKilobytes();
        for (DWORD at : Moments(20, 1000))
            RunCycle(stage, at, false);
        const double after = SettledKilobytes(baseline), heapAfter = HeapKilobytes();
        std::printf("Over 20 Unload/Load cycles, %s: private bytes %.0f -> %.0f kB, %.1f kB a "
                    "cycle; heap in use %.0f -> %.0f kB, %.1f kB a cycle\n",
                    scenario->name, before, after, (after - before) / 20, heapBefore, heapAfter,
                    (heapAfter - heapBefore) / 20);
    }
    return 0;
}
