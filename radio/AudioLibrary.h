// The streaming audio library behind the radio: bass.dll beside ours, our
// own or the vendor's, loaded as the vendor's would be and called through
// the seven functions of its interface. Tests put functions of their own in
// the table instead.
#pragma once

#include <windows.h>

#include <memory>

namespace bass {

constexpr DWORD kConfigNetProxy = 17;         // BASS_CONFIG_NET_PROXY
constexpr DWORD kStreamStatus = 0x800000;     // BASS_STREAM_STATUS
constexpr DWORD kStreamAutoFree = 0x40000;    // BASS_STREAM_AUTOFREE
constexpr DWORD kAttribVolume = 2;            // BASS_ATTRIB_VOL

// The functions, with the vendor's signatures. A table whose entries are
// null (no library) opens no stream.
struct Functions {
    BOOL(WINAPI* Init)(int device, DWORD freq, DWORD flags, HWND window, const void* clsid) = nullptr;
    BOOL(WINAPI* SetConfigPtr)(DWORD option, const void* value) = nullptr;
    DWORD(WINAPI* StreamCreateURL)(const char* url, DWORD offset, DWORD flags, void* proc,
                                   void* user) = nullptr;
    BOOL(WINAPI* ChannelSetAttribute)(DWORD handle, DWORD attribute, float value) = nullptr;
    BOOL(WINAPI* ChannelPlay)(DWORD handle, BOOL restart) = nullptr;
    BOOL(WINAPI* ChannelStop)(DWORD handle) = nullptr;
    BOOL(WINAPI* Free)() = nullptr;

    bool complete() const {
        return Init && SetConfigPtr && StreamCreateURL && ChannelSetAttribute && ChannelPlay &&
               ChannelStop && Free;
    }
};

// The library and its functions. Once loaded it is pinned for the process's
// life: an open left to finish by itself may still be inside it long after
// the radio has gone, and each unload would cost the shell memory that Wine
// does not give back.
struct Library {
    HMODULE module = nullptr;  // pinned; null for a table of the tests' own
    Functions call;
};

// bass.dll from the library's folder, pinned; an empty table when it is
// missing or lacks a function.
std::unique_ptr<Library> LoadLibraryBesideUs();

}  // namespace bass
