// The graphics manager and the OpenGL driver against a fake windows-and-contexts
// layer and a fake clock: selection, the mode cache, failing creates, opening,
// page flips with their hook chain, and software pacing.

#include "graphics/gl/gl_graphics.h"
#include "graphics/graphics.h"
#include "graphics/graphics_internal.h"
#include "runtime/errors.h"
#include "system/event.h"
#include "system/hook.h"
#include "system/polled_input.h"
#include "tests/graphics/fake_gl_platform.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// A driver that records what the manager asks of it.
class RecordingDriver;

class RecordingGraphics : public TGraphics {
public:
    RecordingGraphics(std::shared_ptr<RecordingDriver> d, int32_t w, int32_t h)
        : driver(std::move(d)), width(w), height(h) {}
    std::shared_ptr<TGraphicsDriver> Driver() override;
    int32_t GetSettings(int32_t* w, int32_t* h, int32_t* d, int32_t* hz, int32_t* f) override {
        *w = width, *h = height, *d = 0, *hz = 0, *f = 2;
        return 0;
    }
    int32_t Close() override { return ++closes; }
    std::shared_ptr<RecordingDriver> driver;
    int32_t width, height;
    int closes = 0;
};

class RecordingDriver : public TGraphicsDriver, public std::enable_shared_from_this<RecordingDriver> {
public:
    TGraphicsModeArray GraphicsModes() override {
        ++enumerations;
        return modes;
    }
    std::shared_ptr<TGraphics> CreateGraphics(int32_t w, int32_t h, int32_t, int32_t, int32_t flags) override {
        lastFlags = flags;
        return std::make_shared<RecordingGraphics>(shared_from_this(), w, h);
    }
    int32_t SetGraphics(const std::shared_ptr<TGraphics>& g) override {
        log.push_back(g ? "set" : "set null");
        return 0;
    }
    int32_t Flip(int32_t sync) override {
        log.push_back("flip " + std::to_string(sync));
        return 0;
    }
    TGraphicsModeArray modes;
    std::vector<std::string> log;
    int enumerations = 0;
    int32_t lastFlags = 0;
};

std::shared_ptr<TGraphicsDriver> RecordingGraphics::Driver() { return driver; }

// Each case starts with nothing opened, the fake layer reset and the fake clock in use.
class GraphicsManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetGraphicsSystemHooks({FakeNow, FakeSleep, FakePlacePointer});
        EndOpenedGraphics();
        StopPolledInput();
        SelectGraphicsDriver(nullptr, 0);
        Fake().Reset();
        Fake().clock = 5000;
    }
    void TearDown() override {
        EndOpenedGraphics();
        SelectGraphicsDriver(nullptr, 0);
    }

    // Milliseconds between consecutive swaps, starting from `from`.
    static std::vector<int32_t> SwapPeriods(int32_t from) {
        std::vector<int32_t> out;
        for (int32_t t : Fake().swapTimes) {
            out.push_back(t - from);
            from = t;
        }
        return out;
    }
};

template <typename F>
std::string ErrorText(F f) {
    try {
        f();
    } catch (const TRuntimeError& e) {
        return e.what();
    }
    return "";
}

TEST(GraphicsModelTest, ModeTextAndAbstractOperations) {
    EXPECT_EQ(TGraphicsMode(1024, 768, 16, 0).ToString(), "1024,768,16 0Hz");
    EXPECT_EQ(TGraphicsMode(800, 600, 32, 60).ToString(), "800,600,32 60Hz");

    TGraphics g;
    TGraphicsDriver d;
    EXPECT_EQ(g._pad(), 0);
    int32_t v = 0;
    const std::function<void()> abstract[] = {
        [&] { g.Driver(); },
        [&] { g.Close(); },
        [&] { g.GetSettings(&v, &v, &v, &v, &v); },
        [&] { d.GraphicsModes(); },
        [&] { d.CreateGraphics(1, 1, 0, 0, 0); },
        [&] { d.AttachGraphics(1, 0); },
        [&] { d.SetGraphics(nullptr); },
        [&] { d.Flip(0); },
    };
    for (const auto& call : abstract) EXPECT_EQ(ErrorText(call), "Attempt to call abstract method");
}

TEST_F(GraphicsManagerTest, OpenGLModuleStartSelectsTheDriverWithBackBuffer) {
    StartGLGraphicsModule();
    OpenGLGraphics(10, 10, 0, 0, 0);
    EXPECT_EQ(DefaultGraphicsFlags(), 2);
    EXPECT_EQ(ActiveGraphics()->Driver(), GLGraphicsDriverInstance());
}

