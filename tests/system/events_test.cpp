#include "system/event.h"
#include "system/hook.h"

#include "runtime/errors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Hooks record their name (the context) into one log.
std::vector<std::string> hookLog;

HookData LogHook(int32_t, HookData data, const HookContext& context) {
    hookLog.push_back(*std::static_pointer_cast<std::string>(context));
    return data;
}

HookData NullHook(int32_t, HookData, const HookContext&) {
    hookLog.push_back("null");
    return nullptr;
}

HookData ThrowingHook(int32_t, HookData, const HookContext&) { throw TRuntimeError("hook failed"); }

struct Tagged : THookObject {
    int value = 0;
};

HookData IncrementHook(int32_t, HookData data, const HookContext&) {
    auto t = std::make_shared<Tagged>();
    t->value = std::static_pointer_cast<Tagged>(data)->value + 1;
    return t;
}

HookContext Name(const char* name) { return std::make_shared<std::string>(name); }

// The what() of the runtime error f raises, or "" when it raises nothing.
template <typename F>
std::string RaisedText(F f) {
    try {
        f();
    } catch (const TRuntimeError& e) {
        return e.what();
    }
    return "";
}

class HookTableTest : public ::testing::Test {
protected:
    void SetUp() override { hookLog.clear(); }
    THookTable table;
};

TEST_F(HookTableTest, HigherPrioritiesRunFirstAndEqualOnesInInsertionOrder) {
    const int32_t id = table.ReserveHookId();
    const std::pair<const char*, int32_t> entries[] = {{"A", 0}, {"B", 5}, {"C", 5}, {"D", 0}, {"E", -3}, {"F", 9}};
    for (const auto& [name, priority] : entries) table.InsertHook(id, LogHook, Name(name), priority);
    table.RunHookChain(id, nullptr);
    EXPECT_EQ(hookLog, (std::vector<std::string>{"F", "B", "C", "A", "D", "E"}));
}

TEST_F(HookTableTest, EveryEntryRunsAndTheLastResultIsReturned) {
    const int32_t id = table.ReserveHookId();
    auto start = std::make_shared<Tagged>();
    start->value = 40;
    // An empty chain hands the data back.
    EXPECT_EQ(table.RunHookChain(id, start), start);
    table.InsertHook(id, IncrementHook, nullptr, 0);
    table.InsertHook(id, IncrementHook, nullptr, 0);
    auto result = std::dynamic_pointer_cast<Tagged>(table.RunHookChain(id, start));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->value, 42);
    // A null result is passed on, not a stop.
    const int32_t other = table.ReserveHookId();
    table.InsertHook(other, NullHook, nullptr, 1);
    table.InsertHook(other, LogHook, Name("after"), 0);
    EXPECT_EQ(table.RunHookChain(other, start), nullptr);
    EXPECT_EQ(hookLog, (std::vector<std::string>{"null", "after"}));
}

TEST_F(HookTableTest, RemovingTakesTheFirstMatchOfFunctionAndContextOnly) {
    const int32_t id = table.ReserveHookId();
    auto x = Name("X");
    auto y = Name("Y");
    table.InsertHook(id, LogHook, x, 0);
    table.InsertHook(id, LogHook, y, 0);
    table.InsertHook(id, LogHook, x, 0);
    table.RemoveHookEntry(id, LogHook, x);
    table.RunHookChain(id, nullptr);
    EXPECT_EQ(hookLog, (std::vector<std::string>{"Y", "X"}));
    // Same context with another function, or an equal-looking but different
    // context, matches nothing.
    table.RemoveHookEntry(id, NullHook, x);
    table.RemoveHookEntry(id, LogHook, Name("X"));
    table.RemoveHookEntry(id + 1, LogHook, x);
    hookLog.clear();
    table.RunHookChain(id, nullptr);
    EXPECT_EQ(hookLog, (std::vector<std::string>{"Y", "X"}));
    table.RemoveHookEntry(id, LogHook, y);
    table.RemoveHookEntry(id, LogHook, x);
    EXPECT_EQ(table.Head(id), nullptr);
}

