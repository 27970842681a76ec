// Every command line, whatever its bytes, through the cut, the parse and the
// whole run against the fake platform. The text sits in a heap block of
// exactly its size, so AddressSanitizer sees any read past its end.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/run.h"
#include "cmdline/cmdline.h"
#include "tests/host/fake_platform.h"

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

// The whole run on both platform families: exactly one request, with the
// parsed flags, and no privilege named but the shutdown privilege.
void CheckRun(const std::string& commandLine, std::int32_t flags, DWORD versionWord)
{
    FakePlatform& platform = ResetFakePlatform();
    platform.commandLine = commandLine;
    platform.versionWord = versionWord;
    Require(WinMain(nullptr, nullptr, nullptr, 0) == 0);
    const std::string request = "ExitWindowsEx(" + FormatHex(static_cast<std::uint32_t>(flags)) + ", 0x0)";
    int requests = 0;
    for (const std::string& call : Recorded().calls) {
        requests += call.rfind("ExitWindowsEx(", 0) == 0 ? 1 : 0;
        if (call.rfind("LookupPrivilegeValueA(", 0) == 0) {
            Require(call == "LookupPrivilegeValueA(null, \"SeShutdownPrivilege\", out)");
        }
    }
    Require(requests == 1 && Recorded().calls.back() == request);
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

    const std::string commandLine(text.get(), length);
    const std::int32_t flags = ParseExitFlags(tail);
    CheckRun(commandLine, flags, 0x1DB10106U);
    CheckRun(commandLine, flags, 0xC0000A04U);
    return 0;
}
