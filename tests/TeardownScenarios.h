// What the teardown test and benchmark share: an embedding made and let go
// at a chosen moment after it was made, against the servers of a scenario
// (names that resolve to nothing, our nginx, a slow or a silent server, a
// proxy that wants a login), with the proxy detection on or off.
#pragma once

#include "ServedFiles.h"
#include "TestDesktop.h"
#include "base/Threads.h"
#include "net/HttpClient.h"
#include "net/Proxy.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace teardown {

constexpr wchar_t kConnectionsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

struct Scenario {
    const char* name;
    // Written to ContentServer and StorageServer; empty leaves the built-in
    // names, which resolve to nothing here. "%F" stands for the
    // misbehaving server's address.
    const wchar_t* content;
    const wchar_t* storage;
    bool autoDetect;    // the user's proxy detection
    bool wantsLogin;    // a proxy refused us before: the dialog comes up
};

inline const Scenario kScenarios[] = {
    {"unresolvable, detection on", L"", L"", true, false},
    {"unresolvable, detection off", L"", L"", false, false},
    {"our servers", L"127.0.0.1", L"127.0.0.1", false, false},
    {"slow server", L"%F/slow/300000?at=", L"127.0.0.1", false, false},
    {"silent server", L"%F/silent?at=", L"%F/silent?at=", false, false},
    {"login dialog and notice", L"127.0.0.1", L"%F/no-status?at=", false, true},
};

inline void WriteServer(const wchar_t* name, const wchar_t* value) {
    std::wstring text = value;
    const size_t at = text.find(L"%F");
    if (at != std::wstring::npos)
        text.replace(at, 2, Env(L"ORVELLA_FAULTY_HOST"));
    SetWidgetValue(name, text);
}

inline void Use(const Scenario& scenario) {
    WidgetKey::Erase();
    WriteServer(L"ContentServer", scenario.content);
    WriteServer(L"StorageServer", scenario.storage);
    // The user's connection settings: direct, or with automatic detection.
    std::string record;
    for (DWORD value : {DWORD(0x46), DWORD(1), DWORD(scenario.autoDetect ? 1 | 8 : 1), DWORD(0),
                        DWORD(0), DWORD(0)})
        record.append(reinterpret_cast<char*>(&value), 4);
    record.append(32, '\0');
    RegSetKeyValueW(HKEY_CURRENT_USER, kConnectionsKey, L"DefaultConnectionSettings", REG_BINARY,
                    record.data(), DWORD(record.size()));
    Http().proxyAuthRequired = scenario.wantsLogin;
}

// The moments of a run: n of them over span ms, denser early, where the
// first tick's steps follow each other quickly.
inline std::vector<DWORD> Moments(int n, DWORD span) {
    std::vector<DWORD> moments;
    for (int i = 0; i < n; ++i)
        moments.push_back(DWORD(double(i) * i / (double(n) * n) * span));
    return moments;
}

// The desktop and host the cycles run on; the settings of the scenarios are
// put back when it goes.
struct Stage {
    Stage() {
        SetDesktopListView(desktop.listView);
        HttpInit();
    }
    ~Stage() {
        Http().proxyAuthRequired = false;
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kConnectionsKey, L"DefaultConnectionSettings");
        WidgetKey::Erase();
        HttpRelease();
    }
    TestDesktop desktop;
    RecordingHost host;
};

struct Cycle {
    bool attached = false;
    double detachMs = 0;
};

// Attaches a widget, serves the window thread for moment ms (pressing the
// dialog's test button half way when asked), then detaches and times it.
inline Cycle RunCycle(Stage& stage, DWORD moment, bool press) {
    Cycle cycle;
    auto instance = std::make_unique<DesktopInstance>();
    instance->listView = stage.desktop.listView;
    instance->hostWindow = stage.host.window;
    cycle.attached = Attach(instance.get());
    if (!cycle.attached)
        return cycle;
    const DWORD start = GetTickCount();
    bool pressed = !press;
    while (GetTickCount() - start < moment) {
        PumpMessages();
        if (!pressed && GetTickCount() - start >= moment / 2) {
            // The test button of a credentials dialog that stands, so that its
            // notice comes up too.
            if (HWND dialog = FindWindowW(nullptr, kProxyDialogCaption))
                PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_PROXY_TEST, BN_CLICKED), 0);
            pressed = true;
        }
        Sleep(1);
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point before = Clock::now();
    Detach(instance.get());
    cycle.detachMs = std::chrono::duration<double, std::milli>(Clock::now() - before).count();
    return cycle;
}

}  // namespace teardown
