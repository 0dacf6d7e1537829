#include "platform/log.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Log, fileBeginsWithVersionHeaderAndEmptyLine) {
    logf("WNMN: started logging\n");
    std::string text = readFile(kLogFileName);
    EXPECT_EQ(text.rfind("lux32 v0.95\n\nWNMN: started logging\n", 0), 0u) << text;
}

TEST(Log, overlongLineIsCutToTheLineBuffer) {
    logSetFile("long.txt");
    std::string big(10000, 'a');
    int written = logf("%s", big.c_str());
    closeLog();
    EXPECT_EQ(written, int(kLogLineSize - 1));
    EXPECT_EQ(readFile("long.txt").size(), kLogLineSize - 1);
}

TEST(LogDeathTest, fatalLogsCrashLineAndMessageAndExitsNonZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            logSetFile("fatal.txt");
            fatal("tune not found: %s\n", "x.xm");
        },
        testing::ExitedWithCode(1), "following error:\n\ntune not found: x.xm");
    std::string text = readFile("fatal.txt");
    EXPECT_NE(text.find("\nDBUG: uh-oh... crash exit (expect memory leaks en masse, we don't free "
                        "anything)\ntune not found: x.xm\n\n"),
              std::string::npos)
        << text;
}

TEST(LogDeathTest, fatalMessageLongerThanErrorBufferIsCut) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            logSetFile("fatal-long.txt");
            std::string big(9000, 'b');
            fatal("%s", big.c_str());
        },
        testing::ExitedWithCode(1), "");
    std::string text = readFile("fatal-long.txt");
    size_t start = text.find("bbbb");
    ASSERT_NE(start, std::string::npos);
    size_t heading = strlen("We're proud to present you the following error:\n\n");
    EXPECT_EQ(text.find_first_not_of('b', start) - start, kErrorTextSize - heading - 1);
}

int callOrder[3];
int callCount = 0;
void first() {
    callOrder[callCount++] = 1;
}
void second() {
    callOrder[callCount++] = 2;
}

TEST(Log, exitCallbacksRunNewestFirstOnce) {
    addExitCallback(first);
    addExitCallback(second);
    runExitCallbacks();
    runExitCallbacks();
    ASSERT_EQ(callCount, 2);
    EXPECT_EQ(callOrder[0], 2);
    EXPECT_EQ(callOrder[1], 1);
}

volatile int zero = 0;

void expectFault(void (*fault)(), const char* name) {
    EXPECT_EXIT(
        {
            logSetFile("crash.txt");
            fault();
        },
        testing::ExitedWithCode(1), std::string("An exception occured: ") + name + " at ");
    std::string text = readFile("crash.txt");
    EXPECT_NE(text.find(std::string("An exception occured: ") + name + " at "), std::string::npos)
        << text;
}

// The sanitizers would report these faults themselves before the processor raises them.
#define LUX_RAW_FAULT __attribute__((noinline, no_sanitize("undefined", "address")))
LUX_RAW_FAULT void writeThroughNull() { *static_cast<volatile int*>(nullptr) = 1; }
LUX_RAW_FAULT void illegalInstruction() { __builtin_trap(); }
LUX_RAW_FAULT void divideByZero() {
    volatile int x = 7 / zero;
    (void)x;
}

TEST(CrashDeathTest, processorFaultsEndInTheFatalPath) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    expectFault(writeThroughNull, "Access Violation");
    expectFault(illegalInstruction, "Invalid Opcode");
    expectFault(divideByZero, "Integer Division by Zero");
}

// Deep enough to run out of any stack; the depth check only keeps the compiler from
// proving the recursion endless.
int recurse(int depth) {
    volatile char pad[4096];
    pad[0] = char(depth);
    if (depth > (1 << 30)) return 0;
    return recurse(depth + 1) + pad[0];
}

TEST(CrashDeathTest, stackOverflowIsNamed) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    expectFault([] { recurse(0); }, "Stack Overflow");
}

TEST(Crash, breakpointContinues) {
    raise(SIGTRAP);
    SUCCEED();
}

} // namespace
