#include "graphics/graphics.h"

#include "runtime/errors.h"

// The base classes only declare the operations; a driver overrides them.

int32_t TGraphics::_pad() { return 0; }

std::shared_ptr<TGraphicsDriver> TGraphics::Driver() { throw TAbstractMethodError(); }

int32_t TGraphics::GetSettings(int32_t*, int32_t*, int32_t*, int32_t*, int32_t*) { throw TAbstractMethodError(); }

int32_t TGraphics::Close() { throw TAbstractMethodError(); }

std::string TGraphicsMode::ToString() const {
    return std::to_string(width) + "," + std::to_string(height) + "," + std::to_string(depth) + " " +
           std::to_string(hertz) + "Hz";
}

TGraphicsModeArray TGraphicsDriver::GraphicsModes() { throw TAbstractMethodError(); }

std::shared_ptr<TGraphics> TGraphicsDriver::AttachGraphics(uintptr_t, int32_t) { throw TAbstractMethodError(); }

std::shared_ptr<TGraphics> TGraphicsDriver::CreateGraphics(int32_t, int32_t, int32_t, int32_t, int32_t) {
    throw TAbstractMethodError();
}

int32_t TGraphicsDriver::SetGraphics(const std::shared_ptr<TGraphics>&) { throw TAbstractMethodError(); }

int32_t TGraphicsDriver::Flip(int32_t) { throw TAbstractMethodError(); }
