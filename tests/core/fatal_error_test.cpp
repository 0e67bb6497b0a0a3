// Fatal runtime errors and the report of an error that nothing received: the text, the exit
// status and what was printed before.
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "core/boot.hpp"
#include "core/cycles.hpp"
#include "core/output.hpp"
#include "core/runtime.hpp"
#include "core/stack.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

TEST(FatalErrors, ReportAndStatus) {
    EXPECT_EXIT(runtime::runtime_error(FATAL_OUT_OF_MEMORY, 0x1234), ::testing::ExitedWithCode(94),
                "");
    EXPECT_EXIT(runtime::runtime_error(0, 0), ::testing::ExitedWithCode(0), "");
    EXPECT_STREQ(runtime::error_message(95), "no CATCH for THROW");
    EXPECT_STREQ(runtime::error_message(101), "no value matched in SWITCH");
}

#if !defined(__SANITIZE_ADDRESS__)
TEST(FatalErrors, ProcessorFaultIsReported) {
    EXPECT_EXIT(
        {
            runtime::install_fault_handlers();
            volatile int* p = nullptr;
            *p = 1;
        },
        ::testing::ExitedWithCode(1), "");
}
#endif

// Runs `body` in a child process with standard output on a pipe; answers {status, output}.
template <class F> std::pair<int, std::string> run_captured(F body) {
    int fds[2];
    if (pipe(fds) != 0) return {-1, ""};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        body();
        _exit(123);
    }
    close(fds[1]);
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST(FatalErrors, ReportText) {
    auto [status, text] = run_captured([] { runtime::runtime_error(FATAL_NO_CATCH, 0xBEEF); });
    EXPECT_EQ(status, 95);
    EXPECT_EQ(text, "*** Runtime Error 95: no CATCH for THROW\n*** at: 0000BEEFh\n");
}

TEST(FatalErrors, UncaughtErrorReportFollowsEarlierOutput) {
    auto [status, text] = run_captured([] {
        cycles::init();
        boot::restart_for_tests();
        output::write_c_string("before\n");
        stack::raise_error("math", "zero-divide");
    });
    EXPECT_EQ(status, 254);
    EXPECT_EQ(text,
              "before\n*** Math Error: attempt to divide by zero\n*** Where: <not-found>\n"
              "*** Near : none\n");
}

}  // namespace
}  // namespace kov
