// Parse errors and source positions.
//
// A parse error points at one byte offset of the source and reads, as text:
//
//    --> L:K
//     |
//   L | the source line holding the offset
//     |    ^---
//     |
//     = expected a, b, or c
//
// The gutter is as wide as the line number. Lines and columns are 1-based;
// columns count characters, not bytes. An error about a text too large to
// parse quotes nothing: its text is the message alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/parser/rules.hpp"

namespace morvane::frontend::parser {

struct LineCol {
    uint32_t line = 1;
    uint32_t column = 1;
    bool operator==(const LineCol&) const = default;
};

// Line: 1 + the number of line feeds before `offset`. Column: 1 + the number
// of characters between the last line feed before `offset` (or the start of
// the text) and `offset`; a lone carriage return and a tab count one each.
// `offset` must lie on a character boundary, at most text.size().
LineCol line_col(std::string_view text, size_t offset);

class Error {
public:
    enum class Kind : uint8_t {
        // No rule could go on at the position; expected() names the rules
        // that were tried there.
        ParsingError,
        // Rules nested deeper than the parser's limit; expected() is empty.
        NestingTooDeep,
        // A text, or its tree, larger than 32-bit offsets and indexes can
        // address; expected() is empty, line() is empty and text() is the
        // message alone.
        TextTooLarge,
    };

    // `message` is the text of the last line after "= ".
    Error(Kind kind, std::string_view source, size_t position, std::vector<Rule> expected,
          std::string message);

    // A TextTooLarge error at `position`. Neither it nor its text reads the
    // source beyond that position or copies any of it: refusing a text of
    // gigabytes costs nothing.
    static Error too_large(std::string_view source, size_t position, std::string message);

    Kind kind() const { return kind_; }
    // Byte offset of the error in the source.
    size_t position() const { return position_; }
    LineCol line_col() const { return line_col_; }
    // The rules expected at the position, ascending by value, no duplicates.
    const std::vector<Rule>& expected() const { return expected_; }
    // The source line holding the position, without CR and LF.
    const std::string& line() const { return line_; }
    // "expected ..." (or the nesting message).
    const std::string& message() const { return message_; }
    // The six-line text, with no line feed at the end.
    const std::string& text() const { return text_; }

private:
    Error(Kind kind, size_t position, LineCol line_col, std::string message);

    Kind kind_;
    size_t position_;
    LineCol line_col_;
    std::vector<Rule> expected_;
    std::string line_;
    std::string message_;
    std::string text_;
};

// "expected a", "expected a or b", "expected a, b, or c", naming each rule by
// `names` (indexed by rule value).
std::string expected_message(const std::vector<Rule>& expected,
                             const std::vector<std::string_view>& names);

}  // namespace morvane::frontend::parser
