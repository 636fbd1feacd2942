#include "tests/graphics/fake_gl_platform.h"

#include "runtime/errors.h"

#include <algorithm>
#include <memory>

struct GLContextRecord {
    int id = 0;
    bool attached = false;  // an attached window reports its current client size
    GLContextSettings settings;
};

namespace {

std::vector<GLContextRecord*>& Records() {
    static auto* const records = new std::vector<GLContextRecord*>();
    return *records;
}

GLContextRecord* gCurrent = nullptr;

// The fake clock wraps like the real one.
void Advance(int32_t ms) {
    Fake().clock = static_cast<int32_t>(static_cast<uint32_t>(Fake().clock) + static_cast<uint32_t>(ms));
}
int gNextId = 0;

std::string Name(const GLContextRecord* r) { return r ? "#" + std::to_string(r->id) : "none"; }

bool Live(const GLContextRecord* r) {
    auto& all = Records();
    return std::find(all.begin(), all.end(), r) != all.end();
}

// Logs `call`, then makes and keeps a record unless the script says to fail.
GLContextRecord* NewRecord(const std::string& call, bool fail, bool attached, GLContextSettings settings) {
    FakeGLPlatform& f = Fake();
    if (fail) {
        f.log.push_back(call + " -> none");
        return nullptr;
    }
    auto* r = new GLContextRecord{++gNextId, attached, settings};
    Records().push_back(r);
    ++f.liveRecords;
    f.log.push_back(call + " -> " + Name(r));
    return r;
}

}  // namespace

FakeGLPlatform& Fake() {
    static auto* const fake = new FakeGLPlatform();
    return *fake;
}

void FakeGLPlatform::Reset() {
    for (GLContextRecord* r : Records()) delete r;
    Records().clear();
    gCurrent = nullptr;
    gNextId = 0;
    *this = FakeGLPlatform();
}

int FakeGLPlatform::Count(const std::string& prefix) const {
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const std::string& e) {
        return e.compare(0, prefix.size(), prefix) == 0;
    }));
}

int FakeGLPlatform::IndexOf(const std::string& prefix) const {
    for (size_t i = 0; i < log.size(); ++i)
        if (log[i].compare(0, prefix.size(), prefix) == 0) return static_cast<int>(i);
    return -1;
}

int32_t FakeNow() { return Fake().clock; }

void FakeSleep(int32_t ms) {
    Fake().sleeps.push_back(ms);
    if (ms > 0) Advance(ms);
}

void FakePlacePointer(int32_t x, int32_t y) { Fake().pointerPlacements.emplace_back(x, y); }

GLContextRecord* CreateWindowContext(int32_t width, int32_t height, int32_t depth, int32_t hertz, int32_t flags) {
    FakeGLPlatform& f = Fake();
    std::string call = "create " + std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth) +
                       "@" + std::to_string(hertz) + " f" + std::to_string(flags);
    if (f.createResult == FakeGLPlatform::CreateResult::kThrowDisplayMode) {
        f.log.push_back(call + " -> error");
        throw TRuntimeError("GLGraphicsDriver failed to set display mode");
    }
    return NewRecord(call, f.createResult == FakeGLPlatform::CreateResult::kNull, false,
                     GLContextSettings{width, height, depth, hertz, flags});
}

GLContextRecord* AttachWindowContext(NativeWindow window, int32_t flags) {
    return NewRecord("attach " + std::to_string(window) + " f" + std::to_string(flags), Fake().attachFails, true,
                     GLContextSettings{0, 0, 0, 0, flags});
}

void DestroyWindowContext(GLContextRecord* record) {
    FakeGLPlatform& f = Fake();
    if (!Live(record)) {
        f.log.push_back("destroy unknown");
        return;
    }
    f.log.push_back("destroy " + Name(record));
    if (gCurrent == record) gCurrent = nullptr;
    auto& all = Records();
    all.erase(std::find(all.begin(), all.end(), record));
    delete record;
    --f.liveRecords;
}

void MakeContextCurrent(GLContextRecord* record) {
    if (record == gCurrent) return;
    gCurrent = record;
    Fake().log.push_back("current " + Name(record));
}

GLContextSettings ReadContextSettings(GLContextRecord* record) {
    if (!Live(record)) return {};
    if (record->attached) {
        record->settings.width = Fake().attachedWidth;
        record->settings.height = Fake().attachedHeight;
    }
    return record->settings;
}

void SwapContextBuffers(int32_t sync) {
    FakeGLPlatform& f = Fake();
    if (!gCurrent) {
        f.log.push_back("swap without context");
        return;
    }
    Advance(f.swapCost);
    f.log.push_back("swap " + std::to_string(sync));
    f.swapTimes.push_back(f.clock);
    f.swapSyncs.push_back(sync);
}

std::vector<GLDisplayMode> EnumerateDisplayModes(int32_t capacity) {
    FakeGLPlatform& f = Fake();
    f.enumerateCapacities.push_back(capacity);
    std::vector<GLDisplayMode> out = f.modes;
    if (capacity >= 0 && out.size() > static_cast<size_t>(capacity)) out.resize(capacity);
    return out;
}

void SetSwapInterval(int32_t interval) { Fake().log.push_back("interval " + std::to_string(interval)); }

const char* LastWindowContextError() { return ""; }
