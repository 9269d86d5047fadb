#include "frontend/support/utf8.hpp"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace morvane::support {
namespace {

struct CodePointRange {
    char32_t first;
    char32_t last;
};

#include "frontend/support/unicode_tables.inc"

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

size_t char_count(std::string_view s) {
    size_t n = 0;
    for (const char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

char32_t decode_next(std::string_view s, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    size_t len = 0;
    char32_t cp = 0;
    if ((b0 & 0xE0) == 0xC0) len = 2, cp = b0 & 0x1F;
    else if ((b0 & 0xF0) == 0xE0) len = 3, cp = b0 & 0x0F;
    else if ((b0 & 0xF8) == 0xF0) len = 4, cp = b0 & 0x07;
    if (len == 0 || i + len > s.size()) {
        ++i;
        return kReplacement;
    }
    for (size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    i += len;
    return cp;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool is_white_space(char32_t c) {
    switch (c) {
        case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20:
        case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029:
        case 0x202F: case 0x205F: case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

std::string remove_white_space(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const size_t start = i;
        if (!is_white_space(decode_next(s, i))) out.append(s.substr(start, i - start));
    }
    return out;
}

std::string_view trim_white_space(std::string_view s) {
    size_t begin = 0;
    while (begin < s.size()) {
        size_t next = begin;
        if (!is_white_space(decode_next(s, next))) break;
        begin = next;
    }
    size_t end = begin;
    for (size_t i = begin; i < s.size();) {
        if (!is_white_space(decode_next(s, i))) end = i;
    }
    return s.substr(begin, end - begin);
}

bool debug_escapes(char32_t c) {
    if (c < 0x80) return c < 0x20 || c == 0x7F;
    const auto* it = std::upper_bound(std::begin(kDebugEscapedRanges), std::end(kDebugEscapedRanges), c,
                                      [](char32_t v, const CodePointRange& r) { return v < r.first; });
    return it != std::begin(kDebugEscapedRanges) && c <= std::prev(it)->last;
}

void append_debug_string(std::string& out, std::string_view s) {
    out += '"';
    for (size_t i = 0; i < s.size();) {
        const size_t start = i;
        const char32_t c = decode_next(s, i);
        switch (c) {
            case '"': out += "\\\""; continue;
            case '\\': out += "\\\\"; continue;
            case '\t': out += "\\t"; continue;
            case '\r': out += "\\r"; continue;
            case '\n': out += "\\n"; continue;
            case '\0': out += "\\0"; continue;
            default: break;
        }
        if (debug_escapes(c)) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(c));
            out += buf;
        } else {
            out.append(s.substr(start, i - start));
        }
    }
    out += '"';
}

}  // namespace morvane::support
