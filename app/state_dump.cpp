#include "app/state_dump.h"

#include <cstdint>
#include <cstring>

#include "app/play_files.h"
#include "stream/replacing_file.h"

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
        for (float f :
             {p->PositionX, p->PositionY, p->OldX, p->OldY, p->VelocityX, p->VelocityY, p->Density, p->Pressure})
            AppendFloat(out, f);
    }
    for (const auto& p : world.BoundaryParticles) {
        AppendFloat(out, p->PositionX);
        AppendFloat(out, p->PositionY);
    }
    return out;
}

bool WriteStateDump(TReplacingFile& file, const TSPH& world, std::string& why) {
    const std::vector<unsigned char> bytes = EncodeState(world);
    const auto n = static_cast<int32_t>(bytes.size());
    if (file.Write(bytes.data(), n) != n) {
        why = file.Error() != 0 ? std::strerror(file.Error()) : "the state could not be written";
        file.Discard();
        return false;
    }
    if (file.Close() == 0) return true;
    why = file.Problem();
    return false;
}
