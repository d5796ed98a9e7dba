// The stall probe: what the desktop's user feels, seen from another process.
// A thread sends WM_NULL to the desktop's list view every 2 ms and keeps
// each round trip; a round trip is long exactly while the desktop's window
// thread is busy (in the panel or anywhere else), since only that thread
// answers. Commands on standard input, one answer line each:
//   mark     forget the round trips so far ("mark")
//   report   "report LONGEST P99 COUNT OVER16" over those since the mark, in
//            ms; OVER16 is how many took longer than a frame at 60 Hz
//   stalls   "stalls A B ..." the first 20 of those over 16 ms, in order
//   quit     end
#include "common/LineIo.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace {

HWND FindListView() {
    HWND progman = FindWindowW(L"Progman", nullptr);
    HWND view = progman ? FindWindowExW(progman, nullptr, L"SHELLDLL_DefView", nullptr) : nullptr;
    return view ? FindWindowExW(view, nullptr, L"SysListView32", nullptr) : nullptr;
}

std::mutex lock;
std::vector<double> roundTrips;  // ms, since the last mark
std::atomic<bool> running{true};

void Ping() {
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    HWND listView = nullptr;
    while (running) {
        if (!listView || !IsWindow(listView))
            listView = FindListView();
        if (listView) {
            DWORD_PTR answer = 0;
            QueryPerformanceCounter(&before);
            const bool answered = SendMessageTimeoutW(listView, WM_NULL, 0, 0, SMTO_NORMAL, 10000,
                                                      &answer) != 0;
            QueryPerformanceCounter(&after);
            if (answered) {
                const double ms =
                    double(after.QuadPart - before.QuadPart) * 1000.0 / double(frequency.QuadPart);
                std::lock_guard<std::mutex> hold(lock);
                roundTrips.push_back(ms);
            } else {
                listView = nullptr;  // gone, or hung for 10 s: found again
            }
        }
        Sleep(2);
    }
}

void Report() {
    std::vector<double> times;
    {
        std::lock_guard<std::mutex> hold(lock);
        times = roundTrips;
    }
    if (times.empty()) {
        PrintLine("report 0 0 0 0");
        return;
    }
    std::sort(times.begin(), times.end());
    const size_t over = size_t(times.end() - std::upper_bound(times.begin(), times.end(), 16.0));
    PrintLine("report %.2f %.2f %zu %zu", times.back(), times[(times.size() - 1) * 99 / 100],
              times.size(), over);
}

}  // namespace

int wmain() {
    timeBeginPeriod(1);
    HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ReadStdinLines(
        [ended](const std::string& line) {
            if (line == "mark") {
                std::lock_guard<std::mutex> hold(lock);
                roundTrips.clear();
                PrintLine("mark");
            } else if (line == "report") {
                Report();
            } else if (line == "stalls") {
                std::string text = "stalls";
                std::lock_guard<std::mutex> hold(lock);
                size_t listed = 0;
                for (size_t i = 0; i < roundTrips.size() && listed < 20; ++i) {
                    if (roundTrips[i] > 16.0) {
                        char figure[32];
                        std::snprintf(figure, sizeof(figure), " %.1f", roundTrips[i]);
                        text += figure;
                        ++listed;
                    }
                }
                PrintLine("%s", text.c_str());
            } else if (line == "quit") {
                SetEvent(ended);
            }
        },
        [ended] { SetEvent(ended); });
    HANDLE pinger = CreateThread(
        nullptr, 0, [](void*) -> DWORD { Ping(); return 0; }, nullptr, 0, nullptr);
    PrintLine("probe");
    WaitForSingleObject(ended, INFINITE);
    running = false;
    WaitForSingleObject(pinger, 15000);
    timeEndPeriod(1);
    return 0;
}
