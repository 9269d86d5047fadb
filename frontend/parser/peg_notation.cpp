// A recursive-descent reader for the grammar notation. It runs once per
// grammar, on text written by the developers, so every error is a panic
// naming the line.
#include "frontend/parser/peg_notation.hpp"

#include "frontend/support/fill.hpp"
#include "frontend/support/panic.hpp"
#include "frontend/support/utf8.hpp"

namespace morvane::frontend::parser::peg {
namespace {

bool is_name_start(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool is_name_char(char c) { return is_name_start(c) || (c >= '0' && c <= '9'); }

class LineReader {
public:
    LineReader(std::string_view line,
               const std::function<std::optional<uint8_t>(std::string_view)>& lookup)
        : line_(line), lookup_(lookup) {}

    Definition definition() {
        const std::string_view name = read_name();
        const auto rule = lookup_(name);
        if (!rule) fail(support::cat("unknown rule '", name, "'"));
        expect('=');
        Definition def{*rule, choice()};
        skip_blanks();
        if (at_ < line_.size()) fail("unexpected text after the body");
        return def;
    }

private:
    Expr choice() {
        Expr first = sequence();
        if (!peek_is('|')) return first;
        Expr result(Expr::Kind::Choice);
        result.items.push_back(std::move(first));
        while (peek_is('|')) {
            ++at_;
            result.items.push_back(sequence());
        }
        return result;
    }

    Expr sequence() {
        Expr first = prefixed();
        if (!peek_is('~')) return first;
        Expr result(Expr::Kind::Seq);
        result.items.push_back(std::move(first));
        while (peek_is('~')) {
            ++at_;
            result.items.push_back(prefixed());
        }
        return result;
    }

    Expr prefixed() {
        if (peek_is('!')) {
            ++at_;
            return wrap(Expr::Kind::Not, prefixed());
        }
        Expr e = primary();
        for (;;) {
            if (peek_is('?')) {
                e = wrap(Expr::Kind::Opt, std::move(e));
            } else if (peek_is('*')) {
                e = wrap(Expr::Kind::Star, std::move(e));
            } else if (peek_is('+')) {
                e = wrap(Expr::Kind::Plus, std::move(e));
            } else {
                return e;
            }
            ++at_;
        }
    }

    Expr primary() {
        skip_blanks();
        if (at_ >= line_.size()) fail("missing element");
        if (line_[at_] == '(') {
            ++at_;
            Expr inner = choice();
            expect(')');
            return inner;
        }
        if (line_[at_] == '"') {
            std::string text = read_literal();
            if (!line_.substr(at_).starts_with("..")) {
                Expr literal(Expr::Kind::Literal);
                literal.literal = std::move(text);
                return literal;
            }
            at_ += 2;
            skip_blanks();
            const std::string upper = read_literal();
            Expr range(Expr::Kind::Range);
            range.low = single_char(text);
            range.high = single_char(upper);
            if (range.low > range.high) fail("empty range");
            return range;
        }
        const std::string_view name = read_name();
        if (name == "ANY") return Expr(Expr::Kind::Any);
        if (name == "SOI") return Expr(Expr::Kind::Soi);
        const auto rule = lookup_(name);
        if (!rule) fail(support::cat("unknown rule '", name, "'"));
        Expr call(Expr::Kind::Call);
        call.rule = *rule;
        return call;
    }

    std::string read_literal() {
        ++at_;  // the opening quote
        std::string text;
        for (;;) {
            if (at_ >= line_.size()) fail("unterminated literal");
            const char c = line_[at_++];
            if (c == '"') return text;
            if (c != '\\') {
                text += c;
                continue;
            }
            if (at_ >= line_.size()) fail("unterminated literal");
            switch (line_[at_++]) {
                case '"': text += '"'; break;
                case '\\': text += '\\'; break;
                case 't': text += '\t'; break;
                case 'r': text += '\r'; break;
                case 'n': text += '\n'; break;
                default: fail("unknown escape in literal");
            }
        }
    }

    char32_t single_char(std::string_view text) {
        size_t i = 0;
        const char32_t c = support::decode_next(text, i);
        if (text.empty() || i != text.size()) fail("a range bound must be one character");
        return c;
    }

    std::string_view read_name() {
        skip_blanks();
        const size_t begin = at_;
        if (at_ >= line_.size() || !is_name_start(line_[at_])) fail("expected a rule name");
        while (at_ < line_.size() && is_name_char(line_[at_])) ++at_;
        return line_.substr(begin, at_ - begin);
    }

    static Expr wrap(Expr::Kind kind, Expr inner) {
        Expr e(kind);
        e.items.push_back(std::move(inner));
        return e;
    }

    bool peek_is(char c) {
        skip_blanks();
        return at_ < line_.size() && line_[at_] == c;
    }

    void expect(char c) {
        if (!peek_is(c)) fail(support::cat("expected '", c, "'"));
        ++at_;
    }

    void skip_blanks() {
        while (at_ < line_.size() && (line_[at_] == ' ' || line_[at_] == '\t')) ++at_;
    }

    [[noreturn]] void fail(std::string_view what) {
        support::panic(support::cat("grammar notation: ", what, " at column ", at_ + 1, " of: ",
                                    line_));
    }

    std::string_view line_;
    const std::function<std::optional<uint8_t>(std::string_view)>& lookup_;
    size_t at_ = 0;
};

}  // namespace

std::vector<Definition> read_notation(
    std::string_view notation,
    const std::function<std::optional<uint8_t>(std::string_view)>& lookup) {
    std::vector<Definition> definitions;
    while (!notation.empty()) {
        const size_t lf = notation.find('\n');
        std::string_view line = notation.substr(0, lf);
        notation = lf == std::string_view::npos ? std::string_view() : notation.substr(lf + 1);
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line.substr(first).starts_with("//")) continue;
        definitions.push_back(LineReader(line.substr(first), lookup).definition());
    }
    return definitions;
}

}  // namespace morvane::frontend::parser::peg
