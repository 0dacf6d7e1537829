// Fuzz target of the scene tool's glTF path: the bytes are a glTF file (JSON, or binary when
// they begin with "glTF"), imported with embedded data only.
#include "tools/scenetool/gltf_import.h"

#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    bool binary = size >= 4 && memcmp(data, "glTF", 4) == 0;
    scenetool::Model model;
    std::string error;
    scenetool::importGltfBytes(data, size, binary, 25, &model, &error);
    return 0;
}
