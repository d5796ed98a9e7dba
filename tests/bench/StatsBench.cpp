// Benchmark of the usage statistics: the report of a full period, one usage
// event through the broadcast to the harvester, and the queue file. With
// the argument "upload", run inside tests/servers/with_servers.py, also the
// upload of a queue of 30 reports to nginx. Prints medians; asserts nothing.
#include "Bench.h"
#include "ServedFiles.h"
#include "base/EventListener.h"
#include "net/HttpClient.h"
#include "stats/StatHarvester.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kUid[] = "00112233445566778899aabbccddeeff";

// Every counter as wide as it gets in the report.
StatCounters FullPeriod() {
    StatCounters c;
    uint32_t* fields[] = {&c.phones,   &c.enters,      &c.shows,     &c.hides,
                          &c.starts,   &c.exits,       &c.offlines,  &c.show_time,
                          &c.run_time, &c.online_time, &c.idle_time, &c.listen_time,
                          &c.play_count, &c.cities,    &c.points,    &c.listitems,
                          &c.mapviews, &c.listviews};
    for (uint32_t* field : fields)
        *field = 2147483647u;
    for (TabCounters& tab : c.tabs)
        tab = TabCounters{2147483647u, 2147483647u, 2147483647u, 2147483647u};
    return c;
}

void Upload() {
    SetWidgetValue(L"StorageServer", L"127.0.0.1");
    StatHarvester harvester(0, nullptr, kUid);
    size_t left = 0;
    std::vector<double> times;
    for (int run = 0; run < 11; ++run) {
        for (int i = 0; i < 30; ++i)
            harvester.ClosePeriod();
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        harvester.UploadReports();
        QueryPerformanceCounter(&end);
        left += harvester.ReportCount();
        if (run > 0)  // the first opens the connection: a warm-up
            times.push_back(double(end.QuadPart - start.QuadPart) * 1000.0 /
                            double(frequency.QuadPart));
    }
    std::sort(times.begin(), times.end());
    const double ms = times[times.size() / 2];
    std::printf("UploadReports of 30 queued reports to nginx: median %.2f ms (%.3f ms a "
                "report; %zu left unsent over all runs)\n",
                ms, ms / 30, left);
    WidgetKey::Erase();
}

}  // namespace

int main(int argc, char** argv) {
    HttpInit();
    const StatCounters full = FullPeriod();
    std::string report;
    double buildMs = MedianMs(2000, [&](int) { report = BuildReport(kUid, "4 21.5.2026", full); });
    std::printf("BuildReport of a full period (%zu bytes): median %.4f ms\n", report.size(),
                buildMs);

    StatHarvester harvester(0, nullptr, kUid);
    RegisterEventListener(&harvester);
    constexpr int kBatch = 10000;
    double broadcastMs = MedianMs(50, [&](int i) {
        for (int n = 0; n < kBatch; ++n)
            BroadcastEvent(n % 2 ? PageScrolled : TabSelected, n % kStatTabs);
    });
    std::printf("BroadcastEvent to the harvester: median %.1f ns an event\n",
                broadcastMs * 1e6 / kBatch);
    UnregisterEventListener(&harvester);

    double closeMs = MedianMs(200, [&](int) { harvester.ClosePeriod(); });
    std::printf("ClosePeriod (report built and queued): median %.4f ms\n", closeMs);
    harvester.SaveReports();  // cuts the queue to 30
    double saveMs = MedianMs(50, [&](int) { harvester.SaveReports(); });
    std::printf("SaveReports of 30 reports: median %.3f ms\n", saveMs);
    double loadMs = MedianMs(50, [&](int) {
        StatHarvester fresh(0, nullptr, kUid);
        fresh.LoadReports();
    });
    std::printf("LoadReports of 30 reports: median %.3f ms\n", loadMs);
    DeleteFileW(harvester.queuePath.c_str());

    if (argc > 1 && std::strcmp(argv[1], "upload") == 0)
        Upload();
    HttpRelease();
    return 0;
}
