// "{}" message templates.
//
// Every message of the system is a fixed English text with "{}" holes,
// filled left to right. Arguments are texts or integers; a double must be
// rendered explicitly (plain_number, debug_number, fixed6_number) so that the
// choice of number form is visible at the call site.
#pragma once

#include <concepts>
#include <string>
#include <string_view>
#include <type_traits>

namespace morvane::support {

namespace detail {

inline void append_arg(std::string& out, std::string_view s) { out += s; }
inline void append_arg(std::string& out, const std::string& s) { out += s; }
inline void append_arg(std::string& out, const char* s) { out += s; }
inline void append_arg(std::string& out, char c) { out += c; }

template <std::integral I>
    requires(!std::same_as<I, bool> && !std::same_as<I, char>)
void append_arg(std::string& out, I v) {
    out += std::to_string(v);
}

template <typename T>
    requires std::floating_point<std::remove_cvref_t<T>>
void append_arg(std::string&, T) = delete;  // pick a number form explicitly

// Appends the template up to its next "{}" and returns the rest after it.
std::string_view append_until_hole(std::string& out, std::string_view tmpl);

}  // namespace detail

// fill("unknown flow '{}'", name) == "unknown flow 'name'". Holes without an
// argument stay as written; an argument without a hole is appended at the end.
template <typename... Args>
std::string fill(std::string_view tmpl, const Args&... args) {
    std::string out;
    out.reserve(tmpl.size() + 16 * sizeof...(Args));
    ((tmpl = detail::append_until_hole(out, tmpl), detail::append_arg(out, args)), ...);
    out += tmpl;
    return out;
}

// Concatenation of texts and integers.
template <typename... Args>
std::string cat(const Args&... args) {
    std::string out;
    (detail::append_arg(out, args), ...);
    return out;
}

}  // namespace morvane::support
