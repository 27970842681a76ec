#include "cmdline/cmdline.h"

namespace {

constexpr unsigned char kQuote = 0x22;
constexpr unsigned char kSpace = 0x20;
constexpr unsigned char kLastSeparator = kSpace;
constexpr unsigned char kTab = 0x09;
constexpr unsigned char kCarriageReturn = 0x0D;
constexpr std::uint32_t kRadix = 10;

// Bytes are compared as 0..255 whatever the signedness of char.
unsigned char ByteAt(const char* position)
{
    return static_cast<unsigned char>(*position);
}

// Deliberately not the C locale's isspace/isdigit: the classes must not move
// with a locale or code page, and bytes 0x80..0xFF belong to neither.
// Tab, line feed, vertical tab, form feed, carriage return and space.
bool IsWhiteSpace(unsigned char byte)
{
    return byte == kSpace || (byte >= kTab && byte <= kCarriageReturn);
}

bool IsDigit(unsigned char byte)
{
    return byte >= '0' && byte <= '9';
}

}  // namespace

const char* CutCommandTail(const char* commandLine)
{
    const char* position = commandLine;
    if (ByteAt(position) == kQuote) {
        ++position;
        while (ByteAt(position) != 0 && ByteAt(position) != kQuote) {
            ++position;
        }
        // A closing quote ends the name even when a digit follows it directly.
        if (ByteAt(position) == kQuote) {
            ++position;
        }
    } else {
        // A line that starts with a separator has no name to remove; this
        // loop then stops at once.
        while (ByteAt(position) > kLastSeparator) {
            ++position;
        }
    }
    while (ByteAt(position) != 0 && ByteAt(position) <= kLastSeparator) {
        ++position;
    }
    return position;
}

std::int32_t ParseExitFlags(const char* commandTail)
{
    const char* position = commandTail;
    while (IsWhiteSpace(ByteAt(position))) {
        ++position;
    }
    const bool negative = ByteAt(position) == '-';
    if (negative || ByteAt(position) == '+') {
        ++position;
    }
    // Unsigned so that wrapping past 2^32 is defined rather than overflow.
    std::uint32_t value = 0;
    while (IsDigit(ByteAt(position))) {
        value = value * kRadix + static_cast<std::uint32_t>(ByteAt(position) - '0');
        ++position;
    }
    if (negative) {
        value = 0U - value;
    }
    return static_cast<std::int32_t>(value);
}
