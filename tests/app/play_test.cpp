// The play controls without a window: pause, single step and reset played
// frame by frame on the initial scene, and recordings written as they go.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/play.h"
#include "app/recording.h"
#include "app/scene.h"
#include "app/state_dump.h"
#include "tests/support/temp_dir.h"

namespace {

// Everything a step depends on: the dump's fields, and the IDs that order
// the pairs and the render mode.
struct TState {
    std::vector<unsigned char> dump;
    std::vector<int32_t> ids;
    int32_t niceRender = 0;
    int32_t particleCount = 0;
    int32_t randomState = 0;
    bool operator==(const TState& o) const {
        return dump == o.dump && ids == o.ids && niceRender == o.niceRender && particleCount == o.particleCount &&
               randomState == o.randomState;
    }
};

TState StateOf(const TSPH& world) {
    TState s{EncodeState(world), {}, world.NiceRender, ParticleCount, RandomState};
    for (const auto* set : {&world.Particles, &world.BoundaryParticles})
        for (const auto& p : *set) s.ids.push_back(p->ID);
    return s;
}

// A world with the initial scene, as the program starts.
std::unique_ptr<TSPH> StartScene() {
    RandomState = kInitialRandomState;
    ParticleCount = 0;
    auto world = std::make_unique<TSPH>();
    BuildScene(*world);
    return world;
}

// The state of a fresh initial scene after steps Updates.
TState SceneAfter(int steps) {
    const std::unique_ptr<TSPH> world = StartScene();
    for (int i = 0; i < steps; ++i) world->Update();
    return StateOf(*world);
}

TFrameInput Keys(int32_t space, int32_t pause, int32_t step, int32_t reset) {
    TFrameInput f;
    f.spaceHits = space, f.pauseHits = pause, f.stepHits = step, f.resetHits = reset;
    return f;
}

TFrameInput Click(bool left, int32_t x, int32_t y) {
    TFrameInput f;
    (left ? f.leftHits : f.rightHits) = 1;
    (left ? f.leftDown : f.rightDown) = 1;
    f.pointerX = x, f.pointerY = y;
    return f;
}

}  // namespace

TEST(PlayControls, PauseHoldsTheWorldAndNAdvancesExactlyOneStepAPress) {
    const std::unique_ptr<TSPH> world = StartScene();
    TPlayState play;
    const TFrameInput none;
    EXPECT_EQ(PlayFrame(*world, play, none), TFramePlayed::Stepped);
    // N while running asks nothing more: still one step a frame.
    EXPECT_EQ(PlayFrame(*world, play, Keys(0, 0, 1, 0)), TFramePlayed::Stepped);
    EXPECT_EQ(PlayFrame(*world, play, Keys(0, 1, 0, 0)), TFramePlayed::Held);
    EXPECT_TRUE(play.paused);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(PlayFrame(*world, play, none), TFramePlayed::Held);
    // Two presses of P within a frame leave it paused.
    EXPECT_EQ(PlayFrame(*world, play, Keys(0, 2, 0, 0)), TFramePlayed::Held);
    EXPECT_TRUE(StateOf(*world) == SceneAfter(2));
    // Any number of N presses in one frame is one step; Space still switches.
    EXPECT_EQ(PlayFrame(*world, play, Keys(1, 0, 3, 0)), TFramePlayed::Stepped);
    EXPECT_EQ(world->NiceRender, 1);
    world->NiceRender = 0;
    EXPECT_TRUE(StateOf(*world) == SceneAfter(3));
    EXPECT_EQ(PlayFrame(*world, play, none), TFramePlayed::Held);
    EXPECT_EQ(PlayFrame(*world, play, Keys(0, 1, 0, 0)), TFramePlayed::Stepped);  // resumed
    EXPECT_TRUE(StateOf(*world) == SceneAfter(4));
    // Escape ends the run before anything of its frame is done.
    TFrameInput escape = Keys(1, 1, 1, 1);
    escape.escapeHits = 1;
    EXPECT_EQ(PlayFrame(*world, play, escape), TFramePlayed::Ended);
    EXPECT_TRUE(StateOf(*world) == SceneAfter(4));
}

TEST(PlayControls, PoursAndWallsActOnAPausedWorldWithoutMovingIt) {
    const std::unique_ptr<TSPH> world = StartScene();
    TPlayState play{true};
    ASSERT_EQ(PlayFrame(*world, play, Click(true, 400, 100)), TFramePlayed::Held);
    ASSERT_EQ(PlayFrame(*world, play, Click(false, 650, 150)), TFramePlayed::Held);
    EXPECT_EQ(world->Particles.size(), 2999u + 256u);
    EXPECT_EQ(world->BoundaryParticles.size(), 750u + 16u);
    EXPECT_EQ(ParticleCount, 3749 + 256 + 16);
    // Nothing stepped: the scene's particles are where they were built, the
    // poured ones sit on their lattice at rest.
    const TState built = SceneAfter(0);
    const TState now = StateOf(*world);
    EXPECT_TRUE(std::equal(built.dump.begin() + 8, built.dump.begin() + 8 + 32 * 2999, now.dump.begin() + 8));
    const TParticle& poured = *world->Particles[2999];
    EXPECT_EQ(poured.PositionX, poured.OldX);
    EXPECT_EQ(poured.VelocityX, 0.0f);
    // Stepping the paused world moves them all.
    ASSERT_EQ(PlayFrame(*world, play, Keys(0, 0, 1, 0)), TFramePlayed::Stepped);
    EXPECT_NE(poured.PositionY, poured.OldY);
}

