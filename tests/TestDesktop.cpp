// See TestDesktop.h.
#include "TestDesktop.h"

#include "base/Threads.h"

#include <commctrl.h>

#include <cstdio>

namespace {

// A second registration of a class fails harmlessly.
void RegisterPlainClass(const wchar_t* name, WNDPROC proc) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = name;
    RegisterClassW(&wc);
}

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= 0x4000 && message <= 0x4007) {
        if (auto* host = reinterpret_cast<RecordingHost*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
            host->received.push_back(MSG{window, message, wParam, lParam, 0, {}});
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

TestDesktop::TestDesktop(int width, int height, const wchar_t* topClass) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterPlainClass(topClass, DefWindowProcW);
    RegisterPlainClass(L"SHELLDLL_DefView", DefWindowProcW);
    width = width ? width : GetSystemMetrics(SM_CXSCREEN);
    height = height ? height : GetSystemMetrics(SM_CYSCREEN);
    HINSTANCE module = GetModuleHandleW(nullptr);
    top = CreateWindowExW(WS_EX_TOOLWINDOW, topClass, L"", WS_POPUP | WS_VISIBLE, 0, 0, width,
                          height, nullptr, nullptr, module, nullptr);
    defView = CreateWindowExW(0, L"SHELLDLL_DefView", L"", WS_CHILD | WS_VISIBLE, 0, 0, width,
                              height, top, nullptr, module, nullptr);
    listView = CreateWindowExW(0, WC_LISTVIEWW, L"",
                               WS_CHILD | WS_VISIBLE | LVS_ICON | LVS_NOSCROLL, 0, 0, width,
                               height, defView, nullptr, module, nullptr);
    SendMessageW(listView, LVM_SETBKCOLOR, 0, kDesktopColour);
    SendMessageW(listView, LVM_SETTEXTBKCOLOR, 0, CLR_NONE);
    HIMAGELIST icons = ImageList_Create(32, 32, ILC_COLOR32 | ILC_MASK, 1, 1);
    ImageList_AddIcon(icons, LoadIconW(nullptr, IDI_WARNING));
    SendMessageW(listView, LVM_SETIMAGELIST, LVSIL_NORMAL, LPARAM(icons));
    UpdateWindow(top);
    PumpMessages();
}

TestDesktop::~TestDesktop() {
    DestroyWindow(top);
    PumpMessages();
}

int TestDesktop::AddIcon(int x, int y) {
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = int(SendMessageW(listView, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<wchar_t*>(L"Icon");
    int index = int(SendMessageW(listView, LVM_INSERTITEMW, 0, LPARAM(&item)));
    // Positions set before the first paint are re-arranged by the list view.
    UpdateWindow(listView);
    POINT position{x, y};
    SendMessageW(listView, LVM_SETITEMPOSITION32, index, LPARAM(&position));
    PumpMessages();
    return index;
}

RECT TestDesktop::IconRect(int item) const {
    RECT rect{LVIR_ICON, 0, 0, 0};
    SendMessageW(listView, LVM_GETITEMRECT, item, LPARAM(&rect));
    return rect;
}

int TestDesktop::SelectedItem() const {
    return int(SendMessageW(listView, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED));
}

RecordingHost::RecordingHost() {
    RegisterPlainClass(L"OrvellaTestHost", HostProc);
    window = CreateWindowExW(0, L"OrvellaTestHost", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(this));
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

unsigned PixelAt(HDC dc, int x, int y) {
    COLORREF colour = GetPixel(dc, x, y);
    return (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
}

void WriteTestBitmap(const std::wstring& path, int width, int height, unsigned rgb) {
    const BITMAPINFOHEADER info{sizeof(info), width, height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    const DWORD offBits = sizeof(BITMAPFILEHEADER) + sizeof(info);
    const BITMAPFILEHEADER header{0x4D42, offBits + DWORD(width * height * 4), 0, 0, offBits};
    std::vector<unsigned> pixels(size_t(width) * height, rgb);
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (!out)
        return;
    fwrite(&header, sizeof(header), 1, out);
    fwrite(&info, sizeof(info), 1, out);
    fwrite(pixels.data(), 4, pixels.size(), out);
    fclose(out);
}

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

bool PumpUntil(const std::function<bool()>& done, unsigned ms) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(10)) {
        PumpMessages();
        if (done())
            return true;
    }
    PumpMessages();
    return done();
}

bool ThreadsEndBy(int count, unsigned ms) {
    return PumpUntil([count] { return threadsRunning <= count; }, ms);
}