TEST_F(HookTableTest, AFailingHookStopsTheRunAndTheErrorReachesTheCaller) {
    const int32_t id = table.ReserveHookId();
    table.InsertHook(id, LogHook, Name("first"), 2);
    table.InsertHook(id, ThrowingHook, nullptr, 1);
    table.InsertHook(id, LogHook, Name("never"), 0);
    EXPECT_EQ(RaisedText([&] { table.RunHookChain(id, nullptr); }), "hook failed");
    EXPECT_EQ(hookLog, (std::vector<std::string>{"first"}));
    // A new entry's function is the uninitialised one, which says so.
    EXPECT_EQ(RaisedText([] { THook().func(0, nullptr, nullptr); }), "Attempt to call uninitialized function pointer");
}

TEST_F(HookTableTest, Ids0To255ThenTooManyHookIdsAndOthersAreBoundsErrors) {
    for (int32_t i = 0; i < 256; ++i) ASSERT_EQ(table.ReserveHookId(), i);
    EXPECT_EQ(RaisedText([&] { table.ReserveHookId(); }), "Too many hook ids");
    EXPECT_EQ(RaisedText([&] { table.ReserveHookId(); }), "Too many hook ids") << "and stays exhausted";
    EXPECT_THROW(table.InsertHook(256, LogHook, nullptr, 0), TArrayBoundsError);
    EXPECT_THROW(table.RunHookChain(-1, nullptr), TArrayBoundsError);
    EXPECT_THROW(table.RemoveHookEntry(300, LogHook, nullptr), TArrayBoundsError);
    EXPECT_EQ(RaisedText([&] { table.Head(256); }), "Attempt to index array element beyond array length");
}

// A hook that unlinks itself while the chain runs; the rest still runs.
HookData SelfRemovingHook(int32_t id, HookData data, const HookContext& context) {
    hookLog.push_back("self");
    RemoveHookEntry(id, SelfRemovingHook, context);
    return data;
}

TEST(ProcessHookTable, TheEventEmitHookHasTheFirstIdWhoeverReservesFirst) {
    const int32_t mine = ReserveHookId();
    EXPECT_EQ(eventEmitHookId(), 0);
    EXPECT_GT(mine, 0);
    hookLog.clear();
    InsertHook(mine, SelfRemovingHook, nullptr, 1);
    InsertHook(mine, LogHook, Name("next"), 0);
    RunHookChain(mine, nullptr);
    RunHookChain(mine, nullptr);
    EXPECT_EQ(hookLog, (std::vector<std::string>{"self", "next", "next"}));
}

// Events seen by the emit chain.
std::vector<std::shared_ptr<TEvent>> seen;

HookData SeeEvent(int32_t, HookData data, const HookContext&) {
    if (auto e = std::dynamic_pointer_cast<TEvent>(data)) seen.push_back(e);
    return data;
}

TEST(Events, TheSystemIdsAreRegisteredWithTheirDescriptions) {
    const std::pair<int32_t, const char*> ids[] = {
        {257, "AppSuspend"},       {258, "AppResume"},        {259, "AppTerminate"},   {260, "AppOpenFile"},
        {261, "AppIdle"},          {513, "KeyDown"},          {514, "KeyUp"},          {515, "KeyChar"},
        {516, "KeyRepeat"},        {1025, "MouseDown"},       {1026, "MouseUp"},       {1027, "MouseMove"},
        {1028, "MouseWheel"},      {1029, "MouseEnter"},      {1030, "MouseLeave"},    {2049, "TimerTick"},
        {4097, "HotkeyHit"},       {8193, "GadgetAction"},    {8194, "GadgetPaint"},   {8195, "GadgetSelect"},
        {8196, "GadgetMenu"},      {8197, "GadgetOpen"},      {8198, "GadgetClose"},   {8199, "GadgetDone"},
        {8200, "GadgetLostFocus"}, {8201, "GadgetShape"},     {16385, "WindowMove"},   {16386, "WindowSize"},
        {16387, "WindowClose"},    {16388, "WindowActivate"}, {16389, "WindowAccept"}, {32769, "MenuAction"},
        {65537, "StreamEof"},      {65538, "StreamAvail"},    {131073, "ProcessExit"},
    };
    for (const auto& [id, text] : ids) EXPECT_EQ(TEvent::DescriptionForId(id), text) << id;
    EXPECT_EQ(TEvent::DescriptionForId(512), "");
    EXPECT_EQ(TEvent::DescriptionForId(0), "");
    // "}1{" is not inside "}131073{": lookups match whole ids.
    EXPECT_EQ(TEvent::DescriptionForId(1), "");
    EXPECT_EQ(TEvent::DescriptionForId(13107), "");
}

