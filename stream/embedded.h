#pragma once
// The registry of named byte blocks linked into the program ("incbin").
// Safe to use from any library's start-up: the registry is built on first use.

#include <cstdint>
#include <string>

// Adds name at the head of the registry; 1 on success, 0 (and no change)
// when the name is already registered. data must live for the whole run.
int32_t RegisterEmbeddedFile(const std::string& name, const void* data, int32_t size);
// The block registered under exactly name, null when absent.
const void* EmbeddedFileData(const std::string& name);
// The size of that block, 0 when absent.
int32_t EmbeddedFileSize(const std::string& name);