TEST_F(GraphicsManagerTest, ModeListIsFetchedOncePerDriverAndCopied) {
    Fake().modes = {{640, 480, 16, 60}, {800, 600, 32, 60}, {800, 600, 32, 60}, {1024, 768, 32, 75}};
    SelectGraphicsDriver(GLGraphicsDriverInstance(), 2);

    TGraphicsModeArray modes = ListGraphicsModes();
    ASSERT_EQ(modes.size(), 4u);  // duplicates kept, platform order
    EXPECT_EQ(modes[0]->ToString(), "640,480,16 60Hz");
    EXPECT_EQ(modes[3]->ToString(), "1024,768,32 75Hz");
    modes.clear();  // a copy: the cache keeps its elements
    EXPECT_EQ(GraphicsModeCount(), 4);
    EXPECT_EQ(Fake().enumerateCapacities, std::vector<int32_t>{1024});
    EXPECT_EQ(ListGraphicsModes()[1], ListGraphicsModes()[1]);  // same mode objects

    int32_t w = 0, h = 0, d = 0, hz = 0;
    GetGraphicsModeAt(3, &w, &h, &d, &hz);
    EXPECT_EQ(std::vector<int32_t>({w, h, d, hz}), std::vector<int32_t>({1024, 768, 32, 75}));
    const std::string bounds = "Attempt to index array element beyond array length";
    EXPECT_EQ(ErrorText([&] { GetGraphicsModeAt(4, &w, &h, &d, &hz); }), bounds);
    EXPECT_EQ(ErrorText([&] { GetGraphicsModeAt(-1, &w, &h, &d, &hz); }), bounds);

    // Zero matches anything; every other figure must match one mode.
    EXPECT_EQ(std::vector<int32_t>({HasGraphicsMode(0, 0, 32, 0), HasGraphicsMode(0, 0, 0, 0),
                                    HasGraphicsMode(800, 600, 32, 60), HasGraphicsMode(800, 600, 16, 0),
                                    HasGraphicsMode(0, 0, 24, 0)}),
              std::vector<int32_t>({1, 1, 1, 0, 0}));

    // Re-selecting the same driver keeps the cache; another driver drops it.
    SelectGraphicsDriver(GLGraphicsDriverInstance(), 2);
    GraphicsModeCount();
    EXPECT_EQ(Fake().enumerateCapacities.size(), 1u);
    SelectGraphicsDriver(std::make_shared<RecordingDriver>(), 0);
    SelectGraphicsDriver(GLGraphicsDriverInstance(), 2);
    GraphicsModeCount();
    EXPECT_EQ(Fake().enumerateCapacities.size(), 2u);
}

TEST_F(GraphicsManagerTest, WithoutADriverQueriesAndFlipsAreNullObjectErrors) {
    const std::function<void()> calls[] = {[] { ListGraphicsModes(); }, [] { FlipPage(0); },
                                           [] { CloseGraphicsContext(nullptr); }};
    for (const auto& call : calls) EXPECT_EQ(ErrorText(call), "Attempt to access field or method of Null object");
    EXPECT_FALSE(CreateGraphicsContext(1, 1, 0, 0, 0));
}

TEST_F(GraphicsManagerTest, ModeQueriesSkipNullsAndFetchAnEmptyListAgain) {
    auto driver = std::make_shared<RecordingDriver>();
    SelectGraphicsDriver(driver, 0);
    EXPECT_EQ(HasGraphicsMode(0, 0, 0, 0), 0);  // empty list
    driver->modes = {nullptr, std::make_shared<TGraphicsMode>(320, 200, 8, 70)};
    EXPECT_EQ(HasGraphicsMode(0, 0, 0, 0), 1);  // an empty cache is fetched again
    EXPECT_EQ(HasGraphicsMode(320, 0, 0, 70), 1);
    EXPECT_EQ(driver->enumerations, 2);
}

TEST_F(GraphicsManagerTest, SelectionTellsTheDriverThatIsLeft) {
    auto a = std::make_shared<RecordingDriver>();
    auto b = std::make_shared<RecordingDriver>();
    SelectGraphicsDriver(a, 4);
    auto g = CreateGraphicsContext(64, 48, 0, 0, 8);
    ASSERT_TRUE(g);
    EXPECT_EQ(a->lastFlags, 12);  // default flags ORed in
    SelectGraphics(g);
    EXPECT_EQ(a->log, std::vector<std::string>{"set"});
    EXPECT_EQ(ActiveGraphicsWidth(), 64);
    EXPECT_EQ(ActiveGraphicsHeight(), 48);
    EXPECT_EQ(ActiveGraphicsFlags(), 2);

    // The same driver again: the current graphics is forgotten silently.
    SelectGraphicsDriver(a, 6);
    EXPECT_EQ(a->log.size(), 1u);
    EXPECT_FALSE(ActiveGraphics());
    EXPECT_EQ(ActiveGraphicsWidth(), 0);
    EXPECT_EQ(DefaultGraphicsFlags(), 6);

    // Another driver while a graphics is current: the old driver lets go.
    SelectGraphics(g);
    SelectGraphicsDriver(b, 0);
    EXPECT_EQ(a->log.back(), "set null");
    EXPECT_TRUE(b->log.empty());

    // Selecting a graphics makes its driver current, telling the previous one.
    auto h = b->CreateGraphics(10, 20, 0, 0, 0);
    SelectGraphics(h);
    SelectGraphics(g);
    EXPECT_EQ(b->log, std::vector<std::string>({"set", "set null"}));
    EXPECT_EQ(ActiveGraphicsHeight(), 48);

    SelectGraphics(nullptr);
    EXPECT_EQ(a->log.back(), "set null");
    EXPECT_FALSE(ActiveGraphics());
    EXPECT_EQ(ActiveGraphicsHeight(), 0);
}

TEST_F(GraphicsManagerTest, FailingCreatesAndAttachesGiveNull) {
    SelectGraphicsDriver(GLGraphicsDriverInstance(), 2);
    Fake().createResult = FakeGLPlatform::CreateResult::kNull;
    EXPECT_FALSE(CreateGraphicsContext(800, 600, 0, 0, 8));
    // The program's one line: the platform gave no reason, nothing was raised.
    EXPECT_EQ(LastGraphicsContextError(), "");
    EXPECT_EQ(OpenGLGraphicsError(), "the graphics driver made no window");
    Fake().createResult = FakeGLPlatform::CreateResult::kThrowDisplayMode;
    EXPECT_FALSE(CreateGraphicsContext(1234, 567, 32, 0, 0));
    EXPECT_EQ(Fake().log.back(), "create 1234x567x32@0 f2 -> error");
    // The error turned into null is the reason the program hears.
    EXPECT_EQ(LastGraphicsContextError(), "GLGraphicsDriver failed to set display mode");
    EXPECT_EQ(OpenGLGraphicsError(), "GLGraphicsDriver failed to set display mode");
    // The driver itself lets the display-mode error through.
    EXPECT_EQ(ErrorText([] { GLGraphicsDriverInstance()->CreateGraphics(1, 1, 8, 0, 0); }),
              "GLGraphicsDriver failed to set display mode");
    EXPECT_FALSE(OpenGraphics(1234, 567, 32, 60, 0));
    EXPECT_FALSE(OpenedGraphics());
    EXPECT_FALSE(ActiveGraphics());

    Fake().attachFails = true;
    EXPECT_FALSE(AttachGraphicsContext(77, 0));
    Fake().attachFails = false;
    auto g = AttachGraphicsContext(77, 16);
    ASSERT_TRUE(g);
    EXPECT_EQ(LastGraphicsContextError(), "");
    EXPECT_EQ(Fake().log.back(), "attach 77 f18 -> #1");
    // Attached surfaces report their current client size.
    Fake().attachedWidth = 500;
    SelectGraphics(g);
    EXPECT_EQ(ActiveGraphicsWidth(), 500);
    EXPECT_EQ(ActiveGraphicsFlags(), 18);
    CloseGraphicsContext(g);
    EXPECT_EQ(Fake().liveRecords, 0);
}

TEST_F(GraphicsManagerTest, OpenGLGraphicsOpensTheDemoWindow) {
    SelectGraphicsDriver(std::make_shared<RecordingDriver>(), 32);
    auto g = OpenGLGraphics(800, 600, 0, 60, 10);
    ASSERT_TRUE(g);
    EXPECT_EQ(Fake().log.front(), "create 800x600x0@60 f10 -> #1");
    EXPECT_EQ(Fake().log.back(), "current #1");
    EXPECT_EQ(ActiveGraphics(), g);
    EXPECT_EQ(OpenedGraphics(), g);
    EXPECT_EQ(std::vector<int32_t>({ActiveGraphicsWidth(), ActiveGraphicsHeight(), ActiveGraphicsDepth(),
                                    ActiveGraphicsHertz(), ActiveGraphicsFlags()}),
              std::vector<int32_t>({800, 600, 0, 60, 10}));
    EXPECT_EQ(ReadGraphicsPacingState().softSync, 1);
    EXPECT_TRUE(Fake().pointerPlacements.empty());  // windowed: the pointer stays

    // FlipPage(0): swap without sync and without pacing.
    FlipPage(0);
    FlipPage(0);
    EXPECT_EQ(Fake().swapSyncs, std::vector<int32_t>({0, 0}));
    EXPECT_TRUE(Fake().sleeps.empty());
    FlipPage(1);
    EXPECT_EQ(Fake().swapSyncs.back(), 1);

    // Polled input listens to every source while the graphics is open.
    SendEvent(MakeEvent(EVENT_KEY_DOWN, nullptr, 65, 0, 0, 0));
    EXPECT_EQ(KeyHitCount(65), 1);
    EndOpenedGraphics();
    SendEvent(MakeEvent(EVENT_KEY_UP, nullptr, 65, 0, 0, 0));
    SendEvent(MakeEvent(EVENT_KEY_DOWN, nullptr, 65, 0, 0, 0));
    EXPECT_EQ(KeyHitCount(65), 0);
    EXPECT_EQ(Fake().liveRecords, 0);
    EXPECT_FALSE(ActiveGraphics());
}

