#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "frontend/support/fill.hpp"
#include "frontend/support/number_text.hpp"
#include "frontend/support/panic.hpp"
#include "frontend/support/utf8.hpp"

namespace morvane::support {
namespace {

struct NumberCase {
    double value;
    const char* debug;
    const char* plain;
};

TEST(NumberText, DebugAndPlainForms) {
    const double below_1e16 = std::nextafter(1e16, 0.0);
    const NumberCase cases[] = {
        {1.0, "1.0", "1"},
        {0.5, "0.5", "0.5"},
        {-2.0, "-2.0", "-2"},
        {0.0, "0.0", "0"},
        {-0.0, "-0.0", "-0"},
        {0.0001, "0.0001", "0.0001"},
        {9e-5, "9e-5", "0.00009"},
        {1e-5, "1e-5", "0.00001"},
        {1.5e-7, "1.5e-7", "0.00000015"},
        {0.1 + 0.2, "0.30000000000000004", "0.30000000000000004"},
        {1e15, "1000000000000000.0", "1000000000000000"},
        {below_1e16, "9999999999999998.0", "9999999999999998"},
        {1e16, "1e16", "10000000000000000"},
        {1.2345e20, "1.2345e20", "123450000000000000000"},
        {5e-324, "5e-324", nullptr},
        {1.7976931348623157e308, "1.7976931348623157e308", nullptr},
        {std::nan(""), "NaN", "NaN"},
        {-std::nan(""), "NaN", "NaN"},
        {HUGE_VAL, "inf", "inf"},
        {-HUGE_VAL, "-inf", "-inf"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(debug_number(c.value), c.debug) << c.debug;
        if (c.plain) {
            EXPECT_EQ(plain_number(c.value), c.plain) << c.debug;
        }
    }
    EXPECT_EQ(plain_number(1e308), "1" + std::string(308, '0'));
    EXPECT_EQ(plain_number(5e-324), "0." + std::string(323, '0') + "5");
}

TEST(NumberText, SixDecimals) {
    EXPECT_EQ(fixed6_number(10.1), "10.100000");
    EXPECT_EQ(fixed6_number(-0.0000004), "-0.000000");
    EXPECT_EQ(fixed6_number(2.0000005), "2.000001");
    EXPECT_EQ(fixed6_number(HUGE_VAL), "inf");
    EXPECT_EQ(fixed6_number(std::nan("")), "NaN");
}

TEST(NumberText, TokensSaturate) {
    EXPECT_EQ(read_number_token("007.50"), 7.5);
    EXPECT_TRUE(std::signbit(read_number_token("-0")));
    EXPECT_EQ(read_number_token(std::string(400, '9')), HUGE_VAL);
    std::string negative_huge(401, '9');
    negative_huge[0] = '-';
    EXPECT_EQ(read_number_token(negative_huge), -HUGE_VAL);
    EXPECT_EQ(read_number_token("0." + std::string(323, '0') + "5"), 5e-324);
    const double tiny = read_number_token("-0." + std::string(400, '0') + "1");
    EXPECT_EQ(tiny, 0.0);
    EXPECT_TRUE(std::signbit(tiny));
}

TEST(NumberText, GeneralFloatSyntax) {
    EXPECT_EQ(parse_float("2"), 2.0);
    EXPECT_EQ(parse_float("+2.5"), 2.5);
    EXPECT_EQ(parse_float(".5"), 0.5);
    EXPECT_EQ(parse_float("1."), 1.0);
    EXPECT_EQ(parse_float("1e3"), 1000.0);
    EXPECT_EQ(parse_float("1E+3"), 1000.0);
    EXPECT_EQ(parse_float("-inf"), -HUGE_VAL);
    EXPECT_EQ(parse_float("Infinity"), HUGE_VAL);
    EXPECT_TRUE(std::isnan(*parse_float("NaN")));
    EXPECT_EQ(parse_float("1e400"), HUGE_VAL);
    for (const char* bad : {"", "-", ".", "e5", "1e", "1.2.3", "/*note*/2", " 2", "0x10"}) {
        EXPECT_FALSE(parse_float(bad).has_value()) << bad;
    }
}

TEST(Fill, HolesLeftToRight) {
    EXPECT_EQ(fill("unknown flow '{}'", "f"), "unknown flow 'f'");
    EXPECT_EQ(fill("{} of {}: {}", std::string("a"), std::string_view("b"), 3), "a of b: 3");
    EXPECT_EQ(fill("no holes"), "no holes");
    EXPECT_EQ(fill("{} and {}", "x"), "x and {}");
    EXPECT_EQ(cat("n=", 4u, " ", plain_number(0.5)), "n=4 0.5");
}

TEST(Utf8, CountsAndWhiteSpace) {
    EXPECT_EQ(char_count("a\xC3\xA9z"), 3u);                      // aéz
    EXPECT_EQ(char_count("\xF0\x9F\x98\x80"), 1u);                // one emoji
    EXPECT_EQ(remove_white_space(" a\t\n b\xC2\xA0" "c\xE3\x80\x80"), "abc");  // NBSP, U+3000
    EXPECT_EQ(remove_white_space("/*\xC2\xA0*/2"), "/**/2");
    EXPECT_EQ(trim_white_space("\xE3\x80\x80 x y \n"), "x y");
    EXPECT_EQ(trim_white_space("\xE3\x80\x80"), "");
    for (char32_t c : {0x0Bu, 0x0Cu, 0x85u, 0x1680u, 0x2000u, 0x200Au, 0x2028u, 0x2029u, 0x202Fu,
                       0x205Fu}) {
        EXPECT_TRUE(is_white_space(c)) << static_cast<unsigned>(c);
    }
    for (char32_t c : {0x200Bu, 0x180Eu, 0xFEFFu, 0x61u}) EXPECT_FALSE(is_white_space(c));
}

TEST(Utf8, DebugStrings) {
    const auto debug = [](std::string_view s) {
        std::string out;
        append_debug_string(out, s);
        return out;
    };
    EXPECT_EQ(debug(""), "\"\"");
    EXPECT_EQ(debug("it's"), "\"it's\"");
    EXPECT_EQ(debug("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(debug(std::string_view("\t\r\n\0", 4)), "\"\\t\\r\\n\\0\"");
    EXPECT_EQ(debug("\x01\x7F"), "\"\\u{1}\\u{7f}\"");
    EXPECT_EQ(debug("caf\xC3\xA9"), "\"caf\xC3\xA9\"");                 // printable é unchanged
    EXPECT_EQ(debug("\xC2\xA0"), "\"\\u{a0}\"");                        // NBSP
    EXPECT_EQ(debug("\xC2\xAD"), "\"\\u{ad}\"");                        // soft hyphen (Cf)
    EXPECT_EQ(debug("e\xCC\x81"), "\"e\\u{301}\"");                     // combining acute
    EXPECT_EQ(debug("\xE2\x80\xA8"), "\"\\u{2028}\"");                  // line separator
    EXPECT_EQ(debug("\xEE\x80\x80"), "\"\\u{e000}\"");                  // private use
    EXPECT_EQ(debug("\xF0\x9F\x98\x80"), "\"\xF0\x9F\x98\x80\"");       // emoji unchanged
    EXPECT_EQ(debug("\xF4\x8F\xBF\xBF"), "\"\\u{10ffff}\"");            // unassigned
}

TEST(Panic, IsNotAStdException) {
    static_assert(!std::is_base_of_v<std::exception, Panic>);
    try {
        panic("All Dirichlet concentrations must be > 0");
    } catch (const Panic& p) {
        EXPECT_EQ(p.message(), "All Dirichlet concentrations must be > 0");
    }
}

}  // namespace
}  // namespace morvane::support
