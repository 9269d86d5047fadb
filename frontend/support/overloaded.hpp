// A visitor assembled from lambdas, for std::visit over the tree's variants:
//
//     std::visit(Overloaded{[](const A& a) {...}, [](const B& b) {...}}, v);
#pragma once

namespace morvane::support {

template <typename... F>
struct Overloaded : F... {
    using F::operator()...;
};

// Spelled out for compilers without deduction for aggregates (clang before 17).
template <typename... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace morvane::support
