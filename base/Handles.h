// Owners of the system's handles: one template, one traits record per kind.
//
// Every handle the library opens is held by one of these, so no early return
// can leak it and none is closed twice. The traits name the empty value and
// the call that closes; the owner is moved, never copied. Kinds that belong
// to one subsystem (WinHTTP, GDI, GDI+) define their traits beside it with
// this template.
#pragma once

#include <windows.h>

#include <utility>

template <class Traits>
class UniqueHandle {
public:
    using Native = typename Traits::Native;

    UniqueHandle() = default;
    explicit UniqueHandle(Native handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Native get() const { return handle_; }
    explicit operator bool() const { return handle_ != Traits::Empty(); }
    // For the calls that hand a new handle back through a pointer; closes
    // the one held first.
    Native* put() {
        reset();
        return &handle_;
    }
    Native release() { return std::exchange(handle_, Traits::Empty()); }
    void reset(Native handle = Traits::Empty()) {
        Native old = std::exchange(handle_, handle);
        if (old != Traits::Empty())
            Traits::Close(old);
    }

private:
    Native handle_ = Traits::Empty();
};

struct RegistryKeyTraits {
    using Native = HKEY;
    static Native Empty() { return nullptr; }
    static void Close(Native key) { RegCloseKey(key); }
};

// Kernel objects whose failure value is null: mappings, threads, events,
// waitable timers, processes.
struct KernelHandleTraits {
    using Native = HANDLE;
    static Native Empty() { return nullptr; }
    static void Close(Native handle) { CloseHandle(handle); }
};

// Files, whose failure value is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Native = HANDLE;
    static Native Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Native handle) { CloseHandle(handle); }
};

struct MappedViewTraits {
    using Native = void*;
    static Native Empty() { return nullptr; }
    static void Close(Native view) { UnmapViewOfFile(view); }
};

using RegistryKey = UniqueHandle<RegistryKeyTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using MappedView = UniqueHandle<MappedViewTraits>;
