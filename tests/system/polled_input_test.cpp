#include "system/polled_input.h"
#include "system/system_driver.h"

#include "runtime/errors.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

void Send(int32_t id, int32_t data = 0, int32_t x = 0, int32_t y = 0, EventSource source = nullptr) {
    SendEvent(MakeEvent(id, source, data, 0, x, y));
}

class PolledInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetSystemDriver(nullptr);
        StartPolledInput(nullptr);
    }
    void TearDown() override {
        SetSystemDriver(nullptr);
        Send(EVENT_APP_RESUME);
        StopPolledInput();
        (void)TerminateRequested();
    }
};

TEST_F(PolledInputTest, PressesAreCountedUntilAskedAndAHeldOneCountsOnce) {
    struct Kind {
        int32_t down, up, code, other;
        int32_t (*isDown)(int32_t);
        int32_t (*hits)(int32_t);
    };
    const Kind kinds[] = {{EVENT_KEY_DOWN, EVENT_KEY_UP, 27, 32, IsKeyDown, KeyHitCount},
                          {EVENT_MOUSE_DOWN, EVENT_MOUSE_UP, 2, 1, IsMouseButtonDown, MouseHitCount}};
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.down);
        for (int i = 0; i < 3; ++i) {
            Send(k.down, k.code, 5, 6);
            Send(k.up, k.code, 5, 6);
        }
        Send(k.down, k.code);
        EXPECT_EQ(k.hits(k.code), 4);
        EXPECT_EQ(k.hits(k.code), 0) << "asking clears the count";
        EXPECT_EQ(k.isDown(k.code), 1);
        Send(k.down, k.code);  // a press of one marked down counts nothing
        EXPECT_EQ(k.hits(k.code), 0);
        Send(k.up, k.code);
        EXPECT_EQ(k.isDown(k.code), 0);
        EXPECT_EQ(k.hits(k.other), 0);
    }
    // Repeats of a held key are not presses.
    Send(EVENT_KEY_DOWN, 27);
    for (int i = 0; i < 5; ++i) Send(EVENT_KEY_REPEAT, 27);
    EXPECT_EQ(KeyHitCount(27), 1);
    EXPECT_EQ(IsKeyDown(27), 1);
}

TEST_F(PolledInputTest, SuspendingClearsHeldKeysAndButtons) {
    Send(EVENT_KEY_DOWN, 65);
    Send(EVENT_MOUSE_DOWN, 1);
    Send(EVENT_KEY_CHAR, 'a');
    Send(EVENT_APP_SUSPEND);
    EXPECT_EQ(std::vector<int32_t>(
                  {IsSuspended(), IsKeyDown(65), KeyHitCount(65), IsMouseButtonDown(1), MouseHitCount(1), NextChar()}),
              std::vector<int32_t>({1, 0, 0, 0, 0, 0}));
    Send(EVENT_APP_RESUME);
    EXPECT_EQ(IsSuspended(), 0);
    // Back in the application the key counts afresh.
    Send(EVENT_KEY_DOWN, 65);
    EXPECT_EQ(KeyHitCount(65), 1);
}

TEST_F(PolledInputTest, TheCharacterRingHolds256AndDropsTheRest) {
    for (int i = 1; i <= 257; ++i) Send(EVENT_KEY_CHAR, i);
    EXPECT_EQ(NextChar(), 1);
    Send(EVENT_KEY_CHAR, 1000);  // fits again after one was read
    Send(EVENT_KEY_CHAR, 1001);  // dropped
    for (int i = 2; i <= 256; ++i) ASSERT_EQ(NextChar(), i);
    EXPECT_EQ(NextChar(), 1000);
    EXPECT_EQ(NextChar(), 0);
    EXPECT_EQ(NextChar(), 0);
}

TEST_F(PolledInputTest, TerminateIsReportedOncePerRequest) {
    EXPECT_EQ(TerminateRequested(), 0);
    for (int round = 0; round < 2; ++round) {
        Send(EVENT_APP_TERMINATE);
        Send(EVENT_APP_TERMINATE);
        EXPECT_EQ(TerminateRequested(), 1);
        EXPECT_EQ(TerminateRequested(), 0);
    }
}

TEST_F(PolledInputTest, ThePointerFollowsMovesAndTheWheelAddsUp) {
    Send(EVENT_MOUSE_MOVE, 0, 123, 45);
    Send(EVENT_MOUSE_WHEEL, 1);
    Send(EVENT_MOUSE_WHEEL, 1);
    Send(EVENT_MOUSE_WHEEL, -3);
    Send(EVENT_MOUSE_ENTER, 0, 9, 9);  // enter and leave do not move the pointer
    Send(EVENT_MOUSE_DOWN, 3, 1, 1);   // nor do clicks
    EXPECT_EQ(std::vector<int32_t>({PointerX(), PointerY(), WheelPosition()}), std::vector<int32_t>({123, 45, -1}));
    ResetMouse();  // clears the wheel and the buttons, keeps the pointer
    EXPECT_EQ(std::vector<int32_t>({PointerX(), PointerY(), WheelPosition(), IsMouseButtonDown(3)}),
              std::vector<int32_t>({123, 45, 0, 0}));
}

