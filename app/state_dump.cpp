#include "app/state_dump.h"

#include <cstdint>
#include <cstring>

namespace {

void AppendFloat(std::vector<unsigned char>& out, float f) {
    std::int32_t v;
    std::memcpy(&v, &f, sizeof v);
    AppendInt32LE(out, v);
}

}  // namespace

std::vector<unsigned char> EncodeState(const TSPH& world) {
    std::vector<unsigned char> out;
    AppendInt32LE(out, static_cast<std::int32_t>(world.Particles.size()));
    AppendInt32LE(out, static_cast<std::int32_t>(world.BoundaryParticles.size()));
    for (const auto& p : world.Particles) {
        for (float f : {p->PositionX, p->PositionY, p->OldX, p->OldY, p->VelocityX, p->VelocityY, p->Density,
                        p->Pressure})
            AppendFloat(out, f);
    }
    for (const auto& p : world.BoundaryParticles) {
        AppendFloat(out, p->PositionX);
        AppendFloat(out, p->PositionY);
    }
    return out;
}

bool WriteStateDump(TPartFile& file, const TSPH& world, std::string& why) {
    const std::vector<unsigned char> bytes = EncodeState(world);
    return file.Write(bytes.data(), bytes.size(), why) && file.Commit(why);
}
