// The program file of a WebAssembly program: its script's path under node
// (the real file system is the program's), and in a page the program's name
// at the root of the page's own file system, where the page places the files
// the program reads.
#include "runtime/startup_host.h"

#include <emscripten.h>
#include <emscripten/em_js.h>

#include <climits>

namespace {

// The path into out (size bytes); its length in bytes.
// The JavaScript inside EM_JS is stringified as written: the formatter keeps off it.
// clang-format off
EM_JS(int, fk_program_file, (char* out, int size), {
    var name = (typeof thisProgram === 'string' && thisProgram) ? thisProgram : 'program';
    if (typeof process === 'object' && process.versions && process.versions.node)
        name = require('path').resolve(name);
    else
        name = '/' + name.split('/').pop();
    stringToUTF8(name, out, size);
    return lengthBytesUTF8(name);
});
// clang-format on

}  // namespace

std::string HostProgramFile() {
    std::string path(PATH_MAX, '\0');
    const int length = fk_program_file(path.data(), static_cast<int>(path.size()));
    if (length <= 0 || length >= static_cast<int>(path.size())) return "";
    path.resize(static_cast<size_t>(length));
    return path;
}
