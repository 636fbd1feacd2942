// fluid: the liquid demo. Everything lives in fluid_app.cpp; main only sees
// to the program's edges: an error nobody caught ends it with its text on
// stderr and status -1, and output that did not arrive fails the run.
#include "app/fluid_app.h"
#include "runtime/tool.h"

namespace {
// The runtime's status for an error nobody caught.
constexpr int kUncaughtErrorStatus = -1;
}  // namespace

int main(int argc, char** argv) {
    return RunTool(
        "fluid", [&] { return FluidMain(argc, argv); }, kUncaughtErrorStatus);
}
