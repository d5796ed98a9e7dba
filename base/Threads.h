// The threads of ours inside the shell, and the check that keeps the window
// tree on its own thread.
//
// A thread of ours is never killed: one that cannot end when its starter
// stops waiting is left to end by itself. So every thread is started here:
// it holds its own reference on this library for its whole run and leaves
// through FreeLibraryAndExitThread, so the code it returns into stays mapped
// however long it takes; its body owns everything it touches (what the
// function object holds goes on the thread, before the reference is let go);
// and an exception that escapes the body ends the thread, never the shell.
//
// Any thread.
#pragma once

#include "base/Handles.h"

#include <windows.h>

#include <atomic>
#include <functional>

// Runs body on a thread of its own, as above. Returns the thread's handle,
// empty when no thread could be started (body is then destroyed unrun, on
// the caller's thread). id, when given, receives the thread's id.
KernelHandle StartOwnThread(std::function<void()> body, DWORD* id = nullptr);

// Runs f, swallowing whatever it throws: the barrier at each step of a
// thread of ours. Returns whether f ran to its end.
template <class F>
bool Guarded(F&& f) noexcept {
    try {
        f();
        return true;
    } catch (...) {
        return false;
    }
}

// Waits up to timeoutMs for thread to end, meanwhile serving the messages
// that other threads send to this one (a delivery that thread is waiting on
// must not keep it from ending). True when it ended. The handle stays open.
bool WaitServingSends(HANDLE thread, DWORD timeoutMs);

// Threads whose starter stopped waiting for them: each then ended, or will
// end, by itself. Counted for the tests and the benchmark.
extern std::atomic<int> threadsLeft;
// Threads of ours that are still running (started here, not yet ended).
extern std::atomic<int> threadsRunning;

// The window-thread check. A window tree, its layers and its invalidation
// belong to the thread that made them; a call from another thread is a
// fault. The call is refused (the caller skips its work) and counted, and
// the handler, when set (the tests set one), is told what was called.
bool OnOwnThread(DWORD ownerThread, const char* what);
extern std::atomic<int> wrongThreadCalls;
extern void (*wrongThreadHandler)(const char* what);
