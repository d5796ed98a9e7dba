// The host stand-in: plays the host platform (Lumidesk) that loads
// orvella.dll into its own process, calls its exported entry points and
// receives the messages the widget sends back to the host window. The end
// to end tests drive it with one command per line on standard input and
// read one result line per command; by hand, its buttons send the desktop
// commands. Never shipped.
//
// Usage: host_standin.exe <path to orvella.dll> [--autoload <command line...>]
//   --autoload  call Load at once with the rest of the arguments, joined by
//               spaces, as the widget's command line.
// Exit code 2 when the library does not load or lacks an entry point.
#include "common/LineIo.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <type_traits>

namespace {

// Constants of the host protocol, as the host platform knows them.
constexpr UINT kFirstDesktopMessage = 0x4000;
constexpr UINT kLastDesktopMessage = 0x4007;
constexpr UINT kDesktopClosing = 0x4002;
constexpr UINT kDesktopIsVisible = 0x4006;
constexpr UINT kDesktopToggle = 0x4007;

// A line of standard input for the window thread; lParam is a std::string
// that the receiver deletes.
constexpr UINT kCommandArrived = WM_APP + 1;

enum ButtonId { kToggleButton = 1, kVisibleButton, kClosingButton };

// The host platform is built with MSVC and resolves these decorated names;
// the library also has to offer the variants without const.
constexpr char kLoadName[] = "?Load@@YA_NPEAUHWND__@@PEB_W@Z";
constexpr char kLoadMutableName[] = "?Load@@YA_NPEAUHWND__@@PEA_W@Z";
constexpr char kUnloadName[] = "?Unload@@YAXXZ";
constexpr char kSendCommandLineName[] = "?SendCommandLine@@YAXPEB_W@Z";
constexpr char kSendCommandLineMutableName[] = "?SendCommandLine@@YAXPEA_W@Z";
constexpr char kGetDesktopName[] = "?GetDesktopHWND@@YAPEAUHWND__@@XZ";

struct Library {
    bool (*load)(HWND, const wchar_t*) = nullptr;
    void (*unload)() = nullptr;
    void (*sendCommandLine)(const wchar_t*) = nullptr;
    HWND (*getDesktop)() = nullptr;
};

struct Host {
    Library library;
    HWND window = nullptr;
    bool loaded = false;  // a Load succeeded and no Unload followed
};

Host& TheHost() {
    static Host host;
    return host;
}

struct ModuleDeleter {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using Module = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleDeleter>;

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function& function) {
    function = reinterpret_cast<Function>(GetProcAddress(module, name));
    if (!function)
        PrintLine("exports missing %s", name);
    return function != nullptr;
}

// Reports every missing name, not just the first.
bool ResolveExports(HMODULE module, Library& library) {
    void (*mutableVariant)() = nullptr;
    bool complete = Resolve(module, kLoadName, library.load);
    complete &= Resolve(module, kUnloadName, library.unload);
    complete &= Resolve(module, kSendCommandLineName, library.sendCommandLine);
    complete &= Resolve(module, kGetDesktopName, library.getDesktop);
    complete &= Resolve(module, kLoadMutableName, mutableVariant);
    complete &= Resolve(module, kSendCommandLineMutableName, mutableVariant);
    if (complete)
        PrintLine("exports ok");
    return complete;
}

std::wstring Widen(const std::string& text) {
    if (text.empty())
        return {};
    int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), units);
    return wide;
}

// Reads "<msg> <wParam> <lParam>", each in any base strtoll understands.
bool ParseMessage(const std::string& text, UINT& message, WPARAM& wParam, LPARAM& lParam) {
    long long values[3] = {};
    const char* cursor = text.c_str();
    for (long long& value : values) {
        char* end = nullptr;
        value = std::strtoll(cursor, &end, 0);
        if (end == cursor)
            return false;
        cursor = end;
    }
    message = UINT(values[0]);
    wParam = WPARAM(values[1]);
    lParam = LPARAM(values[2]);
    return true;
}

HWND DesktopListView() {
    return TheHost().library.getDesktop();
}

void AskDesktop(const char* word, UINT message) {
    LRESULT result = SendMessageW(DesktopListView(), message, 0, 0);
    PrintLine("%s %lld", word, static_cast<long long>(result));
}

void Load(const std::wstring& commandLine) {
    Host& host = TheHost();
    bool accepted = host.library.load(host.window, commandLine.c_str());
    if (accepted)
        host.loaded = true;
    PrintLine("load %d", accepted ? 1 : 0);
}

void UnloadIfLoaded() {
    Host& host = TheHost();
    if (host.loaded)
        host.library.unload();
    host.loaded = false;
}

