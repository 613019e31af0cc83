// Linked into every GoogleTest program of the suites. When a suite's
// SetUpTestSuite fails, GoogleTest reports each of its tests as skipped,
// and ctest takes "[  SKIPPED ]" in a test's output for a skip even when
// the program fails: a broken host start would pass unseen. This listener
// turns those skips into failures. Registered before main, run on
// GoogleTest's thread.
#include <gtest/gtest.h>

namespace {

class SuiteSetUpFailureFailsItsTests : public ::testing::EmptyTestEventListener {
public:
    // Called before the result printer's (end events run in reverse order
    // of registration, and the printer is registered first).
    void OnTestEnd(const ::testing::TestInfo& test) override {
        const ::testing::TestSuite* suite =
            ::testing::UnitTest::GetInstance()->current_test_suite();
        if (suite != nullptr && suite->ad_hoc_test_result().Failed() && test.result()->Skipped())
            ADD_FAILURE() << "not run: the SetUpTestSuite of " << suite->name() << " failed";
    }
};

const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new SuiteSetUpFailureFailsItsTests);
    return true;
}();

}  // namespace
