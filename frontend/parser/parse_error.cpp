// Positions and the text of parse errors.
#include "frontend/parser/parse_error.hpp"

#include <algorithm>

#include "frontend/support/utf8.hpp"

namespace morvane::frontend::parser {
namespace {

// Start of the line holding `offset`: just after the last LF before it.
size_t line_start(std::string_view text, size_t offset) {
    const size_t lf = text.substr(0, offset).rfind('\n');
    return lf == std::string_view::npos ? 0 : lf + 1;
}

// The line holding `offset`, up to and including the next LF at or after it,
// with every CR and LF removed.
std::string shown_line(std::string_view text, size_t offset) {
    const size_t begin = line_start(text, offset);
    size_t end = text.find('\n', offset);
    end = end == std::string_view::npos ? text.size() : end + 1;
    std::string line;
    line.reserve(end - begin);
    for (char c : text.substr(begin, end - begin)) {
        if (c != '\r' && c != '\n') line += c;
    }
    return line;
}

// The first `width` characters of `line`, tabs kept and every other
// character a space, then the caret.
std::string underline(std::string_view line, size_t width) {
    std::string out;
    size_t i = 0;
    for (size_t n = 0; n < width && i < line.size(); ++n) {
        const char c = line[i];
        support::decode_next(line, i);
        out += c == '\t' ? '\t' : ' ';
    }
    out += "^---";
    return out;
}

}  // namespace

LineCol line_col(std::string_view text, size_t offset) {
    offset = std::min(offset, text.size());
    const std::string_view before = text.substr(0, offset);
    const size_t begin = line_start(text, offset);
    LineCol result;
    result.line = 1 + static_cast<uint32_t>(std::count(before.begin(), before.end(), '\n'));
    result.column = 1 + static_cast<uint32_t>(support::char_count(before.substr(begin)));
    return result;
}

Error::Error(Kind kind, std::string_view source, size_t position, std::vector<Rule> expected,
             std::string message)
    : kind_(kind),
      position_(position),
      line_col_(parser::line_col(source, position)),
      expected_(std::move(expected)),
      line_(shown_line(source, position)),
      message_(std::move(message)) {
    const std::string number = std::to_string(line_col_.line);
    const std::string gutter(number.size(), ' ');
    text_ = gutter + "--> " + number + ":" + std::to_string(line_col_.column) + "\n";
    text_ += gutter + " |\n";
    text_ += number + " | " + line_ + "\n";
    text_ += gutter + " | " + underline(line_, line_col_.column - 1) + "\n";
    text_ += gutter + " |\n";
    text_ += gutter + " = " + message_;
}

Error Error::too_large(std::string_view source, size_t position, std::string message) {
    return Error(Kind::TextTooLarge, position, parser::line_col(source, position),
                 std::move(message));
}

Error::Error(Kind kind, size_t position, LineCol line_col, std::string message)
    : kind_(kind), position_(position), line_col_(line_col), message_(std::move(message)) {
    text_ = message_;
}

std::string expected_message(const std::vector<Rule>& expected,
                             const std::vector<std::string_view>& names) {
    std::string out = "expected ";
    const size_t count = expected.size();
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) out += count == 2 ? " or " : (i + 1 == count ? ", or " : ", ");
        out += names[rule_value(expected[i])];
    }
    return out;
}

}  // namespace morvane::frontend::parser
