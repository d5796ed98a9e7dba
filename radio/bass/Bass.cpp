// The library's exported functions (bass.h) and its process-wide state: the
// output device chosen at BASS_Init, the proxy, and the table of streams by
// handle.
//
// Any thread may call; the table's lock is never held while a stream
// connects or stops, because a stream's playing thread takes it when the
// stream ends by itself and frees itself. Nothing thrown inside an export
// reaches its caller: the host is the shell, which a std::bad_alloc from
// here would end.
#include "radio/bass/bass.h"

#include "base/Text.h"
#include "radio/bass/Stream.h"

#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>

namespace {

struct Library {
    std::mutex lock;
    bool initialised = false;
    // Counts the BASS_Free calls, so that an open under way across a free
    // and a new BASS_Init sees that its table is gone.
    unsigned generation = 0;
    UINT device = WAVE_MAPPER;
    std::string proxy;
    HSTREAM lastHandle = 0;
    std::map<HSTREAM, std::shared_ptr<Stream>> streams;
};

// Never destroyed: at process exit the system has already ended the
// playing threads, and closing devices from the loader's lock could hang.
Library& TheLibrary() {
    static Library* library = new Library;
    return *library;
}

thread_local int lastError = BASS_OK;

// Sets the calling thread's error code and answers the call's failure value.
template <class T>
T Fail(int error, T value) {
    lastError = error;
    return value;
}

template <class T>
T Succeed(T value) {
    lastError = BASS_OK;
    return value;
}

// The barrier of every export: runs body and answers its value, or failure
// with the error code of what it threw.
template <class T, class F>
T Guarded(T failure, F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return Fail(BASS_ERROR_MEM, failure);
    } catch (...) {
        return Fail(BASS_ERROR_UNKNOWN, failure);
    }
}

std::shared_ptr<Stream> Find(DWORD handle) {
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> hold(library.lock);
    auto found = library.streams.find(handle);
    return found == library.streams.end() ? nullptr : found->second;
}

// A stream with the auto-free flag that ended by itself leaves the table;
// its playing thread, still holding it, closes it on the way out.
void Forget(Stream* stream) {
    if (!stream->AutoFree())
        return;
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> hold(library.lock);
    for (auto entry = library.streams.begin(); entry != library.streams.end(); ++entry) {
        if (entry->second.get() == stream) {
            library.streams.erase(entry);
            return;
        }
    }
}

BOOL Init(int device) {
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> hold(library.lock);
    if (library.initialised)
        return Fail(BASS_ERROR_ALREADY, FALSE);
    // -1 is the system's default device, 1 the first real one; 0, the
    // vendor's "no sound" device, is not offered.
    if (device != -1 && (device < 1 || UINT(device) > waveOutGetNumDevs()))
        return Fail(BASS_ERROR_DEVICE, FALSE);
    WSADATA winsock;
    if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0)
        return Fail(BASS_ERROR_NONET, FALSE);
    library.device = device == -1 ? WAVE_MAPPER : UINT(device - 1);
    library.initialised = true;
    // Once used, the library stays loaded until the process ends: each load
    // and unload of it costs the process about 80 kB that the unload does
    // not give back (the C++ runtime linked into it sets memory aside when
    // it starts), which a host that loads and unloads the widget again and
    // again would lose each time.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&BASS_Init), &self);
    return Succeed(TRUE);
}

BOOL Free() {
    Library& library = TheLibrary();
    std::map<HSTREAM, std::shared_ptr<Stream>> streams;
    {
        std::lock_guard<std::mutex> hold(library.lock);
        if (!library.initialised)
            return Fail(BASS_ERROR_INIT, FALSE);
        library.initialised = false;
        ++library.generation;
        streams.swap(library.streams);
    }
    // For good: a caller that found one of them just before may still ask
    // it to play.
    for (auto& entry : streams)
        entry.second->Retire();
    streams.clear();
    WSACleanup();
    return Succeed(TRUE);
}

BOOL SetConfigPtr(DWORD option, const void* value) {
    if ((option & ~DWORD(BASS_UNICODE)) != BASS_CONFIG_NET_PROXY)
        return Fail(BASS_ERROR_ILLTYPE, FALSE);
    std::string proxy;
    if (value && (option & BASS_UNICODE))
        proxy = ToNarrow(Encoding::Ansi, static_cast<const wchar_t*>(value));
    else if (value)
        proxy = static_cast<const char*>(value);
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> hold(library.lock);
    library.proxy = proxy;
    return Succeed(TRUE);
}

