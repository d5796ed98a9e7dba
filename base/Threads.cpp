// Threads that hold the library while they run; see Threads.h.
#include "base/Threads.h"

#include <memory>
#include <new>
#include <utility>

std::atomic<int> threadsLeft{0};
std::atomic<int> threadsRunning{0};
std::atomic<int> wrongThreadCalls{0};
void (*wrongThreadHandler)(const char* what) = nullptr;

namespace {

struct ThreadStart {
    std::function<void()> body;
    HMODULE module = nullptr;  // the thread's own reference on the library
};

DWORD WINAPI ThreadEntry(void* parameter) {
    HMODULE module = nullptr;
    {
        std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
        module = start->module;
        Guarded([&] { start->body(); });
        // What the body holds is released here, while the library is still
        // mapped for this thread: the last owner of a shared record may be
        // this thread, long after its starter has gone.
        Guarded([&] { start.reset(); });
    }
    --threadsRunning;
    if (module)
        FreeLibraryAndExitThread(module, 0);
    return 0;
}

}  // namespace

KernelHandle StartOwnThread(std::function<void()> body, DWORD* id) {
    auto start = std::unique_ptr<ThreadStart>(new (std::nothrow) ThreadStart);
    if (!start)
        return KernelHandle();
    start->body = std::move(body);
    // Taken here, not on the thread: the library could otherwise be let go
    // between the start and the thread's first instruction.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&ThreadEntry), &start->module))
        return KernelHandle();
    ++threadsRunning;
    DWORD threadId = 0;
    KernelHandle thread(CreateThread(nullptr, 0, ThreadEntry, start.get(), 0, &threadId));
    if (!thread) {
        --threadsRunning;
        FreeLibrary(start->module);
        return thread;
    }
    start.release();  // the thread's now
    if (id)
        *id = threadId;
    return thread;
}

bool WaitServingSends(HANDLE thread, DWORD timeoutMs) {
    if (!thread)
        return true;
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        const DWORD left = spent >= timeoutMs ? 0 : timeoutMs - spent;
        const DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, left, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0)
            return true;
        if (woke != WAIT_OBJECT_0 + 1)
            return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
        // Peeking delivers the messages sent to this thread.
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        if (left == 0)
            return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    }
}

bool OnOwnThread(DWORD ownerThread, const char* what) {
    if (ownerThread == 0 || ownerThread == GetCurrentThreadId())
        return true;
    ++wrongThreadCalls;
    if (wrongThreadHandler)
        wrongThreadHandler(what);
    return false;
}
