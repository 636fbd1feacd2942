// Timers with real time: the platform thread posts ticks, the main thread
// fires them inside its pump. Bounds are loose: the machine may be loaded.
#include "system/timer.h"

#include "system/system_driver.h"

#include "runtime/errors.h"
#include "runtime/startup.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace {

// Every "TimerTick" and every event of a test's own id, as (event, data).
struct SeenTick {
    const TEvent* event;
    EventSource source;
    int32_t data;
};
std::vector<SeenTick> seen;
int32_t ownEventId = 0;

HookData RecordTick(int32_t, HookData data, const HookContext&) {
    if (auto* e = dynamic_cast<TEvent*>(data.get()))
        if (e->id == EVENT_TIMER_TICK || e->id == ownEventId) seen.push_back({e, e->source, e->data});
    return data;
}

class Timers : public ::testing::Test {
protected:
    void SetUp() override {
        SetSystemDriver(nullptr);
        PumpMessages();  // leftovers of earlier cases
        seen.clear();
        if (ownEventId == 0) ownEventId = NewUserEventId("TimerTestEvent");
        InsertHook(eventEmitHookId(), RecordTick, nullptr, 0);
    }
    void TearDown() override {
        RemoveHookEntry(eventEmitHookId(), RecordTick, nullptr);
        EXPECT_EQ(ActiveTimerCount(), 0) << "a case left a timer running";
    }
};

// Pumps (sleeping in between) until done holds; false after timeoutMs.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    const int32_t start = CurrentMillis();
    while (!done()) {
        if (MillisBetween(start, CurrentMillis()) > timeoutMs) return false;
        SleepMillis(1);
        PumpMessages();
    }
    return true;
}

// A rate whose period is not a whole millisecond or more makes no timer.
TEST(TimerPeriod, TheRateBecomesWholeMillisecondsOrNoTimer) {
    const struct {
        float hertz;
        int32_t period;
    } kCases[] = {{60.0f, 16},
                  {1000.0f, 1},
                  {1.0f, 1000},
                  {0.5f, 2000},
                  {30.0f, 33},
                  {999.0f, 1},
                  {1000.5f, 0},
                  {2000.0f, 0},
                  {0.0f, 0},
                  {-60.0f, 0},
                  {std::numeric_limits<float>::quiet_NaN(), 0},
                  {std::numeric_limits<float>::infinity(), 0},
                  {1e-10f, 0}};
    for (const auto& c : kCases) {
        EXPECT_EQ(TimerPeriodMillis(c.hertz), c.period) << "hertz " << c.hertz;
        EXPECT_TRUE(c.period != 0 || TTimer::Create(c.hertz, nullptr) == nullptr) << "hertz " << c.hertz;
    }
    EXPECT_EQ(ActiveTimerCount(), 0);
    EXPECT_THROW(TimerTickCount(nullptr), TNullObjectError);
}

TEST_F(Timers, TicksFollowTheClockWithoutDrift) {
    // 100 Hz: tick k is due at k * 10 ms; never earlier, and lateness does not add up.
    constexpr int kTicks = 40;
    const int32_t start = CurrentMillis();
    auto timer = StartTimer(100.0f, nullptr);
    ASSERT_TRUE(timer);
    while (timer->Ticks() < kTicks) timer->Wait();
    const int32_t elapsed = MillisBetween(start, CurrentMillis());
    const int32_t ticks = TimerTickCount(timer);
    timer->Stop();
    EXPECT_GE(elapsed, ticks * 10) << ticks << " ticks came early";
    EXPECT_LT(elapsed, kTicks * 10 + 400) << "the schedule drifted";
    ASSERT_EQ(static_cast<int32_t>(seen.size()), ticks);
    for (int32_t i = 0; i < ticks; ++i) {
        EXPECT_EQ(seen[i].source, timer.get());
        EXPECT_EQ(seen[i].data, i + 1) << "a fresh TimerTick carries the tick count";
    }
}

