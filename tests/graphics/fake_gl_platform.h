#pragma once
// A scripted stand-in for the windows-and-contexts table, with a fake clock,
// so that the graphics manager and the OpenGL driver run without a display.
// Every call is logged as a short text ("create 800x600x0@60 f10 -> #1").

#include "graphics/gl_platform.h"

#include <cstdint>
#include <string>
#include <vector>

struct FakeGLPlatform {
    // What the next CreateWindowContext does.
    enum class CreateResult { kRecord, kNull, kThrowDisplayMode };
    CreateResult createResult = CreateResult::kRecord;
    bool attachFails = false;
    // The modes EnumerateDisplayModes reports (capacity permitting).
    std::vector<GLDisplayMode> modes;
    // Client size an attached window reports now.
    int32_t attachedWidth = 320, attachedHeight = 200;

    // The fake clock: swaps advance it by swapCost, sleeps by their length.
    int32_t clock = 0;
    int32_t swapCost = 0;

    std::vector<std::string> log;
    std::vector<int32_t> swapTimes;  // clock after each swap
    std::vector<int32_t> swapSyncs;  // sync of each swap
    std::vector<int32_t> sleeps;
    std::vector<int32_t> enumerateCapacities;
    std::vector<std::pair<int32_t, int32_t>> pointerPlacements;
    int liveRecords = 0;

    // Forgets every record and resets the script, the clock and the logs.
    void Reset();
    // Number of log entries that begin with prefix.
    int Count(const std::string& prefix) const;
    // Index of the first log entry that begins with prefix, or -1.
    int IndexOf(const std::string& prefix) const;
};

// The one fake (never destroyed, so the at-exit close can still reach it).
FakeGLPlatform& Fake();

// The fake clock and pointer, for SetGraphicsSystemHooks.
int32_t FakeNow();
void FakeSleep(int32_t ms);
void FakePlacePointer(int32_t x, int32_t y);