TEST(PlayControls, ResetGivesTheStartingSceneBitForBitKeepingTheDrawing) {
    const TState start = SceneAfter(0);
    const std::unique_ptr<TSPH> world = StartScene();
    TPlayState play;
    // Steps, pours (one through the floor), walls, a switch of the drawing,
    // a pause and single steps: then R while paused.
    const std::vector<TFrameInput> frames = {TFrameInput{},         Click(true, 400, 100), Click(false, 650, 150),
                                             Click(true, 300, 505), Keys(1, 0, 0, 0),      TFrameInput{},
                                             Keys(0, 1, 0, 0),      Keys(0, 0, 1, 0),      Click(true, 100, 300),
                                             Keys(0, 0, 0, 1)};
    for (const TFrameInput& f : frames) PlayFrame(*world, play, f);
    EXPECT_TRUE(play.paused);
    EXPECT_EQ(world->NiceRender, 1);
    world->NiceRender = 0;
    EXPECT_TRUE(StateOf(*world) == start);
    world->NiceRender = 1;
    // The reset world goes on as the fresh one does, grids and all.
    PlayFrame(*world, play, Keys(0, 1, 0, 0));
    for (int i = 0; i < 20; ++i) PlayFrame(*world, play, TFrameInput{});
    world->NiceRender = 0;
    EXPECT_TRUE(StateOf(*world) == SceneAfter(21));
    // R on a running world, with a pour in the same frame: reset first, then
    // the pour, then the frame's step.
    TFrameInput resetAndPour = Click(true, 400, 100);
    resetAndPour.resetHits = 1;
    EXPECT_EQ(PlayFrame(*world, play, resetAndPour), TFramePlayed::Stepped);
    const std::unique_ptr<TSPH> fresh = StartScene();
    Pour(*fresh, 400, 100);
    fresh->Update();
    EXPECT_TRUE(StateOf(*world) == StateOf(*fresh));
}

TEST(Recording, WrittenAsItGoesAndPutInPlaceOnlyWhenFinished) {
    TempDir dir;
    const std::string path = dir.File("run.rec");
    WriteFileBytes(path, "an older recording");
    TFrameInput a = Click(true, -3, 650), b = Keys(2, 1, 7, 1);
    b.rightDown = 1, b.pointerX = 799, b.pointerY = 0;
    TRecorder recorder;
    std::string why;
    ASSERT_TRUE(recorder.Start(path, why)) << why;
    ASSERT_TRUE(recorder.Add(a, why) && recorder.Add(b, why)) << why;
    // Before the end: the old file untouched, the part file readable with
    // both frames, as a killed run would leave it.
    EXPECT_EQ(ReadFileBytes(path), "an older recording");
    const std::string part = ReadFileBytes(path + ".part");
    ASSERT_EQ(part.size(), kRecordingHeaderBytes + 2 * kFrameRecordBytes);
    EXPECT_EQ(part.substr(0, 16), std::string("FKRECORD\1\0\0\0\x2c\0\0\0", 16));
    // Field order and byte order: b's Space count right after its Escape's.
    EXPECT_EQ(part.substr(16 + 44, 8), std::string("\0\0\0\0\2\0\0\0", 8));
    TRecording read;
    ASSERT_TRUE(ParseRecording(reinterpret_cast<const unsigned char*>(part.data()), part.size(), read, why)) << why;
    ASSERT_EQ(read.frames.size(), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&read.frames[1]), sizeof b),
              std::string(reinterpret_cast<const char*>(&b), sizeof b));
    EXPECT_EQ(read.frames[0].pointerX, -3);
    ASSERT_TRUE(recorder.Finish(why)) << why;
    EXPECT_EQ(ReadFileBytes(path), part);
    EXPECT_FALSE(std::filesystem::exists(path + ".part"));
    // A recording that cannot be started says why and leaves nothing.
    TRecorder nowhere;
    EXPECT_FALSE(nowhere.Start(dir.File("missing/run.rec"), why));
#ifdef _WIN32
    EXPECT_EQ(why, "Path not found.");  // the system's own text for the missing folder
#else
    EXPECT_EQ(why, "No such file or directory");
#endif
    EXPECT_FALSE(nowhere.Start(dir.path.string(), why));
    EXPECT_EQ(why, "it is a directory, not a regular file");
    EXPECT_FALSE(std::filesystem::exists(dir.path.string() + ".part"));
}
