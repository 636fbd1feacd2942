// fluid: the liquid demo. Everything lives in fluid_app.cpp; main only turns
// an error nobody caught into its text on stderr and status -1.
#include <cstdio>
#include <exception>

#include "app/fluid_app.h"

int main(int argc, char** argv) {
    try {
        return FluidMain(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    } catch (...) {
        std::fputs("fluid: unknown error\n", stderr);
    }
    std::fflush(stderr);
    return -1;
}
