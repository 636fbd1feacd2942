#include "stream/embedded.h"

#include <forward_list>

namespace {
struct TEmbeddedFile {
    std::string name;
    const void* data;
    int32_t size;
};

// Function-local so that registrations made from other libraries' static
// initialisers find it constructed.
std::forward_list<TEmbeddedFile>& Registry() {
    static std::forward_list<TEmbeddedFile> registry;
    return registry;
}

const TEmbeddedFile* Find(const std::string& name) {
    for (const auto& e : Registry())
        if (e.name == name) return &e;
    return nullptr;
}
}  // namespace

int32_t RegisterEmbeddedFile(const std::string& name, const void* data, int32_t size) {
    if (Find(name)) return 0;
    Registry().push_front({name, data, size});
    return 1;
}

const void* EmbeddedFileData(const std::string& name) {
    const TEmbeddedFile* e = Find(name);
    return e ? e->data : nullptr;
}

int32_t EmbeddedFileSize(const std::string& name) {
    const TEmbeddedFile* e = Find(name);
    return e ? e->size : 0;
}
