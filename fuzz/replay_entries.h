// The fuzz targets' entry points in the replay test; the table is generated
// by fuzz/CMakeLists.txt from the registered targets.
#pragma once

#include <cstddef>
#include <cstdint>

struct FuzzEntry {
  const char* name;
  int (*entry)(const uint8_t* data, size_t size);
};

extern const FuzzEntry kFuzzEntries[];
extern const size_t kFuzzEntryCount;
