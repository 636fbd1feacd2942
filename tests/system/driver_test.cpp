#include "system/system_driver.h"

#include "runtime/errors.h"

#include <gtest/gtest.h>

#include <climits>
#include <thread>
#include <vector>

namespace {

TEST(SystemDriver, TheBaseClassLeavesEveryOperationAbstract) {
    TSystemDriver base;
    auto expectAbstract = [](auto&& call) {
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const TRuntimeError& e) {
            EXPECT_STREQ(e.what(), "Attempt to call abstract method");
        }
    };
    expectAbstract([&] { base.Poll(); });
    expectAbstract([&] { base.Wait(); });
    expectAbstract([&] { base.MoveMouse(1, 2); });
    expectAbstract([&] { base.SetMouseVisible(0); });
    expectAbstract([&] { base.Notify("a", 0); });
    expectAbstract([&] { base.Confirm("a", 1); });
    expectAbstract([&] { base.Proceed("a", 0); });
    expectAbstract([&] { base.RequestFile("a", "png", 0, "/"); });
    expectAbstract([&] { base.RequestDir("a", "/"); });
    expectAbstract([&] { base.OpenURL("http://x/"); });
}

// Records what the module functions forward.
class RecordingDriver : public TSystemDriver {
public:
    std::vector<std::string> calls;
    int32_t Poll() override { return calls.push_back("Poll"), 0; }
    int32_t Wait() override { return calls.push_back("Wait"), 0; }
    int32_t MoveMouse(int32_t x, int32_t y) override {
        return calls.push_back("MoveMouse " + std::to_string(x) + "," + std::to_string(y)), 0;
    }
    int32_t SetMouseVisible(int32_t v) override { return calls.push_back("Visible " + std::to_string(v)), 0; }
};

TEST(SystemDriver, ModuleFunctionsForwardToTheInstalledDriver) {
    auto driver = std::make_shared<RecordingDriver>();
    SetSystemDriver(driver);
    EXPECT_EQ(SystemDriver(), driver);
    PumpMessages();
    WaitForMessages();
    PlacePointer(400, 300);
    HidePointer();
    ShowPointer();
    SetSystemDriver(nullptr);
    EXPECT_NE(SystemDriver(), driver);
    EXPECT_EQ(driver->calls, (std::vector<std::string>{"Poll", "Wait", "MoveMouse 400,300", "Visible 0", "Visible 1"}));
}

// A pump that fails: the guard must not stay set.
class FailingDriver : public TSystemDriver {
public:
    int32_t Poll() override { throw TRuntimeError("pump failed"); }
};

TEST(SystemDriver, AFailedPumpDoesNotBlockTheNextOne) {
    SetSystemDriver(std::make_shared<FailingDriver>());
    EXPECT_THROW(PumpMessages(), TRuntimeError);
    EXPECT_FALSE(PumpBusy());
    EXPECT_THROW(PumpMessages(), TRuntimeError);
    SetSystemDriver(nullptr);
}

TEST(MainThreadCalls, CallsFromManyThreadsRunOnceOnTheMainThreadInOrder) {
    SetSystemDriver(nullptr);
    constexpr int kThreads = 4;
    constexpr int kCalls = 500;
    struct Log {
        std::vector<int> order[kThreads];
        int offMain = 0;
    };
    static Log log;  // touched by the main thread only (inside pumps)
    for (auto& o : log.order) o.clear();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            SleepMillis(20);  // let the main thread go to sleep in the pump first
            for (int i = 0; i < kCalls; ++i) {
                RunOnMainThread(
                    [](const std::shared_ptr<void>& arg, int32_t data) {
                        if (!IsMainThread()) ++log.offMain;
                        log.order[*std::static_pointer_cast<int>(arg)].push_back(data);
                    },
                    std::make_shared<int>(t), i);
            }
        });
    }
    auto total = [] {
        size_t n = 0;
        for (auto& o : log.order) n += o.size();
        return n;
    };
    // The main thread sleeps in the pump until another thread's call wakes it.
    while (total() < size_t(kThreads) * kCalls) WaitForMessages();
    for (auto& th : threads) th.join();
    PumpMessages();
    EXPECT_EQ(total(), size_t(kThreads) * kCalls);
    EXPECT_EQ(log.offMain, 0);
    for (auto& o : log.order) {
        ASSERT_EQ(o.size(), size_t(kCalls));
        for (int i = 0; i < kCalls; ++i) ASSERT_EQ(o[i], i);
    }
}

TEST(MainThreadCalls, TheArgumentIsReleasedOnTheMainThreadAfterTheCall) {
    SetSystemDriver(nullptr);
    auto argument = std::make_shared<int>(5);
    std::weak_ptr<int> watch = argument;
    std::thread poster([moved = std::move(argument)]() mutable {
        RunOnMainThread([](const std::shared_ptr<void>&, int32_t) {}, std::move(moved), 0);
    });
    poster.join();
    EXPECT_FALSE(watch.expired());  // queued, held by the record
    PumpMessages();
    EXPECT_TRUE(watch.expired());
}

TEST(MainThreadCalls, AFailingCallLeavesTheRestQueuedAndNewCallsWaitForTheNextPump) {
    SetSystemDriver(nullptr);
    std::vector<int> ran;
    RunOnMainThread([&] { ran.push_back(1); });
    RunOnMainThread([] { throw TRuntimeError("call failed"); });
    RunOnMainThread([&] {
        ran.push_back(3);
        RunOnMainThread([&] { ran.push_back(4); });
    });
    EXPECT_THROW(PumpMessages(), TRuntimeError);
    EXPECT_EQ(ran, (std::vector<int>{1}));
    EXPECT_TRUE(MainThreadCallsPending());
    WaitForMessages();  // must not block: a call is waiting
    EXPECT_EQ(ran, (std::vector<int>{1, 3})) << "a call posted by a call runs in the next pump";
    PumpMessages();
    EXPECT_EQ(ran, (std::vector<int>{1, 3, 4}));
    EXPECT_FALSE(MainThreadCallsPending());
}

TEST(Clock, DifferencesAreRightAcrossTheWrap) {
    EXPECT_EQ(MillisBetween(INT32_MAX - 5, INT32_MIN + 4), 10);
    EXPECT_EQ(MillisBetween(-3, 7), 10);
    EXPECT_EQ(MillisBetween(static_cast<int32_t>(0xFFFFFFF6u), 0), 10);
    EXPECT_EQ(MillisBetween(100, 90), -10);
}

TEST(Clock, TheClockNeverRunsBackwardsAndSleepWaitsAtLeastItsTime) {
    const int32_t t0 = CurrentMillis();
    SleepMillis(15);
    const int32_t t1 = CurrentMillis();
    EXPECT_GE(MillisBetween(t0, t1), 15);
    SleepMillis(-100);  // nothing
    SleepMillis(0);
    EXPECT_GE(MillisBetween(t1, CurrentMillis()), 0);
}

}  // namespace