// The timer has an event of its own: it emits that same object every tick.
TEST_F(Timers, WaitReturnsTheTicksThatPiledUpThenBlocksForTheNext) {
    auto event = MakeEvent(ownEventId, nullptr, 77, 0, 1, 2);
    auto timer = TTimer::Create(20.0f, event);  // 50 ms
    ASSERT_TRUE(timer);
    SleepMillis(175);  // three ticks posted, none delivered yet
    ASSERT_TRUE(PumpUntil([&] { return timer->Ticks() >= 3; }));
    const int32_t piled = timer->Ticks();
    EXPECT_EQ(timer->Wait(), piled) << "delivered ticks are returned at once";
    const int32_t before = CurrentMillis();
    const int32_t next = timer->Wait();
    EXPECT_GE(next, 1);
    EXPECT_EQ(timer->Ticks(), piled + next);
    EXPECT_GE(MillisBetween(before, CurrentMillis()), 1) << "the second Wait blocked for a tick";
    timer->Stop();
    const int32_t stoppedAt = CurrentMillis();
    EXPECT_EQ(timer->Wait(), 0);
    EXPECT_LT(MillisBetween(stoppedAt, CurrentMillis()), 20) << "Wait on a stopped timer must not block";
    EXPECT_EQ(timer->_event, nullptr);
    ASSERT_EQ(static_cast<int32_t>(seen.size()), timer->Ticks());
    for (const SeenTick& s : seen) {
        EXPECT_EQ(s.event, event.get());
        EXPECT_EQ(s.data, 77);
    }
}

TEST_F(Timers, SixteenRunAtOnce) {
    std::vector<std::shared_ptr<TTimer>> timers;
    for (int i = 0; i < kMaxTimers; ++i) {
        timers.push_back(StartTimer(10.0f, nullptr));
        ASSERT_TRUE(timers.back()) << "timer " << i + 1;
    }
    EXPECT_EQ(StartTimer(10.0f, nullptr), nullptr) << "a seventeenth timer";
    // Stopping one from the middle frees a slot; the table keeps the others.
    timers[3]->Stop();
    timers[3] = StartTimer(10.0f, nullptr);
    ASSERT_TRUE(timers[3]);
    EXPECT_EQ(ActiveTimerCount(), kMaxTimers);
    for (auto& t : timers) t->Stop();
    EXPECT_EQ(ActiveTimerCount(), 0);
}

// Stops the timer that ticked (its source) from inside the tick.
HookData StopOnTick(int32_t, HookData data, const HookContext& context) {
    auto* e = dynamic_cast<TEvent*>(data.get());
    if (e && e->id == EVENT_TIMER_TICK) {
        auto* timer = static_cast<TTimer*>(const_cast<void*>(e->source));
        *std::static_pointer_cast<int>(context) += 1;
        timer->Stop();
    }
    return data;
}

// Two 500 Hz timers with ticks queued but not yet pumped: one stopped (and
// dropped) outside, one left to a hook that stops it inside its first tick.
TEST_F(Timers, ATimerStoppedOutsideOrInsideItsTickFiresNoMore) {
    auto stops = std::make_shared<int>(0);
    InsertHook(eventEmitHookId(), StopOnTick, stops, 10);
    auto outside = TTimer::Create(500.0f, nullptr);
    ASSERT_TRUE(outside);
    std::weak_ptr<TTimer> outsideWatch = outside, insideWatch;
    const TTimer* insideTimer = nullptr;
    {
        auto inside = StartTimer(500.0f, nullptr);
        ASSERT_TRUE(inside);
        insideWatch = inside;
        insideTimer = inside.get();
    }                 // the running timer holds itself
    SleepMillis(30);  // ticks queued, not pumped
    EXPECT_TRUE(MainThreadCallsPending());
    outside->Stop();
    outside.reset();
    EXPECT_FALSE(outsideWatch.expired()) << "queued ticks still hold the stopped timer";
    ASSERT_FALSE(insideWatch.expired());
    ASSERT_TRUE(PumpUntil([&] { return *stops > 0; }));
    PumpMessages();
    RemoveHookEntry(eventEmitHookId(), StopOnTick, stops);
    EXPECT_EQ(*stops, 1);
    ASSERT_EQ(seen.size(), 1u) << "only the first tick of the timer the hook stops fires";
    EXPECT_EQ(seen[0].source, insideTimer);
    EXPECT_TRUE(outsideWatch.expired()) << "the ignored ticks released it";
    EXPECT_TRUE(insideWatch.expired()) << "stopped and unreachable: released";
    SleepMillis(10);
    EXPECT_FALSE(MainThreadCallsPending()) << "no tick is posted after Stop";
}

// A program that returns from main with timers running ends cleanly: the exit
// step stops and releases them (the child checks; LeakSanitizer too, in a
// sanitizer build).
TEST(TimerExit, RunningTimersAreStoppedAndReleasedAtExit) {
    std::string child = ProgramDirectory() + "/timer_at_exit_child";
#ifdef _WIN32
    std::replace(child.begin(), child.end(), '/', '\\');
    const int status = std::system(("\"" + child + ".exe\"").c_str());
#else
    const int raw = std::system(("'" + child + "'").c_str());
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    EXPECT_EQ(status, 0) << child;
}

}  // namespace
