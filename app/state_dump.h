#pragma once
// The simulation state as fluid-bench --dump and fluid --dump write it, for
// bit-for-bit comparison of runs (all little-endian): the number of fluid and
// of boundary particles (int32 each); per fluid particle in order PositionX,
// PositionY, OldX, OldY, VelocityX, VelocityY, Density, Pressure (float32);
// per boundary particle PositionX, PositionY.

#include <string>
#include <vector>

#include "sph/sph.h"

class TReplacingFile;

// The state of world in dump form.
std::vector<unsigned char> EncodeState(const TSPH& world);

// Writes the state of world into file (opened beforehand, so that a bad path
// fails before the run) and puts it in place; false with the reason.
bool WriteStateDump(TReplacingFile& file, const TSPH& world, std::string& why);
