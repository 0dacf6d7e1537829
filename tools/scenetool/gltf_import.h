// glTF 2.0 import of the scene tool: a model read by tinygltf, turned into the engine's
// left-handed world (z mirrored: positions, normals, matrices; triangle winding reversed)
// and collected in plain tables that the two scene file writers walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace scenetool {

struct Matrix {
    float m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
};
Matrix multiply(const Matrix& a, const Matrix& b); // a then b (row vectors)

struct Image {
    std::string fileName; // written beside the output
    std::vector<uint8_t> bytes;
};

struct Stage {
    int32_t image = -1; // index into images
    uint32_t texCoord = 0;
    uint32_t addressU = 1, addressV = 1; // wrap 1, mirror 2, clamp 3
    uint32_t filter = 1;                 // bit 0 linear, bit 1 mip
};

struct Material {
    std::string name;
    float diffuse[3] = {1, 1, 1};
    float specular[3] = {0, 0, 0};
    float power = 0;
    bool vertexColour = false;
    bool blend = false;
    std::vector<Stage> stages;
};

struct Part {
    uint32_t fvf = 0;
    uint32_t vertexCount = 0;
    std::vector<uint8_t> vertices;
    uint32_t type = 4; // primitive type
    std::vector<uint16_t> indices;
    int32_t material = -1;
    float box[6] = {0, 0, 0, 0, 0, 0};
    // Morph targets: per target, per vertex a whole vertex of deltas (floats).
    std::vector<std::vector<float>> targetDeltas;
};

struct Mesh {
    std::string name;
    std::vector<Part> parts;
    std::vector<std::string> targetNames;
    float box[6] = {0, 0, 0, 0, 0, 0};
};

struct Sample {
    float position[3] = {0, 0, 0};
    float angles[3] = {0, 0, 0}; // the three angles of the object matrix
    float scale[3] = {1, 1, 1};
};

struct Node {
    std::string name;
    int32_t parent = -1;
    int32_t mesh = -1;
    int32_t light = -1;
    int32_t camera = -1;
    Matrix local, world;
    std::vector<Sample> frames; // the local placement at each frame (one when not animated)
};

struct Light {
    uint32_t type = 1; // 1 point, 2 spot, 3 directional
    float colour[3] = {1, 1, 1};
    float intensity = 1;
    float range = 0; // 0: unlimited
    float inner = 0, outer = 0;
};

struct Camera {
    float zoomX = 1, zoomY = 1;
};

struct Model {
    std::vector<Image> images;
    std::vector<Material> materials;
    std::vector<Mesh> meshes;
    std::vector<Node> nodes; // parents before children
    std::vector<Light> lights;
    std::vector<Camera> cameras;
    float frameRate = 25;
    int32_t frameCount = 1;
};

// Reads a .gltf or .glb file; false with the reason in *error. Images are named after
// `imageStem` ("out" gives "out_0.png" ...).
bool importGltf(const std::string& path, const std::string& imageStem, float frameRate,
                Model* model, std::string* error);

// The same from bytes in memory (embedded buffers and images only); for fuzzing.
bool importGltfBytes(const uint8_t* bytes, size_t size, bool binary, float frameRate, Model* model,
                     std::string* error);

// The angles a, b, c of the object matrix whose rotation part is `rotation` (unit scales).
void anglesOfRotation(const Matrix& rotation, float angles[3]);

} // namespace scenetool
