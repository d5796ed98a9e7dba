// Teardown at any moment: a widget let go while its worker resolves names
// that do not exist, detects a proxy, downloads from our servers or from one
// that sends slowly or not at all, or has the proxy's dialog and notice up.
// Nothing is killed, every thread of ours ends by itself, and the list view
// takes a new widget at once.
#include "TeardownScenarios.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using namespace teardown;

constexpr int kMomentsPerScenario = 34;  // over six scenarios: 204 moments
constexpr DWORD kSpanMs = 1000;
// Threads left behind wait out at most a resolve, a connect and a response
// (5, 5 and 30 s): far past that they are stuck.
constexpr DWORD kLeftThreadsEndMs = 60000;

TEST(Teardown, AtAnyMomentNothingIsKilledAndEveryThreadEndsByItself) {
    Stage stage;
    const int baseline = threadsRunning;
    const int leftBefore = threadsLeft;
    for (const Scenario& scenario : kScenarios) {
        Use(scenario);
        int moment = 0;
        for (DWORD at : Moments(kMomentsPerScenario, kSpanMs)) {
            const Cycle cycle = RunCycle(stage, at, scenario.wantsLogin && moment++ % 2);
            ASSERT_TRUE(cycle.attached) << scenario.name << " at " << at << " ms";
            // The list view is its own again.
            EXPECT_EQ(SendMessageW(stage.desktop.listView, HM_QUERY, 0, 0), 0) << scenario.name;
        }
    }
    EXPECT_TRUE(ThreadsEndBy(baseline, kLeftThreadsEndMs))
        << threadsRunning - baseline << " threads still running";
    std::printf("%d threads were left to end by themselves\n", int(threadsLeft - leftBefore));
    // The dialog and its notice went with their worker.
    EXPECT_EQ(FindWindowW(nullptr, kProxyDialogCaption), nullptr);
    EXPECT_EQ(FindWindowW(nullptr, L"OrvellaWidget"), nullptr);
}

}  // namespace
