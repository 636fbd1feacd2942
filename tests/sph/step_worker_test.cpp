// The second thread of a step: rounds of units shared with the caller.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "sph/step_worker.h"

namespace {

// Holds the caller until the worker has taken a unit (at most 5 s).
void AwaitWorker(const std::atomic<bool>& started) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!started && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
}

TEST(StepWorker, EveryUnitRunsOnceAndIsSeenInOrderRoundAfterRound) {
    TStepWorker worker;
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<int> value(TStepWorker::MAX_UNITS);
    long byWorker = 0;
    for (int round = 0; round < 2000; ++round) {
        const int count = round % (TStepWorker::MAX_UNITS + 1);
        std::vector<char> onWorker(static_cast<std::size_t>(count), 0);
        auto run = [&](int u) {
            value[static_cast<std::size_t>(u)] = round * 1000 + u;  // plain writes, published by the round
            onWorker[static_cast<std::size_t>(u)] = std::this_thread::get_id() != caller;
        };
        int next = 0;
        worker.Share(count, run, [&](int u) {
            ASSERT_EQ(u, next++);
            ASSERT_EQ(value[static_cast<std::size_t>(u)], round * 1000 + u);
        });
        ASSERT_EQ(next, count);
        for (char w : onWorker) byWorker += w;
    }
    // Which units the worker gets depends on the machine; none is fine.
    SUCCEED() << byWorker << " units ran on the worker";
}

TEST(StepWorker, ACallerWaitsOutAWorkerThatIsSlowInTheMiddleOfAUnit) {
    // The worker stalls inside its unit (as when it loses its core): the
    // caller, held at its first unit until the worker has taken one, then
    // reaches that unit and waits for it, and still sees its result.
    TStepWorker worker;
    const std::thread::id caller = std::this_thread::get_id();
    for (int round = 0; round < 5; ++round) {
        std::vector<int> value(8, -1);
        std::atomic<bool> workerStarted{false};
        auto run = [&](int u) {
            if (std::this_thread::get_id() != caller) {
                workerStarted = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
            } else if (u == 0) {
                AwaitWorker(workerStarted);
            }
            value[static_cast<std::size_t>(u)] = u;
        };
        int seen = 0;
        worker.Share(8, run, [&](int u) { seen += value[static_cast<std::size_t>(u)] == u; });
        EXPECT_EQ(seen, 8);
        EXPECT_TRUE(workerStarted) << "the worker took no unit within 5 s";
    }
}

TEST(StepWorker, AnExceptionOnEitherThreadEndsTheRoundAndReachesTheCaller) {
    TStepWorker worker;
    const std::thread::id caller = std::this_thread::get_id();
    for (const bool onWorker : {true, false}) {
        SCOPED_TRACE(onWorker ? "thrown on the worker" : "thrown on the caller");
        std::atomic<int> runs{0};
        std::atomic<bool> workerStarted{false};
        auto run = [&](int u) {
            ++runs;
            const bool here = std::this_thread::get_id() == caller;
            if (!here) workerStarted = true;
            if (here && u == 0) AwaitWorker(workerStarted);  // the worker takes a unit first
            if (here != onWorker && (onWorker || u == 1)) throw std::runtime_error("unit failed");
            if (!here) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        EXPECT_THROW(worker.Share(64, run, [](int) {}), std::runtime_error);
        // Nothing of the round runs once Share has returned.
        const int after = runs;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(runs, after);
        // The worker serves the next round as usual.
        int sum = 0;
        auto add = [&](int) {};
        worker.Share(8, add, [&](int u) { sum += u; });
        EXPECT_EQ(sum, 28);
    }
}

}  // namespace
