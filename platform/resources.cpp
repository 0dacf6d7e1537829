// Registry of the resources embedded by lux_embed_resources.
#include "platform/resources.h"

namespace {

struct ResourceTable {
    const EmbeddedResource* entries;
    int32_t count;
    ResourceTable* next;
};

// Filled during static initialisation, before main; read-only afterwards.
ResourceTable* tables = nullptr;
ResourceTable* lastTable = nullptr;

} // namespace

void registerResources(const EmbeddedResource* table, int32_t count) {
    if (!table || count <= 0) return;
    ResourceTable* node = new ResourceTable{table, count, nullptr};
    if (lastTable)
        lastTable->next = node;
    else
        tables = node;
    lastTable = node;
}

bool findResource(int32_t number, const void** bytes, int32_t* size) {
    for (const ResourceTable* table = tables; table; table = table->next) {
        for (int32_t i = 0; i < table->count; ++i) {
            if (table->entries[i].number != number) continue;
            if (bytes) *bytes = table->entries[i].bytes;
            if (size) *size = table->entries[i].size;
            return true;
        }
    }
    return false;
}
