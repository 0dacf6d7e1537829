// Embedded resources: files compiled into the executable, found by number ("res:N").
//
// A program lists its resources in CMake with lux_embed_resources(target NUMBER FILE ...);
// the generated source registers them here during static initialisation. findResource hands
// out a read-only view of the bytes, which live as long as the program.
#pragma once

#include <cstdint>

struct EmbeddedResource {
    int32_t number = 0; // 0 ... 65535
    const uint8_t* bytes = nullptr;
    int32_t size = 0;
};

// Adds a table of resources (called by the generated source). The table must outlive the
// program; a number registered twice keeps its first entry.
void registerResources(const EmbeddedResource* table, int32_t count);

// true and the bytes of resource number, or false when the program has no such resource.
bool findResource(int32_t number, const void** bytes, int32_t* size);
