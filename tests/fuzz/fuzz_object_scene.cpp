// Fuzz target of the object scene reader: the bytes are an object scene file, read without a
// device (vertex and index data stay in memory), then freed.
#include "data/stream.h"
#include "platform/log.h"
#include "scene/scenefile.h"

#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready =
        (logSetFile("/dev/null"), initClassRegistry(), registerSceneClasses(), true);
    (void)ready;
    if (size > (1u << 24)) return 0;
    MemoryStream stream;
    stream.attachReadOnly(data, int32_t(size));
    std::string error;
    gledScene* scene = readObjectScene(&stream, &error);
    if (scene) {
        for (gledMesh* mesh : scene->meshes)
            if (mesh && supportsInterface(mesh, kMorphMeshId) == 0) {
                auto* morph = static_cast<gledMorphMesh*>(mesh);
                for (auto& target : morph->targets)
                    target.weight = 0.5f;
                morph->blend();
            }
    }
    delete scene;
    return 0;
}
