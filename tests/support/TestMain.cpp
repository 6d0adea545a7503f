#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest/doctest.h>
#include <windows.h>
#include <cstdio>

namespace {

// Counts the test cases that ran: a scenario's pattern that matches none
// must fail, not pass with nothing tested.
struct RunCounter : doctest::IReporter {
    static int started;
    explicit RunCounter(const doctest::ContextOptions&) {}
    void report_query(const doctest::QueryData&) override {}
    void test_run_start() override {}
    void test_run_end(const doctest::TestRunStats&) override {}
    void test_case_start(const doctest::TestCaseData&) override { ++started; }
    void test_case_reenter(const doctest::TestCaseData&) override {}
    void test_case_end(const doctest::CurrentTestCaseStats&) override {}
    void test_case_exception(const doctest::TestCaseException&) override {}
    void subcase_start(const doctest::SubcaseSignature&) override {}
    void subcase_end() override {}
    void log_assert(const doctest::AssertData&) override {}
    void log_message(const doctest::MessageData&) override {}
    void test_case_skipped(const doctest::TestCaseData&) override {}
};
int RunCounter::started = 0;

} // namespace

DOCTEST_REGISTER_LISTENER("run-counter", 1, RunCounter);

// Each test program is the first command of a new prefix's session: Wine's
// service control manager may still be starting when the first test asks it
// for something. Wait (half a minute at most) until it answers.
int main(int argc, char** argv)
{
    for (int i = 0; i < 300; ++i) {
        SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
        if (scm) {
            CloseServiceHandle(scm);
            break;
        }
        Sleep(100);
    }
    doctest::Context context(argc, argv);
    int result = context.run();
    if (result == 0 && RunCounter::started == 0 && !context.shouldExit()) {
        std::fprintf(stderr, "no test case ran: the filter matches none\n");
        return 1;
    }
    return result;
}
