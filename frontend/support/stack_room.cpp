// Stack segments for deep recursion: the stack check and the switch to a
// fresh segment (see stack_room.hpp).
//
// The lowest usable address of the thread's stack is read once per thread
// from pthread_getattr_np and replaced while a segment is in use. Segments are
// mapped with a guard page below them, so even a frame larger than the red
// zone faults cleanly instead of writing over other memory. The switch uses
// ucontext; AddressSanitizer is told about every switch, so it keeps tracking
// the stacks correctly.
#include "frontend/support/stack_room.hpp"

#include <pthread.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdint>
#include <exception>
#include <new>

// GCC defines __SANITIZE_ADDRESS__ under AddressSanitizer; clang tells it
// through __has_feature.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MORVANE_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(MORVANE_ASAN)
#include <sanitizer/common_interface_defs.h>
#define MORVANE_ASAN_FIBERS 1
#endif

namespace morvane::support {
namespace {

// Lowest address the current stack may grow down to; 0 until first read.
thread_local std::uintptr_t tl_stack_low = 0;

std::uintptr_t read_stack_low() noexcept {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
    void* addr = nullptr;
    std::size_t size = 0;
    const int rc = pthread_attr_getstack(&attr, &addr, &size);
    pthread_attr_destroy(&attr);
    return rc == 0 ? reinterpret_cast<std::uintptr_t>(addr) : 0;
}

std::uintptr_t current_stack_pointer() noexcept {
    return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
}

// A mapped stack segment with an inaccessible guard page at its low end.
class Segment {
public:
    Segment() {
        page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        total_ = kStackSegmentSize + page_;
        void* p = mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        base_ = static_cast<char*>(p);
        mprotect(base_, page_, PROT_NONE);
    }
    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;
    ~Segment() { munmap(base_, total_); }

    char* low() const noexcept { return base_ + page_; }
    std::size_t size() const noexcept { return kStackSegmentSize; }

private:
    char* base_ = nullptr;
    std::size_t page_ = 0;
    std::size_t total_ = 0;
};

// What the code on the segment needs: the call, where to return, and the
// exception to hand back.
struct Switch {
    void (*fn)(void*);
    void* arg;
    std::exception_ptr error;
    ucontext_t caller;
    ucontext_t callee;
#ifdef MORVANE_ASAN_FIBERS
    void* caller_fake_stack = nullptr;
    const void* caller_bottom = nullptr;
    std::size_t caller_size = 0;
#endif
};

// The switch being entered; read by the segment's entry before anything
// else can run on this thread.
thread_local Switch* tl_entering = nullptr;

void segment_entry() {
    Switch* sw = tl_entering;
#ifdef MORVANE_ASAN_FIBERS
    __sanitizer_finish_switch_fiber(nullptr, &sw->caller_bottom, &sw->caller_size);
#endif
    try {
        sw->fn(sw->arg);
    } catch (...) {
        sw->error = std::current_exception();
    }
#ifdef MORVANE_ASAN_FIBERS
    // This segment is never re-entered, so its fake frames can go.
    __sanitizer_start_switch_fiber(nullptr, sw->caller_bottom, sw->caller_size);
#endif
    setcontext(&sw->caller);
}

}  // namespace

bool stack_has_room(std::size_t bytes) noexcept {
    if (tl_stack_low == 0) tl_stack_low = read_stack_low();
    if (tl_stack_low == 0) return true;  // unknown stack: nothing to judge by
    const std::uintptr_t sp = current_stack_pointer();
    return sp > tl_stack_low && sp - tl_stack_low > bytes;
}

void run_on_new_stack(void (*fn)(void*), void* arg) {
    Segment segment;
    Switch sw{fn, arg, nullptr, {}, {}};
    if (getcontext(&sw.callee) != 0) throw std::bad_alloc();
    sw.callee.uc_stack.ss_sp = segment.low();
    sw.callee.uc_stack.ss_size = segment.size();
    sw.callee.uc_link = nullptr;
    makecontext(&sw.callee, segment_entry, 0);

    if (tl_stack_low == 0) tl_stack_low = read_stack_low();
    const std::uintptr_t saved_low = tl_stack_low;
    tl_stack_low = reinterpret_cast<std::uintptr_t>(segment.low());
    tl_entering = &sw;
#ifdef MORVANE_ASAN_FIBERS
    void* fake_stack = nullptr;
    __sanitizer_start_switch_fiber(&fake_stack, segment.low(), segment.size());
#endif
    swapcontext(&sw.caller, &sw.callee);
#ifdef MORVANE_ASAN_FIBERS
    __sanitizer_finish_switch_fiber(fake_stack, nullptr, nullptr);
#endif
    tl_stack_low = saved_low;
    if (sw.error) std::rethrow_exception(sw.error);
}

}  // namespace morvane::support
