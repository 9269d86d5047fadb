// Recursion that is safe on any thread stack.
//
// A few walks recurse by nature: a function call in an expression evaluates
// its arguments through the caller's context, `exists` tests nest inside
// where-clauses, a fold's init is a metric expression of its own. The parser
// bounds how deep such nesting can go, but not how much stack one level takes:
// that depends on the build (sanitizers enlarge every frame) and on the thread,
// and Python threads may have as little as 256 KiB.
//
// with_stack_room(fn) therefore calls fn directly while the current stack has
// more than kStackRedZone bytes left, and otherwise runs it on a fresh stack
// segment of kStackSegmentSize bytes taken from the heap; fn's result or
// exception is handed back on the original stack. Placed at each point where
// a walk recurses, it makes the walk's depth limited by memory only. The check
// costs one comparison; a segment is made only when a stack runs low.
#pragma once

#include <cstddef>
#include <optional>
#include <type_traits>
#include <utility>

namespace morvane::support {

inline constexpr std::size_t kStackRedZone = 64 * 1024;
inline constexpr std::size_t kStackSegmentSize = 1024 * 1024;

// True when the calling thread's current stack has more than `bytes` left.
bool stack_has_room(std::size_t bytes = kStackRedZone) noexcept;

// Runs fn(arg) on a new stack segment and returns when it returns; whatever
// it throws (ExecError, Panic, ...) is rethrown here.
void run_on_new_stack(void (*fn)(void*), void* arg);

template <typename F>
decltype(auto) with_stack_room(F&& fn) {
    if (stack_has_room()) return std::forward<F>(fn)();
    using R = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<R>) {
        run_on_new_stack([](void* f) { (*static_cast<std::remove_reference_t<F>*>(f))(); },
                         &fn);
    } else {
        struct Call {
            std::remove_reference_t<F>* fn;
            std::optional<R> result;
        } call{&fn, std::nullopt};
        run_on_new_stack(
            [](void* c) {
                auto* call = static_cast<Call*>(c);
                call->result.emplace((*call->fn)());
            },
            &call);
        return R(std::move(*call.result));
    }
}

}  // namespace morvane::support
