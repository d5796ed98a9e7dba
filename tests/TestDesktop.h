// In-process copies of the windows the library meets on a real machine: the
// shell's desktop (Progman > SHELLDLL_DefView > SysListView32) and a host
// window that records what the library tells it. The list view erases itself
// with a known colour so that composed pixels can be checked.
#pragma once

#include "base/Desktop.h"
#include "base/EventListener.h"
#include "host/DesktopSurface.h"
#include "host/Embedding.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

constexpr COLORREF kDesktopColour = RGB(0x20, 0x60, 0x40);
constexpr unsigned kDesktopPixel = 0x206040;  // kDesktopColour as PixelAt reads it

class TestDesktop {
public:
    // width or height 0: the screen's size.
    explicit TestDesktop(int width = 0, int height = 0, const wchar_t* topClass = L"Progman");
    ~TestDesktop();
    TestDesktop(const TestDesktop&) = delete;
    TestDesktop& operator=(const TestDesktop&) = delete;

    // Adds an icon item whose top-left lies at (x, y) in client coordinates.
    int AddIcon(int x, int y);
    RECT IconRect(int item) const;
    int SelectedItem() const;

    HWND top = nullptr;
    HWND defView = nullptr;
    HWND listView = nullptr;
};

class RecordingHost {
public:
    RecordingHost();
    ~RecordingHost() { DestroyWindow(window); }
    RecordingHost(const RecordingHost&) = delete;
    RecordingHost& operator=(const RecordingHost&) = delete;

    HWND window = nullptr;
    std::vector<MSG> received;  // messages 0x4000 to 0x4007
};

// Runs the calling thread's pending messages (posts, paints, timers).
void PumpMessages();

// Pumps until the threads of ours that are running fall to count, or ms
// have passed; whether they did.
bool ThreadsEndBy(int count, unsigned ms);
// Pumps until done() holds, or ms have passed; whether it held.
bool PumpUntil(const std::function<bool()>& done, unsigned ms);

// Writes a bitmap file of one colour (0xRRGGBB).
void WriteTestBitmap(const std::wstring& path, int width, int height, unsigned rgb);

// The folder of the test program, where relative resource paths resolve.
std::wstring ProgramFolder();

// Reads one pixel of a device context as 0xRRGGBB.
unsigned PixelAt(HDC dc, int x, int y);

// The process's committed private bytes. Wine leaves PrivateUsage at 0;
// PagefileUsage is the same commit charge. Link psapi to use it.
inline size_t PrivateBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PagefileUsage;
}

// For its lifetime, every event broadcast reaches heard.
struct EventRecorder : EventListener {
    EventRecorder() { RegisterEventListener(this); }
    ~EventRecorder() { UnregisterEventListener(this); }
    EventRecorder(const EventRecorder&) = delete;
    EventRecorder& operator=(const EventRecorder&) = delete;
    void OnEvent(int event, int value) override {
        heard.push_back(event);
        values.push_back(value);
    }
    // How many times event was heard.
    int Count(int event) const { return int(std::count(heard.begin(), heard.end(), event)); }
    std::vector<int> heard, values;
};

// A panel embedded in a list view as the host's Load embeds it, taken out
// again when it goes; attached tells whether it went in.
struct EmbeddedPanel {
    explicit EmbeddedPanel(HWND listView, HWND hostWindow = nullptr) {
        SetDesktopListView(listView);
        instance.listView = listView;
        instance.hostWindow = hostWindow;
        attached = Attach(&instance);
    }
    ~EmbeddedPanel() {
        if (attached)
            Detach(&instance);
        SetDesktopListView(nullptr);
    }
    EmbeddedPanel(const EmbeddedPanel&) = delete;
    EmbeddedPanel& operator=(const EmbeddedPanel&) = delete;
    Embedding& embedding() const { return *instance.embedding; }

    DesktopInstance instance;
    bool attached = false;
};