TEST_F(GraphicsManagerTest, OpeningTwiceClosesTheFirstAndClosingDeselectsThenDestroysOnce) {
    auto first = OpenGLGraphics(640, 480, 0, 0, 0);
    auto second = OpenGLGraphics(320, 240, 0, 0, 0);
    ASSERT_TRUE(first && second);
    const int destroyFirst = Fake().IndexOf("destroy #1");
    ASSERT_GE(destroyFirst, 0);
    EXPECT_LT(destroyFirst, Fake().IndexOf("create 320x240"));
    EXPECT_EQ(Fake().liveRecords, 1);
    EXPECT_EQ(OpenedGraphics(), second);
    EXPECT_EQ(ActiveGraphicsWidth(), 320);

    const size_t mark = Fake().log.size();
    CloseGraphicsContext(second);
    EXPECT_EQ(std::vector<std::string>(Fake().log.begin() + long(mark), Fake().log.end()),
              std::vector<std::string>({"current none", "destroy #2"}));
    EXPECT_FALSE(OpenedGraphics());
    EXPECT_FALSE(ActiveGraphics());
    second->Close();  // harmless a second time
    CloseGraphicsContext(second);
    EXPECT_EQ(Fake().Count("destroy"), 2);
    int32_t w = -1;
    second->GetSettings(&w, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(w, 0) << "a closed graphics has no size";

    // A failing open after a good one leaves nothing open.
    ASSERT_TRUE(OpenGLGraphics(640, 480, 0, 0, 0));
    Fake().createResult = FakeGLPlatform::CreateResult::kNull;
    EXPECT_FALSE(OpenGLGraphics(100, 100, 0, 0, 0));
    EXPECT_EQ(Fake().liveRecords, 0);
    EXPECT_FALSE(OpenedGraphics());
}

TEST_F(GraphicsManagerTest, PacedFlipsLast16And17MillisecondsAndNeverBurst) {
    ASSERT_TRUE(OpenGLGraphics(800, 600, 0, 60, 10));
    const int32_t start = Fake().clock;
    for (int i = 0; i < 6; ++i) {
        Fake().clock += 3;  // a little work per frame
        FlipPage(-1);
    }
    EXPECT_EQ(SwapPeriods(start), std::vector<int32_t>({16, 17, 17, 16, 17, 17}));
    EXPECT_EQ(Fake().sleeps, std::vector<int32_t>({13, 14, 14, 13, 14, 14}));
    EXPECT_EQ(Fake().swapSyncs, std::vector<int32_t>(6, 0));

    // A frame that overruns by 40 ms flips at once; the next deadline counts
    // from the late frame, so there is no burst of short frames to catch up.
    Fake().swapTimes.clear();
    const int32_t before = Fake().clock;
    Fake().clock += 40;
    FlipPage(-1);
    EXPECT_EQ(Fake().swapTimes.back(), before + 40);
    EXPECT_EQ(Fake().sleeps.size(), 6u);  // no sleep for the late frame
    for (int i = 0; i < 3; ++i) FlipPage(-1);
    EXPECT_EQ(SwapPeriods(before + 40), std::vector<int32_t>({0, 17, 17, 16}));
}

TEST_F(GraphicsManagerTest, PacingSurvivesTheClockWrapping) {
    Fake().clock = INT32_MAX - 20;
    ASSERT_TRUE(OpenGLGraphics(800, 600, 0, 60, 10));
    for (int i = 0; i < 3; ++i) FlipPage(-1);
    EXPECT_EQ(Fake().sleeps, std::vector<int32_t>({16, 17, 17}));
}

TEST_F(GraphicsManagerTest, DefaultSyncWithoutPacing) {
    // Windowed, any rate: no vertical sync.
    ASSERT_TRUE(OpenGLGraphics(640, 480, 0, 0, 0));
    FlipPage(-1);
    EXPECT_EQ(Fake().swapSyncs.back(), 0);
    EXPECT_EQ(ReadGraphicsPacingState().softSync, 0);
    // A rate that is not positive is not paced either.
    ASSERT_TRUE(OpenGLGraphics(640, 480, 0, -60, 0));
    EXPECT_EQ(ReadGraphicsPacingState().softSync, 0);
    FlipPage(-1);
    EXPECT_TRUE(Fake().sleeps.empty());

    // Fullscreen, any rate: vertical sync; the pointer goes to the centre.
    ASSERT_TRUE(OpenGLGraphics(1023, 767, 32, 0, 0));
    FlipPage(-1);
    EXPECT_EQ(Fake().swapSyncs.back(), 1);
    ASSERT_FALSE(Fake().pointerPlacements.empty());
    EXPECT_EQ(Fake().pointerPlacements.back(), std::make_pair(511, 383));

    // Windowed with a rate, but another graphics is current: not paced.
    ASSERT_TRUE(OpenGLGraphics(800, 600, 0, 60, 0));
    auto other = CreateGraphicsContext(100, 100, 0, 0, 0);
    SelectGraphics(other);
    size_t sleeps = Fake().sleeps.size();
    FlipPage(-1);
    EXPECT_EQ(Fake().sleeps.size(), sleeps);
    EXPECT_EQ(Fake().swapSyncs.back(), 0);
    CloseGraphicsContext(other);
}

TEST_F(GraphicsManagerTest, FullscreenCalibrationDecidesPacing) {
    // A display that already flips every 16 ms: three good flips, no pacing.
    Fake().swapCost = 16;
    ASSERT_TRUE(OpenGLGraphics(800, 600, 32, 60, 0));
    EXPECT_EQ(ReadGraphicsPacingState().softSync, 0);
    EXPECT_EQ(Fake().swapSyncs, std::vector<int32_t>({1, 1, 1}));
    FlipPage(-1);
    EXPECT_EQ(Fake().swapSyncs.back(), 1);

    // A display that flips at once: a second of failed tries, then paced.
    Fake().swapSyncs.clear();
    Fake().swapCost = 5;
    const int32_t t0 = Fake().clock;
    ASSERT_TRUE(OpenGLGraphics(800, 600, 32, 60, 0));
    EXPECT_EQ(ReadGraphicsPacingState().softSync, 1);
    EXPECT_EQ(Fake().swapSyncs.size(), 200u);
    EXPECT_EQ(Fake().clock - t0, 1000);
    FlipPage(-1);
    EXPECT_EQ(Fake().swapSyncs.back(), 0);
    EXPECT_EQ(Fake().sleeps.back(), 16);
}

// How many swaps had happened each time the page-flip chain ran.
std::vector<size_t> gSwapsSeenByHook;

HookData CountFlip(int32_t, HookData data, const HookContext&) {
    gSwapsSeenByHook.push_back(Fake().swapSyncs.size());
    return data;
}

TEST_F(GraphicsManagerTest, PageFlipHookChainRunsBeforeEveryFlip) {
    ASSERT_TRUE(OpenGLGraphics(800, 600, 0, 60, 10));
    InsertHook(PageFlipHookId(), CountFlip, nullptr, 0);
    FlipPage(0);
    FlipPage(-1);
    RemoveHookEntry(PageFlipHookId(), CountFlip, nullptr);
    FlipPage(0);
    EXPECT_EQ(gSwapsSeenByHook, std::vector<size_t>({0, 1}));
    EXPECT_NE(PageFlipHookId(), eventEmitHookId());
}

}  // namespace
