#include "stream/native_file.h"

std::FILE* OpenNativeFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }
