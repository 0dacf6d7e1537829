// A small glTF 2.0 writer for the asset generator: triangle meshes with positions, normals,
// texture coordinates and morph targets, plain colour materials and named nodes, written as
// one .gltf file with its buffer embedded as base64.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace assetgen {

struct Vec3 {
    float x = 0, y = 0, z = 0;
};

// One primitive: its own vertices, triangles and, per morph target, a position delta per
// vertex.
struct Primitive {
    std::vector<Vec3> positions, normals;
    std::vector<float> uvs; // two per vertex
    std::vector<uint16_t> indices;
    std::vector<std::vector<Vec3>> targets;
    int32_t material = 0;
};

struct Mesh {
    std::string name;
    std::vector<Primitive> primitives;
    std::vector<std::string> targetNames; // written to the mesh's extras
};

struct Material {
    std::string name;
    float colour[3] = {1, 1, 1};
    float roughness = 0.6f;
};

struct Node {
    std::string name;
    int32_t mesh = -1;
    Vec3 translation;
};

struct Document {
    std::vector<Material> materials;
    std::vector<Mesh> meshes;
    std::vector<Node> nodes; // all roots of the one scene
};

// False when the file cannot be written.
bool writeGltf(const std::string& path, const Document& document);

} // namespace assetgen
