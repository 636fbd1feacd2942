#pragma once
// The GL helpers' module state, for tests that start over with a fresh context.

#include <cstdint>

// Forgets the font texture and the saved matrices, as at start-up. The next DrawGLText
// builds the font texture again in the context current then.
void ResetGLUtilsState();
// The font texture's name; 0 until the first DrawGLText.
int32_t GLUtilsFontTexture();
