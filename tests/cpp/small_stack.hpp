// Test support: run code on a thread with a small stack, where anything that
// recursed once per level of nesting would crash long before the limits the
// parser enforces.
#pragma once

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace morvane::testing {

inline void run_on_stack_of(size_t stack_bytes, const std::function<void()>& body) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stack_bytes);
    pthread_t thread;
    auto trampoline = [](void* arg) -> void* {
        (*static_cast<const std::function<void()>*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, trampoline, const_cast<std::function<void()>*>(&body)),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

// `unit` written `count` times.
inline std::string repeat(std::string_view unit, size_t count) {
    std::string out;
    out.reserve(unit.size() * count);
    for (size_t i = 0; i < count; ++i) out += unit;
    return out;
}

}  // namespace morvane::testing
