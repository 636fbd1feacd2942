#pragma once
// What graphics/web/ files share: the GL emulation's gaps filled per context.

// Forgets the fixed-function state the filled-in calls keep (a new context).
void ResetWebGLFill();
