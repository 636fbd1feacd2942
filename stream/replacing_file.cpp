#include "stream/replacing_file.h"

#include "stream/native_file.h"

#include <cstring>
#include <exception>

TReplacingFile::~TReplacingFile() { Discard(); }

std::shared_ptr<TReplacingFile> TReplacingFile::Create(const std::string& path, std::string* why) {
    return CreateBeside(path, nullptr, why);
}

std::shared_ptr<TReplacingFile> TReplacingFile::CreateBeside(const std::string& path, const char* suffix,
                                                             std::string* why) {
    std::string problem;
    std::string& reason = why ? *why : problem;
    if (path.find('\0') != std::string::npos) return reason = "the name holds a NUL character", nullptr;
    const TNativeTemp native = CreateNativeTemp(path, reason, suffix);
    if (!native.file) return nullptr;
    auto file = std::make_shared<TReplacingFile>();
    file->_temp = native.temp;
    file->_target = native.target;
    if (!file->Adopt(native.file, MODE_WRITE)) {  // a fresh file is empty: never happens
        DiscardNativeTemp(native);
        return nullptr;
    }
    return file;
}

int32_t TReplacingFile::Close() {
    if (!Handle()) return 0;  // closed already, or discarded
    // A write that failed on the way means the file is not complete.
    if (Error() != 0) {
        _problem = std::strerror(Error());
        Discard();
        return -1;
    }
    _problem = ReplaceWithNativeTemp(TNativeTemp{Release(), _temp, _target});
    return _problem.empty() ? 0 : -1;
}

int32_t TReplacingFile::Discard() {
    if (Handle()) DiscardNativeTemp(TNativeTemp{Release(), _temp, _target});
    return 0;
}

std::string WriteWholeFile(const std::string& path, const std::function<void(const std::shared_ptr<TStream>&)>& write) {
    std::string why;
    const std::shared_ptr<TReplacingFile> file = TReplacingFile::Create(path, &why);
    if (!file) return why;
    try {
        write(file);
    } catch (const std::exception& e) {
        // The file system's reason says more than "Error writing to stream".
        why = file->Error() != 0 ? std::strerror(file->Error()) : e.what();
        file->Discard();
        return why;
    }
    return file->Close() == 0 ? "" : file->Problem();
}