TEST(Events, ToStringPrintsTheFieldsAndAStringExtra) {
    EXPECT_EQ(MakeEvent(EVENT_KEY_DOWN, nullptr, 27, 0, 10, 20)->ToString(),
              "KeyDown: data=27, mods=0, x=10, y=20, extra=\"\"");
    EXPECT_EQ(MakeEvent(EVENT_MOUSE_WHEEL, nullptr, -1, 5, -3, 7, std::string("hi"))->ToString(),
              "MouseWheel: data=-1, mods=5, x=-3, y=7, extra=\"hi\"");
    // Extras that are not strings print as nothing.
    EXPECT_EQ(MakeEvent(512, nullptr, 0, 0, 0, 0, 42)->ToString(),
              "Unknown Event, id=512: data=0, mods=0, x=0, y=0, extra=\"\"");
    EXPECT_EQ(TEvent::Create(EVENT_KEY_UP, nullptr, 2, 3, 4, 5)->ToString(),
              "KeyUp: data=2, mods=3, x=4, y=5, extra=\"\"");
}

TEST(Events, UserIdsCountUpFromTheSignBitAndPrintByDescriptionOrNumber) {
    // The only test of this binary that allocates user ids.
    const int32_t first = NewUserEventId("Splash");
    EXPECT_EQ(static_cast<uint32_t>(first), 0x80000001u);
    EXPECT_EQ(TEvent::DescriptionForId(first), "Splash");
    EXPECT_EQ(MakeEvent(first, nullptr, 1, 0, 0, 0)->ToString(), "Splash: data=1, mods=0, x=0, y=0, extra=\"\"");
    const int32_t second = NewUserEventId("");
    EXPECT_EQ(static_cast<uint32_t>(second), 0x80000002u);
    EXPECT_EQ(TEvent::DescriptionForId(second), "");
    EXPECT_EQ(MakeEvent(second, nullptr, 0, 0, 0, 0)->ToString(), "UserEvent2: data=0, mods=0, x=0, y=0, extra=\"\"");
    EXPECT_EQ(MakeEvent(static_cast<int32_t>(0x80000005u), nullptr, 0, 0, 0, 0)->ToString().rfind("UserEvent5: ", 0),
              0u);
    EXPECT_EQ(static_cast<uint32_t>(TEvent::AllocUserId()), 0x80000003u);
}

TEST(Events, TheFirstRegistrationOfAnIdWinsAndBracesAreRefused) {
    TEvent::RegisterId(777, "Lucky");
    TEvent::RegisterId(777, "Other");
    TEvent::RegisterId(513, "NotKeyDown");
    TEvent::RegisterId(778, "");
    EXPECT_EQ(TEvent::DescriptionForId(777), "Lucky");
    EXPECT_EQ(TEvent::DescriptionForId(513), "KeyDown");
    EXPECT_EQ(TEvent::DescriptionForId(778), "");
    // A closing brace would end its entry early and forge one for id 779.
    EXPECT_THROW(TEvent::RegisterId(780, "x}779{Forged"), TRuntimeError);
    EXPECT_EQ(TEvent::DescriptionForId(779), "");
    EXPECT_EQ(TEvent::DescriptionForId(780), "");
}

TEST(Events, EmittingRunsTheEmitChainWithTheEventItself) {
    seen.clear();
    InsertHook(eventEmitHookId(), SeeEvent, nullptr, 0);
    int tag = 0;
    auto event = MakeEvent(EVENT_TIMER_TICK, &tag, 3, 0, 0, 0);
    SendEvent(event);
    event->Emit();
    RemoveHookEntry(eventEmitHookId(), SeeEvent, nullptr);
    SendEvent(event);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], event);
    EXPECT_EQ(seen[1], event);
    EXPECT_EQ(seen[0]->source, &tag);
    EXPECT_THROW(SendEvent(nullptr), TNullObjectError);
}

}  // namespace
