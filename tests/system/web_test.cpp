// The browser's system driver under node: input records queued the way the
// page's listeners queue them, pumped by the driver into events that the
// polled input and a recording hook see, as on the desktop.
#include <gtest/gtest.h>

#include <emscripten.h>

#include <vector>

#include "system/hook.h"
#include "system/polled_input.h"
#include "system/web/web_system.h"

namespace {

struct Seen {
    int32_t id, data, mods, x, y;
    bool operator==(const Seen& o) const {
        return id == o.id && data == o.data && mods == o.mods && x == o.x && y == o.y;
    }
};

std::vector<Seen> seen;

HookData Record(int32_t, HookData data, const HookContext&) {
    if (auto event = std::dynamic_pointer_cast<TEvent>(data))
        seen.push_back({event->id, event->data, event->mods, event->x, event->y});
    return data;
}

// Queues one record as the listeners do and raises the wake-up.
void Queue(const char* record) {
    EM_ASM(
        {
            var input = Module.fkInput || (Module.fkInput = {queue : [], listeners : {}, capture : -1});
            input.queue.push(JSON.parse(UTF8ToString($0)));
            if (Module.fkWake) Module.fkWake.raise();
        },
        record);
}

class WebDriver : public ::testing::Test {
protected:
    void SetUp() override {
        StartWebSystem();
        ResetBrowserInput();
        seen.clear();
        InsertHook(eventEmitHookId(), Record, nullptr, 0);
    }
    void TearDown() override { RemoveHookEntry(eventEmitHookId(), Record, nullptr); }
};

TEST_F(WebDriver, KeysArriveWithVirtualKeyCodesModifiersAndCharacters) {
    Queue(R"({"kind":1,"canvas":0,"code":"ShiftLeft","key":"Shift","flags":1})");
    Queue(R"({"kind":1,"canvas":0,"code":"KeyA","key":"A","flags":1})");
    Queue(R"({"kind":1,"canvas":0,"code":"KeyA","key":"A","flags":1,"repeat":1})");
    Queue(R"({"kind":2,"canvas":0,"code":"KeyA","key":"A","flags":1})");
    Queue(R"({"kind":2,"canvas":0,"code":"ShiftLeft","key":"Shift","flags":0})");
    Queue(R"({"kind":1,"canvas":0,"code":"Escape","key":"Escape"})");
    Queue(R"({"kind":1,"canvas":0,"code":"KeyC","key":"c","flags":2})");
    Queue(R"({"kind":1,"canvas":0,"code":"AltRight","key":"AltGraph","flags":4})");
    Queue(R"({"kind":1,"canvas":0,"code":"Lang1","key":"x"})");
    PumpMessages();
    const std::vector<Seen> expected = {
        {EVENT_KEY_DOWN, 160, 1, 0, 0},   {EVENT_KEY_DOWN, 'A', 1, 0, 0}, {EVENT_KEY_CHAR, 'A', 1, 0, 0},
        {EVENT_KEY_REPEAT, 'A', 1, 0, 0}, {EVENT_KEY_CHAR, 'A', 1, 0, 0}, {EVENT_KEY_UP, 'A', 1, 0, 0},
        {EVENT_KEY_UP, 160, 0, 0, 0},     {EVENT_KEY_DOWN, 27, 0, 0, 0},  {EVENT_KEY_CHAR, 27, 0, 0, 0},
        {EVENT_KEY_DOWN, 'C', 2, 0, 0},   {EVENT_KEY_CHAR, 3, 2, 0, 0},   {EVENT_KEY_DOWN, 165, 4, 0, 0},
        {EVENT_KEY_CHAR, 'x', 0, 0, 0},
    };
    EXPECT_EQ(seen, expected);
}

TEST_F(WebDriver, KeyCodesFollowTheDesktopTable) {
    const std::vector<std::pair<const char*, int32_t>> table = {
        {"Space", 32},  {"Digit7", '7'},   {"Numpad3", 99},       {"F1", 112},      {"F24", 135},
        {"F25", 0},     {"ArrowLeft", 37}, {"ControlRight", 163}, {"MetaLeft", 91}, {"Enter", 13},
        {"Quote", 222}, {"Key", 0},        {"Keya", 0},           {"", 0},
    };
    for (const auto& [code, vk] : table) EXPECT_EQ(VirtualKeyOfCode(code), vk) << code;
}

TEST_F(WebDriver, ButtonsWheelAndPointerTrackingAsOnTheDesktop) {
    Queue(R"({"kind":5,"canvas":0,"x":10,"y":20,"inside":1,"buttons":0})");
    Queue(R"({"kind":3,"canvas":0,"button":0,"x":10,"y":20,"inside":1})");
    Queue(R"({"kind":3,"canvas":0,"button":2,"x":10,"y":20,"inside":1})");
    Queue(R"({"kind":5,"canvas":0,"x":900,"y":20,"inside":0,"buttons":3})");
    Queue(R"({"kind":4,"canvas":0,"button":2,"x":900,"y":20,"inside":0})");
    Queue(R"({"kind":5,"canvas":0,"x":30,"y":40,"inside":1,"buttons":4})");
    Queue(R"({"kind":6,"canvas":0,"x":30,"y":40,"wheel":240})");
    Queue(R"({"kind":6,"canvas":0,"x":30,"y":40,"wheel":-60})");
    Queue(R"({"kind":7,"canvas":0,"x":-1,"y":40})");
    Queue(R"({"kind":7,"canvas":0,"x":-1,"y":40})");
    PumpMessages();
    const std::vector<Seen> expected = {
        {EVENT_MOUSE_ENTER, 0, 0, 10, 20}, {EVENT_MOUSE_MOVE, 0, 0, 10, 20},   {EVENT_MOUSE_DOWN, 1, 0, 10, 20},
        {EVENT_MOUSE_DOWN, 2, 0, 10, 20},  {EVENT_MOUSE_LEAVE, 0, 0, 900, 20}, {EVENT_MOUSE_MOVE, 2, 0, 900, 20},
        {EVENT_MOUSE_UP, 2, 0, 900, 20},   {EVENT_MOUSE_ENTER, 0, 0, 30, 40},  {EVENT_MOUSE_MOVE, 4, 0, 30, 40},
        {EVENT_MOUSE_WHEEL, 2, 0, 30, 40}, {EVENT_MOUSE_WHEEL, 0, 0, 30, 40},  {EVENT_MOUSE_LEAVE, 0, 0, -1, 40},
    };
    EXPECT_EQ(seen, expected);
}

TEST_F(WebDriver, ThePagesCloseControlAndFocusReachThePolledInput) {
    StartPolledInput(nullptr);
    Queue(R"({"kind":1,"canvas":0,"code":"Space","key":" "})");
    Queue(R"({"kind":3,"canvas":0,"button":0,"x":5,"y":6,"inside":1})");
    EXPECT_EQ(KeyHitCount(32), 1);
    EXPECT_EQ(MouseHitCount(1), 1);
    Queue(R"({"kind":9})");  // the page loses the focus: held keys are forgotten
    EXPECT_EQ(IsKeyDown(32), 0);
    Queue(R"({"kind":10})");
    Queue(R"({"kind":8})");
    EXPECT_EQ(TerminateRequested(), 1);
    EXPECT_EQ(TerminateRequested(), 0);
    StopPolledInput();
}

TEST_F(WebDriver, WaitYieldsUntilARecordArrives) {
    EM_ASM({
        setTimeout(
            function() {
                Module.fkInput.queue.push({kind : 1, canvas : 0, code : 'KeyQ', key : 'q'});
                Module.fkWake.raise();
            },
            20);
    });
    WaitForMessages();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), (Seen{EVENT_KEY_DOWN, 'Q', 0, 0, 0}));
}

TEST_F(WebDriver, ChoosersAreNotAvailableAndDialogsWithoutAPageCountAsCancelled) {
    EXPECT_EQ(SystemDriver()->RequestFile("Open", "png", 0, "a.png"), "");
    EXPECT_EQ(SystemDriver()->RequestDir("Folder", "/"), "");
    EXPECT_EQ(SystemDriver()->Confirm("Sure?", 0), 0);
    EXPECT_EQ(SystemDriver()->OpenURL("http://example.org/"), 0);
}

}  // namespace