HSTREAM CreateUrl(const char* url, DWORD flags, DOWNLOADPROC* proc, void* user) {
    Library& library = TheLibrary();
    Stream::Options options;
    unsigned generation = 0;
    {
        std::lock_guard<std::mutex> hold(library.lock);
        if (!library.initialised)
            return Fail(BASS_ERROR_INIT, HSTREAM(0));
        options.device = library.device;
        options.proxy = library.proxy;
        generation = library.generation;
    }
    if (!url)
        return Fail(BASS_ERROR_ILLPARAM, HSTREAM(0));
    options.url = (flags & BASS_UNICODE)
                      ? ToNarrow(Encoding::Utf8, reinterpret_cast<const wchar_t*>(url))
                      : std::string(url);
    options.flags = flags;
    options.download = proc;
    options.user = user;
    options.ended = &Forget;
    std::shared_ptr<Stream> stream;
    if (int error = Stream::Create(options, &stream))
        return Fail(error, HSTREAM(0));
    {
        // Checked and inserted under one hold, so that no BASS_Free comes
        // between the two.
        std::lock_guard<std::mutex> hold(library.lock);
        if (library.initialised && library.generation == generation) {
            // Handles are never reused, so a stale one never reaches a newer stream.
            if (++library.lastHandle == 0)
                ++library.lastHandle;
            library.streams[library.lastHandle] = std::move(stream);
            return Succeed(library.lastHandle);
        }
    }
    // Freed while this one connected (and perhaps initialised again, with
    // another device): it belongs to no table, and lets its device go here,
    // outside the lock.
    stream.reset();
    return Fail(BASS_ERROR_INIT, HSTREAM(0));
}

BOOL SetAttribute(DWORD handle, DWORD attrib, float value) {
    std::shared_ptr<Stream> stream = Find(handle);
    if (!stream)
        return Fail(BASS_ERROR_HANDLE, FALSE);
    if (attrib != BASS_ATTRIB_VOL)
        return Fail(BASS_ERROR_ILLTYPE, FALSE);
    if (std::isnan(value))
        return Fail(BASS_ERROR_ILLPARAM, FALSE);
    stream->SetVolume(value);
    return Succeed(TRUE);
}

BOOL Play(DWORD handle) {
    std::shared_ptr<Stream> stream = Find(handle);
    if (!stream)
        return Fail(BASS_ERROR_HANDLE, FALSE);
    if (int error = stream->Play())
        return Fail(error, FALSE);
    return Succeed(TRUE);
}

BOOL Stop(DWORD handle) {
    Library& library = TheLibrary();
    std::shared_ptr<Stream> stream;
    {
        std::lock_guard<std::mutex> hold(library.lock);
        auto found = library.streams.find(handle);
        if (found == library.streams.end())
            return Fail(BASS_ERROR_HANDLE, FALSE);
        stream = found->second;
        if (stream->AutoFree())
            library.streams.erase(found);
    }
    if (stream->AutoFree())
        stream->Retire();
    else
        stream->Stop();
    return Succeed(TRUE);
}

}  // namespace

BOOL WINAPI BASS_Init(int device, DWORD freq, DWORD flags, HWND win, const void* dsguid) {
    return Guarded(FALSE, [&] { return Init(device); });
}

BOOL WINAPI BASS_Free(void) {
    return Guarded(FALSE, [] { return Free(); });
}

BOOL WINAPI BASS_SetConfigPtr(DWORD option, const void* value) {
    return Guarded(FALSE, [&] { return SetConfigPtr(option, value); });
}

HSTREAM WINAPI BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags,
                                    DOWNLOADPROC* proc, void* user) {
    return Guarded(HSTREAM(0), [&] { return CreateUrl(url, flags, proc, user); });
}

BOOL WINAPI BASS_ChannelSetAttribute(DWORD handle, DWORD attrib, float value) {
    return Guarded(FALSE, [&] { return SetAttribute(handle, attrib, value); });
}

BOOL WINAPI BASS_ChannelPlay(DWORD handle, BOOL restart) {
    // A live stream cannot go back: restart means nothing here.
    return Guarded(FALSE, [&] { return Play(handle); });
}

BOOL WINAPI BASS_ChannelStop(DWORD handle) {
    return Guarded(FALSE, [&] { return Stop(handle); });
}

int WINAPI BASS_ErrorGetCode(void) {
    return lastError;
}
