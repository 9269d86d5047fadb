#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "frontend/support/panic.hpp"
#include "frontend/support/stack_room.hpp"
#include "tests/cpp/small_stack.hpp"

namespace morvane::support {
namespace {

// Recurses `depth` levels with a 4 KiB frame each, going through
// with_stack_room at every level, and returns depth + 1 when nothing throws.
// 20,000 levels need about 80 MiB of stack in all: far more than any thread
// has, so the recursion only survives by moving to new segments.
long deep(long depth, long throw_at) {
    volatile char frame[4096];
    std::memset(const_cast<char*>(frame), static_cast<int>(depth & 0x7f), sizeof frame);
    if (depth == throw_at) throw std::string("thrown at " + std::to_string(depth));
    if (depth == 0) return frame[depth % 4096] + 1 - static_cast<int>(depth & 0x7f);
    return with_stack_room([&] { return deep(depth - 1, throw_at); }) + 1;
}

TEST(StackRoom, DeepRecursionRunsOnSmallThreads) {
    for (size_t stack : {size_t{256} << 10, size_t{8} << 20}) {
        long result = 0;
        morvane::testing::run_on_stack_of(stack, [&] { result = deep(20000, -1); });
        EXPECT_EQ(result, 20001) << "stack " << stack;
    }
}

TEST(StackRoom, ExceptionsAndPanicsCrossSegments) {
    std::string caught;
    morvane::testing::run_on_stack_of(size_t{256} << 10, [&] {
        try {
            deep(5000, 3);
        } catch (const std::string& e) {
            caught = e;
        }
    });
    EXPECT_EQ(caught, "thrown at 3");

    std::string panic_text;
    morvane::testing::run_on_stack_of(size_t{256} << 10, [&] {
        try {
            run_on_new_stack([](void*) { panic("broken"); }, nullptr);
        } catch (const Panic& p) {
            panic_text = p.message();
        }
    });
    EXPECT_EQ(panic_text, "broken");
}

TEST(StackRoom, VoidCallsAndRoomCheck) {
    int calls = 0;
    with_stack_room([&] { ++calls; });
    run_on_new_stack([](void* n) { ++*static_cast<int*>(n); }, &calls);
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(stack_has_room(1024));
}

}  // namespace
}  // namespace morvane::support