void RunCommand(const std::string& line) {
    Host& host = TheHost();
    size_t space = line.find(' ');
    std::string word = line.substr(0, space);
    std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);

    if (word == "load") {
        Load(Widen(rest));
    } else if (word == "unload") {
        host.library.unload();
        host.loaded = false;
        PrintLine("unload done");
    } else if (word == "cmdline") {
        host.library.sendCommandLine(Widen(rest).c_str());
        PrintLine("cmdline done");
    } else if (word == "cmdline-null") {
        host.library.sendCommandLine(nullptr);
        PrintLine("cmdline done");
    } else if (word == "cmdline-fill") {
        long count = std::strtol(rest.c_str(), nullptr, 0);
        host.library.sendCommandLine(std::wstring(size_t(count > 0 ? count : 0), L'x').c_str());
        PrintLine("cmdline done");
    } else if (word == "desktop") {
        PrintLine("desktop 0x%llx", static_cast<unsigned long long>(UINT_PTR(DesktopListView())));
    } else if (word == "toggle") {
        AskDesktop("toggle", kDesktopToggle);
    } else if (word == "visible") {
        AskDesktop("visible", kDesktopIsVisible);
    } else if (word == "closing") {
        AskDesktop("closing", kDesktopClosing);
    } else if (word == "send" || word == "progman") {
        UINT message = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
        if (!ParseMessage(rest, message, wParam, lParam)) {
            PrintLine("error expected <msg> <wParam> <lParam>");
            return;
        }
        HWND target = DesktopListView();
        if (word == "progman")
            target = GetParent(GetParent(target));
        LRESULT result = SendMessageW(target, message, wParam, lParam);
        PrintLine("%s %lld", word.c_str(), static_cast<long long>(result));
    } else if (word == "quit") {
        UnloadIfLoaded();
        PrintLine("quit done");
        DestroyWindow(host.window);
    } else {
        PrintLine("error unknown command");
    }
}

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= kFirstDesktopMessage && message <= kLastDesktopMessage) {
        PrintLine("message 0x%x %llu %lld", message, static_cast<unsigned long long>(wParam),
                  static_cast<long long>(lParam));
        return 0;
    }
    switch (message) {
    case kCommandArrived: {
        std::unique_ptr<std::string> line(reinterpret_cast<std::string*>(lParam));
        RunCommand(*line);
        return 0;
    }
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED)
            break;
        switch (LOWORD(wParam)) {
        case kToggleButton:
            AskDesktop("toggle", kDesktopToggle);
            return 0;
        case kVisibleButton:
            AskDesktop("visible", kDesktopIsVisible);
            return 0;
        case kClosingButton:
            AskDesktop("closing", kDesktopClosing);
            return 0;
        default:
            break;
        }
        break;
    case WM_CLOSE:
        UnloadIfLoaded();
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Kept in the top left corner, away from where the widget's panel appears.
HWND CreateHostWindow(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = HostProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"LumideskHostStandin";
    if (!RegisterClassExW(&windowClass))
        return nullptr;
    // Bottom left, clear of the stand-in desktop's icons and of the panel.
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Lumidesk host stand-in",
                                  WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                                      WS_VISIBLE,
                                  140, 560, 360, 160, nullptr, nullptr, instance, nullptr);
    if (!window)
        return nullptr;
    const struct {
        const wchar_t* text;
        ButtonId id;
    } buttons[] = {{L"Toggle", kToggleButton},
                   {L"Is visible?", kVisibleButton},
                   {L"Closing", kClosingButton}};
    int left = 12;
    for (const auto& button : buttons) {
        CreateWindowExW(0, L"BUTTON", button.text, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, left,
                        40, 100, 30, window, reinterpret_cast<HMENU>(INT_PTR(button.id)),
                        instance, nullptr);
        left += 112;
    }
    return window;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: host_standin <orvella.dll> [--autoload <command line...>]\n");
        return 1;
    }
    Module module(LoadLibraryW(argv[1]));
    if (!module) {
        PrintLine("dll failed %lu", GetLastError());
        return 2;
    }
    Host& host = TheHost();
    if (!ResolveExports(module.get(), host.library))
        return 2;

    host.window = CreateHostWindow(GetModuleHandleW(nullptr));
    if (!host.window) {
        std::fprintf(stderr, "cannot create the host window\n");
        return 1;
    }

    if (argc > 2 && wcscmp(argv[2], L"--autoload") == 0) {
        std::wstring commandLine;
        for (int index = 3; index < argc; ++index) {
            if (index > 3)
                commandLine += L' ';
            commandLine += argv[index];
        }
        Load(commandLine);
    }

    HWND window = host.window;
    ReadStdinLines(
        [window](const std::string& line) {
            auto* copy = new std::string(line);
            if (!PostMessageW(window, kCommandArrived, 0, LPARAM(copy)))
                delete copy;
        },
        [window] { PostMessageW(window, WM_CLOSE, 0, 0); });

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
