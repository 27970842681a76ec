#include "cmdline/cmdline.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

struct ParseCase {
    std::string tail;
    std::int32_t flags;
};

void PrintTo(const ParseCase& value, std::ostream* out)
{
    *out << testing::PrintToString(value.tail);
}

class ParseExitFlagsTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseExitFlagsTest, ReadsTheLeadingDecimalNumber)
{
    EXPECT_EQ(ParseExitFlags(GetParam().tail.c_str()), GetParam().flags);
}

INSTANTIATE_TEST_SUITE_P(
    Tails, ParseExitFlagsTest,
    testing::Values(ParseCase{"", 0}, ParseCase{"1", 1}, ParseCase{"5", 5}, ParseCase{"12", 12},
                    // White space is the six C classes, and nothing else: not the
                    // bytes either side of them, 0x08 and 0x0E (octal escapes
                    // stop after three digits, so "\0105" is 0x08 then '5').
                    ParseCase{"  +8", 8}, ParseCase{"\t\n\v\f\r 3", 3}, ParseCase{"\0015", 0},
                    ParseCase{"\0105", 0}, ParseCase{"\0165", 0}, ParseCase{"\2405", 0},
                    // The number ends at the first byte that is not a digit.
                    ParseCase{"6abc", 6}, ParseCase{"2 4", 2}, ParseCase{"2,4", 2}, ParseCase{"0x8", 0},
                    ParseCase{"010", 10}, ParseCase{"\"2\"", 0}, ParseCase{"four", 0}, ParseCase{"7\xB9", 7},
                    // One sign at most, directly before the digits.
                    ParseCase{"-0", 0}, ParseCase{"-1", -1}, ParseCase{"+-5", 0}, ParseCase{"-+5", 0},
                    ParseCase{"- 5", 0}, ParseCase{"-", 0}, ParseCase{"+", 0},
                    // Wrap-around modulo 2^32, in either direction.
                    ParseCase{"2147483647", 2147483647}, ParseCase{"2147483648", INT32_MIN},
                    ParseCase{"-2147483648", INT32_MIN}, ParseCase{"4294967295", -1},
                    ParseCase{"4294967296", 0}, ParseCase{"4294967297", 1}, ParseCase{"-4294967297", -1},
                    ParseCase{"99999999999999999999", 1661992959},
                    ParseCase{"00000000000000000000000000000000000000005", 5}));

struct CutCase {
    std::string commandLine;
    std::string tail;
};

void PrintTo(const CutCase& value, std::ostream* out)
{
    *out << testing::PrintToString(value.commandLine);
}

class CutCommandTailTest : public testing::TestWithParam<CutCase> {};

TEST_P(CutCommandTailTest, LeavesTheTailInPlace)
{
    const std::string& line = GetParam().commandLine;
    const std::string& tail = GetParam().tail;
    ASSERT_LE(tail.size(), line.size());
    // The same position in the same text, not an equal copy elsewhere.
    EXPECT_EQ(static_cast<const void*>(CutCommandTail(line.c_str())),
              static_cast<const void*>(line.c_str() + (line.size() - tail.size())));
    EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, CutCommandTailTest,
    testing::Values(CutCase{"", ""}, CutCase{"sessionend.exe", ""}, CutCase{"sessionend.exe 5", "5"},
                    CutCase{"\"C:\\Program Files\\x\\sessionend.exe\" 2", "2"},
                    // A closing quote ends the name without a separator; an
                    // empty quoted name is removed with both quotes.
                    CutCase{"\"a b\"2", "2"}, CutCase{"\"\"9", "9"}, CutCase{"\"a b\"  \t 2 x", "2 x"},
                    // Without a closing quote the name runs to the end.
                    CutCase{"\"a b 5", ""}, CutCase{"\"", ""},
                    // A leading separator means no name: only separators go.
                    CutCase{" 4", "4"}, CutCase{"\tprog 3", "prog 3"}, CutCase{"\x01\x02", ""},
                    // Every byte 0x01..0x20 separates; 0x80..0xFF belong to the name.
                    CutCase{"prog\t\v8", "8"}, CutCase{"prog\0018", "8"},
                    CutCase{"prog\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F\x10"
                            "\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1A\x1B\x1C\x1D\x1E\x1F 7",
                            "7"},
                    CutCase{"pr\x80\xFFog 1", "1"}, CutCase{"a\"b c\" 1", "c\" 1"}));

}  // namespace
