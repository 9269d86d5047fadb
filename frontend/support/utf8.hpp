// UTF-8 helpers: character counts for columns, the Unicode White_Space set,
// and the escaped form of strings in debug text.
//
// Texts are UTF-8 throughout; positions are byte offsets and columns are
// counted in code points. Nothing here depends on the C locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace morvane::support {

// Number of code points in `s` (bytes that are not continuation bytes).
size_t char_count(std::string_view s);

// Decodes the code point starting at s[i] and advances i past it. Invalid
// sequences decode as U+FFFD one byte at a time.
char32_t decode_next(std::string_view s, size_t& i);

// Appends the UTF-8 encoding of `c`.
void append_utf8(std::string& out, char32_t c);

// The Unicode White_Space property (25 code points).
bool is_white_space(char32_t c);

// `s` with every White_Space character removed.
std::string remove_white_space(std::string_view s);

// `s` without leading and trailing White_Space characters.
std::string_view trim_white_space(std::string_view s);

// Appends `s` as a double-quoted debug string: \" \\ \t \r \n \0 escapes,
// \u{hex} for non-printable and grapheme-extending characters, everything
// else (the single quote and printable non-ASCII included) unchanged.
void append_debug_string(std::string& out, std::string_view s);

// True when the debug text writes `c` as \u{hex}.
bool debug_escapes(char32_t c);

}  // namespace morvane::support
