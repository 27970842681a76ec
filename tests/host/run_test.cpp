#include "app/run.h"
#include "fake_platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

const std::string kOpenToken = "OpenProcessToken(0xffffffffffffffff, 0x28, out)";
const std::string kLookup = "LookupPrivilegeValueA(null, \"SeShutdownPrivilege\", out)";
const std::string kAdjust = "AdjustTokenPrivileges(0x7f0, 0, {1, 0x13:0x0, 0x2}, 0, null, null)";

int RunProgram(const std::string& commandLine)
{
    ResetFakePlatform().commandLine = commandLine;
    return WinMain(nullptr, nullptr, nullptr, 0);
}

struct FlagsCase {
    std::string commandLine;
    std::string request;
};

void PrintTo(const FlagsCase& value, std::ostream* out)
{
    *out << testing::PrintToString(value.commandLine);
}

class RunOnNtTest : public testing::TestWithParam<FlagsCase> {};

TEST_P(RunOnNtTest, EnablesThePrivilegeThenPassesTheFlagsBitForBit)
{
    ResetFakePlatform().commandLine = GetParam().commandLine;
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(Recorded().calls, (Calls{"GetCommandLineA()", "GetVersion()", "GetCurrentProcess()", kOpenToken,
                                       kLookup, kAdjust, GetParam().request}));
}

INSTANTIATE_TEST_SUITE_P(Flags, RunOnNtTest,
                         // Parsing is the command-line table's; here, that every value goes on.
                         testing::Values(FlagsCase{"sessionend.exe", "ExitWindowsEx(0x0, 0x0)"},
                                         FlagsCase{"sessionend.exe 5", "ExitWindowsEx(0x5, 0x0)"},
                                         FlagsCase{"sessionend.exe -1", "ExitWindowsEx(0xffffffff, 0x0)"}));

TEST(RunSessionEnd, SkipsThePrivilegeWhenTheVersionWordHasBit31Set)
{
    for (const DWORD versionWord : {0x80000004U, 0xC0000A04U, 0xFFFFFFFFU}) {
        FakePlatform& platform = ResetFakePlatform();
        platform.commandLine = "sessionend.exe 1";
        platform.versionWord = versionWord;
        EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
        EXPECT_EQ(Recorded().calls, (Calls{"GetCommandLineA()", "GetVersion()", "ExitWindowsEx(0x1, 0x0)"}))
            << std::hex << versionWord;
    }
}

TEST(RunSessionEnd, ReadsTheFullCommandLineNotTheStartUpsCopy)
{
    ResetFakePlatform().commandLine = "sessionend.exe 4";
    char startUpCopy[] = "9";
    EXPECT_EQ(WinMain(nullptr, nullptr, startUpCopy, 1), 0);
    EXPECT_EQ(Recorded().calls.back(), "ExitWindowsEx(0x4, 0x0)");
}

// Which of the platform's answers to turn into a failure.
using FakeResult = BOOL FakePlatform::*;

struct FailureCase {
    const char* name;
    FakeResult result;
    std::string adjust;  // what the privilege request then looks like
    int status;
};

void PrintTo(const FailureCase& value, std::ostream* out)
{
    *out << value.name;
}

class FailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(FailureTest, EveryCallIsStillMadeAndOnlyARefusedRequestChangesTheStatus)
{
    FakePlatform& platform = ResetFakePlatform();
    platform.commandLine = "sessionend.exe 9";
    platform.*GetParam().result = FALSE;
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), GetParam().status);
    EXPECT_EQ(Recorded().calls, (Calls{"GetCommandLineA()", "GetVersion()", "GetCurrentProcess()", kOpenToken,
                                       kLookup, GetParam().adjust, "ExitWindowsEx(0x9, 0x0)"}));
}

// A failed look-up must leave nothing but a request the platform rejects: a
// null token and the zero identifier, never some other privilege.
INSTANTIATE_TEST_SUITE_P(
    Injected, FailureTest,
    testing::Values(FailureCase{"OpenProcessToken", &FakePlatform::openProcessTokenResult,
                                "AdjustTokenPrivileges(null, 0, {1, 0x13:0x0, 0x2}, 0, null, null)", 0},
                    FailureCase{"LookupPrivilegeValueA", &FakePlatform::lookupPrivilegeValueResult,
                                "AdjustTokenPrivileges(0x7f0, 0, {1, 0x0:0x0, 0x2}, 0, null, null)", 0},
                    FailureCase{"AdjustTokenPrivileges", &FakePlatform::adjustTokenPrivilegesResult, kAdjust,
                                0},
                    FailureCase{"ExitWindowsEx", &FakePlatform::exitWindowsExResult, kAdjust, 1}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(RunSessionEnd, AllPrivilegeCallsFailingStillLeavesStatusZero)
{
    FakePlatform& platform = ResetFakePlatform();
    platform.commandLine = "sessionend.exe 1";
    platform.openProcessTokenResult = FALSE;
    platform.lookupPrivilegeValueResult = FALSE;
    platform.adjustTokenPrivilegesResult = FALSE;
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
    platform.exitWindowsExResult = FALSE;
    EXPECT_EQ(RunSessionEnd("1"), 1);
}

TEST(RunSessionEnd, AnyNonZeroBoolCountsAsAccepted)
{
    FakePlatform& platform = ResetFakePlatform();
    platform.exitWindowsExResult = 2;
    EXPECT_EQ(RunSessionEnd("0"), 0);
    EXPECT_EQ(RunProgram("sessionend.exe 0"), 0);
}

}  // namespace