TEST_F(PolledInputTest, OnlyTheChosenSourceCounts) {
    StopPolledInput();
    int mine = 0, other = 0;
    StartPolledInput(&mine);
    Send(EVENT_KEY_DOWN, 40, 0, 0, &other);
    Send(EVENT_KEY_DOWN, 41, 0, 0, nullptr);
    Send(EVENT_KEY_DOWN, 42, 0, 0, &mine);
    EXPECT_EQ(std::vector<int32_t>({KeyHitCount(40), KeyHitCount(41), KeyHitCount(42)}),
              std::vector<int32_t>({0, 0, 1}));
    // Starting again while running changes nothing.
    StartPolledInput(nullptr);
    Send(EVENT_KEY_DOWN, 43, 0, 0, nullptr);
    EXPECT_EQ(KeyHitCount(43), 0);
}

TEST_F(PolledInputTest, StoppingForgetsKeysButKeepsTheFlags) {
    Send(EVENT_KEY_DOWN, 50);
    Send(EVENT_APP_SUSPEND);
    Send(EVENT_KEY_DOWN, 51);
    Send(EVENT_APP_TERMINATE);
    StopPolledInput();
    EXPECT_EQ(IsKeyDown(51), 0);
    EXPECT_EQ(IsSuspended(), 1);
    Send(EVENT_KEY_DOWN, 52);  // no hook any more
    EXPECT_EQ(KeyHitCount(52), 0);
    EXPECT_EQ(TerminateRequested(), 1);
    StartPolledInput(nullptr);
    Send(EVENT_APP_RESUME);
    EXPECT_EQ(IsSuspended(), 0);
}

TEST_F(PolledInputTest, OutOfRangeKeysAndButtonsAreBoundsErrors) {
    EXPECT_THROW(IsKeyDown(256), TArrayBoundsError);
    EXPECT_THROW(KeyHitCount(-1), TArrayBoundsError);
    EXPECT_THROW(IsMouseButtonDown(4), TArrayBoundsError);
    EXPECT_THROW(MouseHitCount(-1), TArrayBoundsError);
    EXPECT_EQ(IsKeyDown(0), 0);
    EXPECT_EQ(IsKeyDown(255), 0);
    EXPECT_EQ(MouseHitCount(0), 0);
    // An event carrying a code outside the tables fails the emitter the same way.
    EXPECT_THROW(Send(EVENT_KEY_DOWN, 256), TArrayBoundsError);
    EXPECT_THROW(Send(EVENT_MOUSE_DOWN, 7), TArrayBoundsError);
}

TEST_F(PolledInputTest, OtherObjectsOnTheChainPassUntouched) {
    auto object = std::make_shared<THookObject>();
    EXPECT_EQ(PolledInputHook(eventEmitHookId(), object, nullptr), object);
    EXPECT_EQ(PolledInputHook(eventEmitHookId(), nullptr, nullptr), nullptr);
}

TEST_F(PolledInputTest, WaitsReturnWhatArrivesAfterClearingWhatCameBefore) {
    // Each wait's own reset pumps once (dropping what came before); the posted
    // calls below emit with the pump after it.
    Send(EVENT_KEY_DOWN, 3);
    Send(EVENT_KEY_UP, 3);
    RunOnMainThread([] {
        RunOnMainThread([] {
            for (int32_t key : {40, 30, 7}) Send(EVENT_KEY_DOWN, key);
        });
    });
    EXPECT_EQ(WaitForKey(), 7) << "the lowest key hit";
    // Keys above the answer were not asked: their hits are still there.
    EXPECT_EQ(std::vector<int32_t>({KeyHitCount(30), KeyHitCount(40), KeyHitCount(3)}),
              std::vector<int32_t>({1, 1, 0}));

    Send(EVENT_KEY_CHAR, 'z');
    RunOnMainThread([] { RunOnMainThread([] { Send(EVENT_KEY_CHAR, 'q'); }); });
    EXPECT_EQ(WaitForChar(), 'q');

    Send(EVENT_MOUSE_DOWN, 1);
    RunOnMainThread([] {
        RunOnMainThread([] {
            Send(EVENT_MOUSE_DOWN, 3);
            Send(EVENT_MOUSE_DOWN, 2);
        });
    });
    EXPECT_EQ(WaitForMouseButton(), 2);
    EXPECT_EQ(MouseHitCount(3), 1);
}

// A driver that counts its pumps and emits a suspend from inside one, the way
// a window procedure does: the hook's resets must not pump again.
class CountingDriver : public TSystemDriver {
public:
    int polls = 0;
    int32_t Poll() override {
        ++polls;
        Send(EVENT_APP_SUSPEND);
        PumpMessages();
        WaitForMessages();
        return 0;
    }
    int32_t Wait() override { return Poll(); }
};

TEST_F(PolledInputTest, HooksRunningInsideAPumpDoNotPumpAgain) {
    auto driver = std::make_shared<CountingDriver>();
    SetSystemDriver(driver);
    EXPECT_EQ(IsSuspended(), 1);  // one pump; the suspend's resets did not nest
    EXPECT_EQ(driver->polls, 1);
    WaitForMessages();
    EXPECT_EQ(driver->polls, 2);
    EXPECT_FALSE(PumpBusy());
    SetSystemDriver(nullptr);
}

}  // namespace
