// A heap that makes use after free fail loudly, for the tests linked with it.
//
// Every block freed through operator delete is filled with 0xDD and held back
// from reuse for the next few thousand frees, so a pointer left behind reads
// the pattern (a call through its vtable faults) instead of a new object
// that happens to sit at the same address. A test can also make every
// allocation above a size fail (failAllocationsAbove), to run out of memory
// without the machine running out of it. Any thread. The array and sized
// forms are left to the runtime: linked in statically, they forward to these.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include <malloc.h>

namespace {

constexpr size_t kQuarantine = 4096;
void* held[kQuarantine];
size_t next = 0;
SRWLOCK lock = SRWLOCK_INIT;

}  // namespace

std::atomic<size_t> failAllocationsAbove{0};

void* operator new(size_t size) {
    if (failAllocationsAbove && size > failAllocationsAbove)
        throw std::bad_alloc();
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept {
    if (!block)
        return;
    std::memset(block, 0xDD, _msize(block));
    AcquireSRWLockExclusive(&lock);
    void* oldest = held[next];
    held[next] = block;
    next = (next + 1) % kQuarantine;
    ReleaseSRWLockExclusive(&lock);
    std::free(oldest);
}
