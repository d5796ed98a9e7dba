// The network end of a stream: an HTTP GET over a plain socket, directly or
// through a proxy, whose body is read as it arrives.
//
// Open runs on the thread that creates the stream and blocks until the
// server's answer head has come (or a bound has passed); Read runs on the
// stream's playing thread and returns early when the given stop event is
// set, so a stop never waits for the network.
#pragma once

// Winsock before the rest of the system's headers, which would otherwise
// bring its first version.
#include <winsock2.h>

#include "base/Handles.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct SocketTraits {
    using Native = SOCKET;
    static Native Empty() { return INVALID_SOCKET; }
    static void Close(Native socket) { closesocket(socket); }
};
using Socket = UniqueHandle<SocketTraits>;

struct NetEventTraits {
    using Native = WSAEVENT;
    static Native Empty() { return WSA_INVALID_EVENT; }
    static void Close(Native event) { WSACloseEvent(event); }
};
using NetEvent = UniqueHandle<NetEventTraits>;

// A reference on Winsock, held by each source with its socket: the last
// WSACleanup resets every socket of the process, and BASS_Free's may come
// while another thread's open is still under way, or while a playing thread
// that a stop could not wait for still reads.
class WinsockUse {
public:
    WinsockUse() = default;
    ~WinsockUse() {
        if (started_)
            WSACleanup();
    }
    WinsockUse(const WinsockUse&) = delete;
    WinsockUse& operator=(const WinsockUse&) = delete;

    bool Start() {
        WSADATA data;
        if (!started_)
            started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        return started_;
    }

private:
    bool started_ = false;
};

// The longest the network may keep a caller waiting for one step (connect,
// answer, the next bytes of the body).
constexpr DWORD kNetTimeoutMs = 10000;

// What is left of a wait that must end by deadline (a GetTickCount64 time).
inline DWORD MsUntil(ULONGLONG deadline) {
    ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : DWORD(deadline - now);
}

class NetSource {
public:
    enum class Result { Ok, Ended, Stopped, TimedOut, Failed };

    // Connects to url ("http://host[:port]/path") or to the proxy
    // ("[login:password@]host:port", empty for none), sends the request,
    // follows a few redirections and reads the answer head. Returns a BASS
    // error code, BASS_OK when the server answered 200 and the body follows.
    int Open(const std::string& url, const std::string& proxy);

    // The answer's status line, for the download callback.
    const std::string& StatusLine() const { return statusLine_; }

    // Reads up to size bytes of the body into buffer; count receives how
    // many (only with Ok). Waits at most timeoutMs for data, less when stop
    // (may be null) is set.
    Result Read(uint8_t* buffer, size_t size, size_t* count, HANDLE stop, DWORD timeoutMs);

private:
    int Connect(const std::string& host, const std::string& port);
    int Request(const std::string& url, const std::string& proxy, std::string* location);
    bool SendAll(const std::string& text);
    Result Wait(DWORD timeoutMs, HANDLE stop);

    WinsockUse winsock_;  // first, so that it goes after the socket and the event
    Socket socket_;
    NetEvent event_;
    std::string statusLine_;
    std::string pending_;  // body bytes that came with the answer head
    size_t pendingAt_ = 0;
};
