// glTF 2.0 to the scene tool's tables.
//
// Sections: accessors; placement and animation; meshes; materials and images; the model.
#include "tools/scenetool/gltf_import.h"

#include "platform/gpu/d3d8types.h"

#include <tiny_gltf.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

namespace scenetool {
namespace {

using tinygltf::Accessor;

struct Failure {
    std::string* error;
    bool operator()(const std::string& text) const {
        *error = text;
        return false;
    }
};

// ---- Accessors ----

int componentCount(int type) {
    switch (type) {
    case TINYGLTF_TYPE_SCALAR:
        return 1;
    case TINYGLTF_TYPE_VEC2:
        return 2;
    case TINYGLTF_TYPE_VEC3:
        return 3;
    case TINYGLTF_TYPE_VEC4:
        return 4;
    default:
        return 0;
    }
}

int componentBytes(int type) {
    switch (type) {
    case TINYGLTF_COMPONENT_TYPE_BYTE:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
        return 1;
    case TINYGLTF_COMPONENT_TYPE_SHORT:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT:
        return 2;
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT:
    case TINYGLTF_COMPONENT_TYPE_FLOAT:
        return 4;
    default:
        return 0;
    }
}

double component(const uint8_t* p, int type, bool normalized) {
    switch (type) {
    case TINYGLTF_COMPONENT_TYPE_BYTE: {
        int8_t v = int8_t(p[0]);
        return normalized ? std::max(v / 127.0, -1.0) : v;
    }
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
        return normalized ? p[0] / 255.0 : p[0];
    case TINYGLTF_COMPONENT_TYPE_SHORT: {
        int16_t v;
        memcpy(&v, p, 2);
        return normalized ? std::max(v / 32767.0, -1.0) : v;
    }
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
        uint16_t v;
        memcpy(&v, p, 2);
        return normalized ? v / 65535.0 : v;
    }
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: {
        uint32_t v;
        memcpy(&v, p, 4);
        return v;
    }
    default: {
        float v;
        memcpy(&v, p, 4);
        return v;
    }
    }
}

// An accessor's elements as doubles, every byte checked against its buffer.
bool readAccessor(const tinygltf::Model& gltf, int index, std::vector<double>* out, int* width,
                  std::string* error) {
    Failure fail{error};
    if (index < 0 || size_t(index) >= gltf.accessors.size())
        return fail("accessor " + std::to_string(index) + " does not exist");
    const Accessor& a = gltf.accessors[size_t(index)];
    int n = componentCount(a.type), bytes = componentBytes(a.componentType);
    if (n == 0 || bytes == 0)
        return fail("accessor " + std::to_string(index) + ": unsupported type");
    if (a.sparse.isSparse) return fail("accessor " + std::to_string(index) + ": sparse data");
    if (a.bufferView < 0 || size_t(a.bufferView) >= gltf.bufferViews.size())
        return fail("accessor " + std::to_string(index) + " has no buffer view");
    const tinygltf::BufferView& view = gltf.bufferViews[size_t(a.bufferView)];
    if (view.buffer < 0 || size_t(view.buffer) >= gltf.buffers.size())
        return fail("buffer view of accessor " + std::to_string(index) + " has no buffer");
    const std::vector<unsigned char>& data = gltf.buffers[size_t(view.buffer)].data;
    size_t stride = view.byteStride ? view.byteStride : size_t(n * bytes);
    size_t start = view.byteOffset + a.byteOffset;
    size_t element = size_t(n * bytes);
    if (a.count > (1u << 24) || view.byteOffset + view.byteLength > data.size() ||
        (a.count > 0 &&
         start + (a.count - 1) * stride + element > view.byteOffset + view.byteLength))
        return fail("accessor " + std::to_string(index) + " reaches past its buffer");
    out->resize(a.count * size_t(n));
    for (size_t i = 0; i < a.count; ++i)
        for (int c = 0; c < n; ++c)
            (*out)[i * size_t(n) + size_t(c)] = component(
                &data[start + i * stride + size_t(c * bytes)], a.componentType, a.normalized);
    *width = n;
    return true;
}

// ---- Placement and animation ----

struct Trs {
    double t[3] = {0, 0, 0};
    double r[4] = {0, 0, 0, 1}; // x, y, z, w
    double s[3] = {1, 1, 1};
};

// Row-vector form of a glTF column-vector rotation, mirrored in z.
Matrix rotationOf(const double* q) {
    double x = q[0], y = q[1], z = q[2], w = q[3];
    double length = std::sqrt(x * x + y * y + z * z + w * w);
    if (length > 0) x /= length, y /= length, z /= length, w /= length;
    double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                      {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                      {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
    const double sign[3] = {1, 1, -1};
    Matrix m;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            m.m[i][j] = float(sign[i] * sign[j] * r[j][i]);
    return m;
}

Matrix matrixOf(const Trs& trs) {
    Matrix m = rotationOf(trs.r);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            m.m[i][j] *= float(trs.s[i]);
    m.m[3][0] = float(trs.t[0]);
    m.m[3][1] = float(trs.t[1]);
    m.m[3][2] = float(-trs.t[2]);
    return m;
}

Sample sampleOf(const Trs& trs) {
    Sample s;
    s.position[0] = float(trs.t[0]);
    s.position[1] = float(trs.t[1]);
    s.position[2] = float(-trs.t[2]);
    anglesOfRotation(rotationOf(trs.r), s.angles);
    for (int i = 0; i < 3; ++i)
        s.scale[i] = float(trs.s[i]);
    return s;
}

// The column-major glTF matrix read row by row is its row-vector form; mirrored in z.
Matrix matrixFromArray(const std::vector<double>& a) {
    const double sign[4] = {1, 1, -1, 1};
    Matrix m;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m.m[i][j] = float(sign[i] * sign[j] * a[size_t(i * 4 + j)]);
    return m;
}

Trs trsOf(const tinygltf::Node& node) {
    Trs trs;
    for (size_t i = 0; i < 3 && i < node.translation.size(); ++i)
        trs.t[i] = node.translation[i];
    for (size_t i = 0; i < 4 && i < node.rotation.size(); ++i)
        trs.r[i] = node.rotation[i];
    for (size_t i = 0; i < 3 && i < node.scale.size(); ++i)
        trs.s[i] = node.scale[i];
    return trs;
}

struct Channel {
    std::vector<double> times, values;
    int width = 0;
    std::string path, interpolation;
};

void slerp(const double* a, const double* b, double u, double* out) {
    double d = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
    double sign = d < 0 ? -1 : 1;
    d *= sign;
    double wa = 1 - u, wb = u;
    if (d < 0.9995) {
        double angle = std::acos(d);
        wa = std::sin((1 - u) * angle) / std::sin(angle);
        wb = std::sin(u * angle) / std::sin(angle);
    }
    for (int i = 0; i < 4; ++i)
        out[i] = wa * a[i] + wb * sign * b[i];
}

// The channel's value at time t into out (width values).
void evaluate(const Channel& c, double t, double* out) {
    size_t keys = c.times.size();
    bool cubic = c.interpolation == "CUBICSPLINE";
    size_t w = size_t(c.width), stride = cubic ? 3 * w : w, at = cubic ? w : 0;
    auto value = [&](size_t k) { return &c.values[k * stride + at]; };
    if (t <= c.times[0] || keys == 1) return (void)std::copy_n(value(0), w, out);
    if (t >= c.times[keys - 1]) return (void)std::copy_n(value(keys - 1), w, out);
    size_t k = size_t(std::upper_bound(c.times.begin(), c.times.end(), t) - c.times.begin()) - 1;
    k = std::min(k, keys - 2); // t lies inside the keys: a later key always exists
    double dt = c.times[k + 1] - c.times[k];
    double u = dt > 0 ? (t - c.times[k]) / dt : 0;
    if (c.interpolation == "STEP") return (void)std::copy_n(value(k), w, out);
    if (cubic) {
        const double* v0 = value(k);
        const double* b0 = &c.values[k * stride + 2 * w]; // out-tangent of key k
        const double* v1 = value(k + 1);
        const double* a1 = &c.values[(k + 1) * stride]; // in-tangent of key k + 1
        double u2 = u * u, u3 = u2 * u;
        for (size_t i = 0; i < w; ++i)
            out[i] = (2 * u3 - 3 * u2 + 1) * v0[i] + (u3 - 2 * u2 + u) * dt * b0[i] +
                     (-2 * u3 + 3 * u2) * v1[i] + (u3 - u2) * dt * a1[i];
    } else if (c.path == "rotation") {
        slerp(value(k), value(k + 1), u, out);
    } else {
        for (size_t i = 0; i < w; ++i)
            out[i] = value(k)[i] + (value(k + 1)[i] - value(k)[i]) * u;
    }
}

bool readChannels(const tinygltf::Model& gltf, std::map<int, std::vector<Channel>>* byNode,
                  double* duration, std::string* error) {
    Failure fail{error};
    for (const tinygltf::Animation& animation : gltf.animations)
        for (const tinygltf::AnimationChannel& ch : animation.channels) {
            if (ch.target_path != "translation" && ch.target_path != "rotation" &&
                ch.target_path != "scale")
                continue; // morph weights are not animated by tracks
            if (ch.sampler < 0 || size_t(ch.sampler) >= animation.samplers.size() ||
                ch.target_node < 0 || size_t(ch.target_node) >= gltf.nodes.size())
                return fail("animation channel with a missing sampler or node");
            const tinygltf::AnimationSampler& s = animation.samplers[size_t(ch.sampler)];
            Channel c;
            c.path = ch.target_path;
            c.interpolation = s.interpolation.empty() ? "LINEAR" : s.interpolation;
            int w = 0;
            if (!readAccessor(gltf, s.input, &c.times, &w, error) ||
                !readAccessor(gltf, s.output, &c.values, &c.width, error))
                return false;
            size_t need =
                c.times.size() * size_t(c.width) * (c.interpolation == "CUBICSPLINE" ? 3 : 1);
            int wanted = c.path == "rotation" ? 4 : 3;
            if (c.times.empty() || w != 1 || c.width != wanted || c.values.size() != need)
                return fail("animation channel whose keys and values disagree");
            auto finite = [](double v) { return std::isfinite(v); };
            if (!std::all_of(c.times.begin(), c.times.end(), finite) ||
                !std::all_of(c.values.begin(), c.values.end(), finite))
                return fail("animation keys or values that are not finite numbers");
            if (!std::is_sorted(c.times.begin(), c.times.end()))
                return fail("animation keys not in ascending time order");
            *duration = std::max(*duration, c.times.back());
            (*byNode)[ch.target_node].push_back(std::move(c));
        }
    return true;
}

// ---- Meshes ----

uint32_t colourOf(const double* rgba, int width) {
    auto byte = [](double v) { return uint32_t(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    uint32_t a = width == 4 ? byte(rgba[3]) : 255;
    return a << 24 | byte(rgba[0]) << 16 | byte(rgba[1]) << 8 | byte(rgba[2]);
}

// Triangle lists with the winding reversed (the z mirror turns every face around).
bool listIndices(int mode, std::vector<uint32_t> in, uint32_t* type, std::vector<uint32_t>* out) {
    out->clear();
    switch (mode) {
    case TINYGLTF_MODE_POINTS:
        *type = 1, *out = in;
        return true;
    case TINYGLTF_MODE_LINE:
        *type = 2, *out = in;
        return true;
    case TINYGLTF_MODE_LINE_STRIP:
        *type = 3, *out = in;
        return true;
    case TINYGLTF_MODE_TRIANGLES:
        for (size_t i = 0; i + 2 < in.size(); i += 3)
            out->insert(out->end(), {in[i], in[i + 2], in[i + 1]});
        break;
    case TINYGLTF_MODE_TRIANGLE_STRIP:
        for (size_t i = 0; i + 2 < in.size(); ++i) {
            if (i % 2 == 0)
                out->insert(out->end(), {in[i], in[i + 2], in[i + 1]});
            else
                out->insert(out->end(), {in[i], in[i + 1], in[i + 2]});
        }
        break;
    case TINYGLTF_MODE_TRIANGLE_FAN:
        for (size_t i = 1; i + 1 < in.size(); ++i)
            out->insert(out->end(), {in[0], in[i + 1], in[i]});
        break;
    default:
        return false;
    }
    *type = 4;
    return true;
}

void growBox(float* box, const float* p, bool first) {
    for (int i = 0; i < 3; ++i) {
        box[i] = first ? p[i] : std::min(box[i], p[i]);
        box[3 + i] = first ? p[i] : std::max(box[3 + i], p[i]);
    }
}

struct Importer {
    const tinygltf::Model& gltf;
    Model& model;
    std::string* error;
    std::map<std::pair<int, bool>, int32_t> materialFor; // (glTF material, vertex colours)
    std::map<int, int32_t> imageFor;                     // glTF image -> model image
    std::string imageStem;

    bool part(const tinygltf::Primitive& p, Part* out, size_t targets);
    bool mesh(const tinygltf::Mesh& m, Mesh* out);
    int32_t material(int index, bool vertexColour);
    int32_t image(int texture);
};

bool Importer::part(const tinygltf::Primitive& p, Part* out, size_t targetCount) {
    Failure fail{error};
    auto attribute = [&](const char* name) {
        auto it = p.attributes.find(name);
        return it == p.attributes.end() ? -1 : it->second;
    };
    std::vector<double> position, normal, colour, uv[2];
    int w = 0, colourWidth = 0;
    if (!readAccessor(gltf, attribute("POSITION"), &position, &w, error)) return false;
    if (w != 3) return fail("POSITION is not a three-component accessor");
    size_t n = position.size() / 3;
    if (n > 65535) return fail("a primitive of more than 65535 vertices");
    auto optional = [&](const char* name, std::vector<double>* v, int want, int* width) {
        if (attribute(name) < 0) return true;
        int got = 0;
        if (!readAccessor(gltf, attribute(name), v, &got, error)) return false;
        if ((want && got != want) || v->size() / size_t(got) != n)
            return fail(std::string(name) + " disagrees with POSITION");
        if (width) *width = got;
        return true;
    };
    if (!optional("NORMAL", &normal, 3, nullptr) ||
        !optional("COLOR_0", &colour, 0, &colourWidth) ||
        !optional("TEXCOORD_0", &uv[0], 2, nullptr) || !optional("TEXCOORD_1", &uv[1], 2, nullptr))
        return false;
    if (!colour.empty() && colourWidth != 3 && colourWidth != 4)
        return fail("COLOR_0 is no colour");
    int sets = uv[1].empty() ? (uv[0].empty() ? 0 : 1) : 2;
    if (sets == 2 && uv[0].empty()) return fail("TEXCOORD_1 without TEXCOORD_0");
    out->fvf = D3DFVF_XYZ | (normal.empty() ? 0 : D3DFVF_NORMAL) |
               (colour.empty() ? 0 : D3DFVF_DIFFUSE) | uint32_t(sets) << D3DFVF_TEXCOUNT_SHIFT;
    uint32_t stride = fvfVertexSize(out->fvf);
    out->vertexCount = uint32_t(n);
    out->vertices.resize(n * stride);
    for (size_t v = 0; v < n; ++v) {
        uint8_t* at = &out->vertices[v * stride];
        auto put = [&at](float f) {
            memcpy(at, &f, 4);
            at += 4;
        };
        float p3[3] = {float(position[3 * v]), float(position[3 * v + 1]),
                       float(-position[3 * v + 2])};
        for (float f : p3)
            put(f);
        growBox(out->box, p3, v == 0);
        if (!normal.empty())
            for (float f :
                 {float(normal[3 * v]), float(normal[3 * v + 1]), float(-normal[3 * v + 2])})
                put(f);
        if (!colour.empty()) {
            uint32_t c = colourOf(&colour[v * size_t(colourWidth)], colourWidth);
            memcpy(at, &c, 4);
            at += 4;
        }
        for (int s = 0; s < sets; ++s) {
            put(float(uv[s][2 * v]));
            put(float(uv[s][2 * v + 1]));
        }
    }
    std::vector<uint32_t> indices(n);
    for (size_t i = 0; i < n; ++i)
        indices[i] = uint32_t(i);
    if (p.indices >= 0) {
        std::vector<double> raw;
        if (!readAccessor(gltf, p.indices, &raw, &w, error)) return false;
        if (w != 1) return fail("indices are not scalars");
        indices.resize(raw.size());
        for (size_t i = 0; i < raw.size(); ++i) {
            // Indices must be whole numbers (a float accessor can hold anything, NaN too).
            if (!(raw[i] == std::floor(raw[i]))) return fail("an index that is not a whole number");
            if (raw[i] < 0 || raw[i] >= double(n)) return fail("an index past the vertices");
            indices[i] = uint32_t(raw[i]);
        }
    }
    std::vector<uint32_t> list;
    if (!listIndices(p.mode, indices, &out->type, &list))
        return fail("line loops are not supported");
    out->indices.assign(list.begin(), list.end());
    out->material = material(p.material, !colour.empty());

    if (p.targets.size() != targetCount)
        return fail("primitives of one mesh with different target counts");
    for (const auto& target : p.targets) {
        std::vector<float> deltas(n * stride / 4, 0.0f);
        for (const char* name : {"POSITION", "NORMAL"}) {
            auto it = target.find(name);
            if (it == target.end()) continue;
            bool isNormal = name[0] == 'N';
            if (isNormal && normal.empty()) continue;
            std::vector<double> d;
            if (!readAccessor(gltf, it->second, &d, &w, error)) return false;
            if (w != 3 || d.size() != 3 * n)
                return fail(std::string("morph target ") + name + " disagrees with POSITION");
            for (size_t v = 0; v < n; ++v)
                for (int c = 0; c < 3; ++c)
                    deltas[v * stride / 4 + (isNormal ? 3 : 0) + size_t(c)] =
                        float((c == 2 ? -1 : 1) * d[3 * v + size_t(c)]);
        }
        out->targetDeltas.push_back(std::move(deltas));
    }
    return true;
}

bool Importer::mesh(const tinygltf::Mesh& m, Mesh* out) {
    out->name = m.name;
    size_t targets = m.primitives.empty() ? 0 : m.primitives[0].targets.size();
    for (size_t t = 0; t < targets; ++t)
        out->targetNames.push_back("target" + std::to_string(t));
    if (m.extras.Has("targetNames") && m.extras.Get("targetNames").IsArray()) {
        const tinygltf::Value& names = m.extras.Get("targetNames");
        for (size_t t = 0; t < targets && t < names.ArrayLen(); ++t)
            if (names.Get(int(t)).IsString())
                out->targetNames[t] = names.Get(int(t)).Get<std::string>();
    }
    for (const tinygltf::Primitive& p : m.primitives) {
        Part part;
        if (!this->part(p, &part, targets)) {
            *error = "mesh '" + m.name + "': " + *error;
            return false;
        }
        growBox(out->box, part.box, out->parts.empty());
        growBox(out->box, part.box + 3, false);
        out->parts.push_back(std::move(part));
    }
    return true;
}

// ---- Materials and images ----

// Specular and power from metallic-roughness: the specular colour is the reflectance at
// normal incidence (0.04 for dielectrics, the base colour for metals) dimmed by roughness,
// and the power falls from 128 for a mirror to 0 (specular off) at roughness 1.
void specularOf(const tinygltf::PbrMetallicRoughness& pbr, Material* m) {
    double metal = std::clamp(pbr.metallicFactor, 0.0, 1.0);
    double rough = std::clamp(pbr.roughnessFactor, 0.0, 1.0);
    for (int i = 0; i < 3; ++i)
        m->specular[i] = float((0.04 * (1 - metal) + m->diffuse[i] * metal) * (1 - rough));
    double power = 128 * (1 - rough) * (1 - rough);
    m->power = power < 1 ? 0.0f : float(power);
}

int32_t Importer::image(int textureIndex) {
    if (textureIndex < 0 || size_t(textureIndex) >= gltf.textures.size()) return -1;
    int source = gltf.textures[size_t(textureIndex)].source;
    if (source < 0 || size_t(source) >= gltf.images.size()) return -1;
    auto found = imageFor.find(source);
    if (found != imageFor.end()) return found->second;
    const std::vector<unsigned char>& bytes = gltf.images[size_t(source)].image;
    bool png = bytes.size() > 4 && bytes[0] == 0x89 && bytes[1] == 'P';
    bool jpeg = bytes.size() > 2 && bytes[0] == 0xff && bytes[1] == 0xd8;
    if (!png && !jpeg) return imageFor[source] = -1;
    Image image;
    image.fileName =
        imageStem + "_" + std::to_string(model.images.size()) + (png ? ".png" : ".jpg");
    image.bytes.assign(bytes.begin(), bytes.end());
    model.images.push_back(image);
    return imageFor[source] = int32_t(model.images.size() - 1);
}

uint32_t addressOf(int wrap) {
    return wrap == TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE     ? 3
           : wrap == TINYGLTF_TEXTURE_WRAP_MIRRORED_REPEAT ? 2
                                                           : 1;
}

int32_t Importer::material(int index, bool vertexColour) {
    if (index >= int(gltf.materials.size())) index = -1;
    auto key = std::make_pair(index, vertexColour);
    auto found = materialFor.find(key);
    if (found != materialFor.end()) return found->second;
    Material m;
    m.vertexColour = vertexColour;
    if (index >= 0) {
        const tinygltf::Material& g = gltf.materials[size_t(index)];
        m.name = g.name;
        const auto& pbr = g.pbrMetallicRoughness;
        for (size_t i = 0; i < 3 && i < pbr.baseColorFactor.size(); ++i)
            m.diffuse[i] = float(pbr.baseColorFactor[i]);
        specularOf(pbr, &m);
        m.blend = g.alphaMode == "BLEND";
        int32_t img = image(pbr.baseColorTexture.index);
        if (img >= 0) {
            Stage stage;
            stage.image = img;
            stage.texCoord = uint32_t(std::clamp(pbr.baseColorTexture.texCoord, 0, 1));
            int sampler = gltf.textures[size_t(pbr.baseColorTexture.index)].sampler;
            if (sampler >= 0 && size_t(sampler) < gltf.samplers.size()) {
                const tinygltf::Sampler& s = gltf.samplers[size_t(sampler)];
                stage.addressU = addressOf(s.wrapS);
                stage.addressV = addressOf(s.wrapT);
                stage.filter =
                    (s.magFilter == TINYGLTF_TEXTURE_FILTER_NEAREST ? 0u : 1u) |
                    (s.minFilter == TINYGLTF_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR ||
                             s.minFilter == TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR ||
                             s.minFilter == TINYGLTF_TEXTURE_FILTER_NEAREST_MIPMAP_NEAREST ||
                             s.minFilter == TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_NEAREST
                         ? 2u
                         : 0u);
            }
            m.stages.push_back(stage);
        }
    } else {
        m.name = "default";
    }
    model.materials.push_back(m);
    return materialFor[key] = int32_t(model.materials.size() - 1);
}

// Keeps the encoded image bytes as they are: the texture pool decodes them at run time.
bool keepImageBytes(tinygltf::Image* image, const int, std::string*, std::string*, int, int,
                    const unsigned char* bytes, int size, void*) {
    image->image.assign(bytes, bytes + size);
    image->as_is = true;
    return true;
}

// ---- The model ----

bool readNodes(const tinygltf::Model& gltf, Model& model, std::vector<int>* order,
               std::string* error) {
    Failure fail{error};
    std::vector<int> roots;
    int sceneIndex = gltf.defaultScene >= 0 ? gltf.defaultScene : 0;
    if (size_t(sceneIndex) < gltf.scenes.size()) {
        roots = gltf.scenes[size_t(sceneIndex)].nodes;
    } else {
        std::vector<bool> child(gltf.nodes.size());
        for (const tinygltf::Node& n : gltf.nodes)
            for (int c : n.children)
                if (c >= 0 && size_t(c) < child.size()) child[size_t(c)] = true;
        for (size_t i = 0; i < child.size(); ++i)
            if (!child[i]) roots.push_back(int(i));
    }
    std::vector<bool> seen(gltf.nodes.size());
    std::vector<std::pair<int, int32_t>> stack; // node, parent in model.nodes
    for (auto it = roots.rbegin(); it != roots.rend(); ++it)
        stack.push_back({*it, -1});
    while (!stack.empty()) {
        auto [index, parent] = stack.back();
        stack.pop_back();
        if (index < 0 || size_t(index) >= gltf.nodes.size())
            return fail("a node that does not exist");
        if (seen[size_t(index)])
            return fail("node " + std::to_string(index) +
                        " is reached twice (a cycle or a shared child)");
        seen[size_t(index)] = true;
        const tinygltf::Node& g = gltf.nodes[size_t(index)];
        Node node;
        node.name = g.name.empty() ? "node" + std::to_string(index) : g.name;
        node.parent = parent;
        node.mesh = g.mesh >= 0 && size_t(g.mesh) < gltf.meshes.size() ? g.mesh : -1;
        node.camera = g.camera >= 0 && size_t(g.camera) < gltf.cameras.size() ? g.camera : -1;
        auto light = g.extensions.find("KHR_lights_punctual");
        if (light != g.extensions.end() && light->second.Has("light") &&
            light->second.Get("light").IsInt()) {
            int l = light->second.Get("light").Get<int>();
            if (l >= 0 && size_t(l) < gltf.lights.size()) node.light = l;
        }
        if (g.matrix.size() == 16)
            node.local = matrixFromArray(g.matrix);
        else
            node.local = matrixOf(trsOf(g));
        node.world =
            parent >= 0 ? multiply(node.local, model.nodes[size_t(parent)].world) : node.local;
        order->push_back(index);
        model.nodes.push_back(node);
        int32_t self = int32_t(model.nodes.size() - 1);
        for (auto c = g.children.rbegin(); c != g.children.rend(); ++c)
            stack.push_back({*c, self});
    }
    return true;
}

} // namespace

Matrix multiply(const Matrix& a, const Matrix& b) {
    Matrix r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += a.m[i][k] * b.m[k][j];
            r.m[i][j] = sum;
        }
    return r;
}

void anglesOfRotation(const Matrix& r, float angles[3]) {
    const float(*m)[4] = r.m;
    float sb = std::clamp(m[2][1], -1.0f, 1.0f);
    angles[1] = std::asin(sb);
    if (std::fabs(sb) < 0.99999f) {
        angles[0] = std::atan2(m[2][0], m[2][2]);
        angles[2] = std::atan2(-m[0][1], m[1][1]);
    } else {
        angles[0] = std::atan2(-m[0][2], m[0][0]);
        angles[2] = 0;
    }
}

namespace {

bool importModel(const tinygltf::Model& gltf, const std::string& imageStem, float frameRate,
                 Model* model, std::string* error);

} // namespace

bool importGltf(const std::string& path, const std::string& imageStem, float frameRate,
                Model* model, std::string* error) {
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(keepImageBytes, nullptr);
    tinygltf::Model gltf;
    std::string warning;
    bool binary = path.size() > 4 && path.compare(path.size() - 4, 4, ".glb") == 0;
    bool loaded = binary ? loader.LoadBinaryFromFile(&gltf, error, &warning, path)
                         : loader.LoadASCIIFromFile(&gltf, error, &warning, path);
    if (!loaded) {
        if (error->empty()) *error = "not a glTF 2.0 file";
        return false;
    }
    return importModel(gltf, imageStem, frameRate, model, error);
}

bool importGltfBytes(const uint8_t* bytes, size_t size, bool binary, float frameRate, Model* model,
                     std::string* error) {
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(keepImageBytes, nullptr);
    // Only embedded data: no file next to the bytes is read.
    tinygltf::FsCallbacks noFiles{};
    noFiles.FileExists = [](const std::string&, void*) { return false; };
    noFiles.ExpandFilePath = [](const std::string& p, void*) { return p; };
    noFiles.ReadWholeFile = [](std::vector<unsigned char>*, std::string* e, const std::string&,
                               void*) {
        *e = "external files are not read here";
        return false;
    };
    noFiles.WriteWholeFile = [](std::string*, const std::string&, const std::vector<unsigned char>&,
                                void*) { return false; };
    loader.SetFsCallbacks(noFiles);
    tinygltf::Model gltf;
    std::string warning;
    bool loaded =
        binary
            ? loader.LoadBinaryFromMemory(&gltf, error, &warning, bytes, unsigned(size))
            : loader.LoadASCIIFromString(&gltf, error, &warning,
                                         reinterpret_cast<const char*>(bytes), unsigned(size), "");
    if (!loaded) return false;
    return importModel(gltf, "image", frameRate, model, error);
}

namespace {

bool importModel(const tinygltf::Model& gltf, const std::string& imageStem, float frameRate,
                 Model* model, std::string* error) {
    model->frameRate = frameRate;
    Importer importer{gltf, *model, error, {}, {}, imageStem};
    for (const tinygltf::Mesh& m : gltf.meshes) {
        Mesh mesh;
        if (!importer.mesh(m, &mesh)) return false;
        model->meshes.push_back(std::move(mesh));
    }
    for (const tinygltf::Light& l : gltf.lights) {
        Light light;
        light.type = l.type == "spot" ? 2 : l.type == "directional" ? 3 : 1;
        for (size_t i = 0; i < 3 && i < l.color.size(); ++i)
            light.colour[i] = float(l.color[i]);
        light.intensity = float(l.intensity);
        light.range = float(l.range);
        light.inner = float(2 * l.spot.innerConeAngle);
        light.outer = float(2 * l.spot.outerConeAngle);
        model->lights.push_back(light);
    }
    for (const tinygltf::Camera& c : gltf.cameras) {
        Camera camera;
        if (c.type == "perspective" && c.perspective.yfov > 0) {
            double aspect = c.perspective.aspectRatio > 0 ? c.perspective.aspectRatio : 4.0 / 3.0;
            camera.zoomY = float(1 / std::tan(c.perspective.yfov / 2));
            camera.zoomX = float(camera.zoomY / aspect);
        }
        model->cameras.push_back(camera);
    }
    std::vector<int> order;
    if (!readNodes(gltf, *model, &order, error)) return false;

    std::map<int, std::vector<Channel>> channels;
    double duration = 0;
    if (!readChannels(gltf, &channels, &duration, error)) return false;
    // The length is checked as a double: a huge key time would not fit the frame count.
    const double frames = channels.empty() ? 1.0 : std::floor(duration * frameRate + 1e-6) + 1.0;
    if (!(frames <= 100000.0)) {
        *error = "animation longer than 100000 frames";
        return false;
    }
    model->frameCount = int32_t(frames);
    for (size_t i = 0; i < order.size(); ++i) {
        const tinygltf::Node& g = gltf.nodes[size_t(order[i])];
        Trs base = trsOf(g);
        auto found = channels.find(order[i]);
        int32_t frames = found == channels.end() ? 1 : model->frameCount;
        for (int32_t f = 0; f < frames; ++f) {
            Trs trs = base;
            if (found != channels.end())
                for (const Channel& c : found->second) {
                    double* target = c.path == "translation" ? trs.t
                                     : c.path == "rotation"  ? trs.r
                                                             : trs.s;
                    evaluate(c, f / double(frameRate), target);
                }
            Sample sample = sampleOf(trs);
            if (g.matrix.size() == 16) {
                const Matrix& m = model->nodes[i].local;
                Sample fromMatrix;
                for (int k = 0; k < 3; ++k) {
                    fromMatrix.position[k] = m.m[3][k];
                    fromMatrix.scale[k] = std::sqrt(m.m[k][0] * m.m[k][0] + m.m[k][1] * m.m[k][1] +
                                                    m.m[k][2] * m.m[k][2]);
                }
                Matrix rotation = m;
                for (int k = 0; k < 3; ++k)
                    for (int j = 0; j < 3; ++j)
                        if (fromMatrix.scale[k] > 0) rotation.m[k][j] /= fromMatrix.scale[k];
                anglesOfRotation(rotation, fromMatrix.angles);
                sample = fromMatrix;
            }
            model->nodes[i].frames.push_back(sample);
        }
    }
    return true;
}

} // namespace

} // namespace scenetool
