// Every command line, whatever its bytes, through the cut and the parse. The
// text sits in a heap block of exactly its size, so AddressSanitizer sees any
// read past its end. What the run does with the flags is the emulator's.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cmdline/cmdline.h"

namespace {

void Require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

bool IsWhiteSpace(unsigned char byte)
{
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}
bool IsDigit(unsigned char byte)
{
    return byte >= '0' && byte <= '9';
}

std::unique_ptr<char[]> CopyOf(const char* bytes, std::size_t size)
{
    auto copy = std::make_unique<char[]>(size);
    std::memcpy(copy.get(), bytes, size);
    return copy;
}

void CheckTail(const char* text, std::size_t length, const char* tail)
{
    Require(tail >= text && tail <= text + length);
    const auto first = static_cast<unsigned char>(*tail);
    Require(first == 0 || first > 0x20);
}

void CheckParse(const char* tail)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(tail);
    std::size_t sign = 0;
    while (IsWhiteSpace(bytes[sign])) {
        ++sign;
    }
    const bool hasSign = bytes[sign] == '-' || bytes[sign] == '+';
    const std::size_t digits = sign + (hasSign ? 1 : 0);
    std::size_t end = digits;
    while (IsDigit(bytes[end])) {
        ++end;
    }
    const std::int32_t flags = ParseExitFlags(tail);

    // Up to the byte that ends the number and not one byte further: a copy
    // cut right after it must read the same.
    Require(ParseExitFlags(CopyOf(tail, end + 1).get()) == flags);

    // A second sign is never taken: it ends the number before any digit.
    if (hasSign && end == digits) {
        Require(flags == 0);
    }
    if (end - digits <= 18) {
        std::uint64_t wide = 0;
        std::from_chars(tail + digits, tail + end, wide);
        std::uint32_t expected = static_cast<std::uint32_t>(wide);
        if (bytes[sign] == '-') {
            expected = 0U - expected;
        }
        Require(static_cast<std::uint32_t>(flags) == expected);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto text = std::make_unique<char[]>(size + 1);
    std::memcpy(text.get(), data, size);
    text[size] = '\0';
    const std::size_t length = std::strlen(text.get());

    const char* tail = CutCommandTail(text.get());
    CheckTail(text.get(), length, tail);
    CheckParse(tail);
    return 0;
}
