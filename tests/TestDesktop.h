// In-process copies of the windows the library meets on a real machine: the
// shell's desktop (Progman > SHELLDLL_DefView > SysListView32) and a host
// window that records what the library tells it. The list view erases itself
// with a known colour so that composed pixels can be checked.
#pragma once

#include <windows.h>

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
    ~RecordingHost();
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
