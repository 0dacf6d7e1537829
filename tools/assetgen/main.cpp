// assetgen: the generated assets of the scene effects.
//
//   assetgen mushroom OUT.gltf   stem and cap, one mesh of two parts (the mushroom field)
//   assetgen grass OUT.jpg       256 x 256 tiling green noise (the mushroom field's ground)
//   assetgen head OUT.gltf       the talking head: mesh "max_headroom" with the mouth shapes
//                                "MSH-a" ... "MSH-u", eyes "sphere" and "sphere1", teeth
//                                "up_teeth" and "low_teeth"
//
// Models are glTF 2.0 (right-handed, +z towards the viewer); the scene tool turns them into
// scene files. Everything is computed, nothing is random: the same build writes the same
// bytes.
#include "tools/assetgen/gltf_writer.h"

#include <CLI/CLI.hpp>
#include <turbojpeg.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>

using namespace assetgen;

namespace {

constexpr float kPi = 3.14159265358979f;

Vec3 operator+(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec3 operator-(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec3 operator*(Vec3 a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec3 normalised(Vec3 v) {
    float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return length > 0 ? v * (1 / length) : Vec3{0, 1, 0};
}

// Quads of a (rows + 1) x (columns + 1) vertex grid whose first vertex is `base`.
void gridTriangles(Primitive& p, uint16_t base, int rows, int columns) {
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            auto at = [&](int rr, int cc) { return uint16_t(base + rr * (columns + 1) + cc); };
            p.indices.insert(p.indices.end(), {at(r, c), at(r + 1, c), at(r + 1, c + 1)});
            p.indices.insert(p.indices.end(), {at(r, c), at(r + 1, c + 1), at(r, c + 1)});
        }
}

// Normals from the triangles (area weighted), for surfaces given by positions only.
void smoothNormals(Primitive& p) {
    p.normals.assign(p.positions.size(), Vec3{});
    for (size_t i = 0; i + 2 < p.indices.size(); i += 3) {
        uint16_t a = p.indices[i], b = p.indices[i + 1], c = p.indices[i + 2];
        Vec3 n = cross(p.positions[b] - p.positions[a], p.positions[c] - p.positions[a]);
        for (uint16_t v : {a, b, c})
            p.normals[v] = p.normals[v] + n;
    }
    for (Vec3& n : p.normals)
        n = normalised(n);
}

// ---- Mushroom ----

// A surface of revolution about y from a profile of (radius, height) points.
void lathe(Primitive& p, const std::vector<std::pair<float, float>>& profile, int segments) {
    uint16_t base = uint16_t(p.positions.size());
    int rows = int(profile.size()) - 1;
    for (int r = 0; r <= rows; ++r) {
        // Profile tangent by neighbouring points; the outward normal is the tangent turned.
        auto [r0, y0] = profile[size_t(std::max(r - 1, 0))];
        auto [r1, y1] = profile[size_t(std::min(r + 1, rows))];
        float nr = y1 - y0, ny = -(r1 - r0);
        float length = std::sqrt(nr * nr + ny * ny);
        nr /= length, ny /= length;
        for (int s = 0; s <= segments; ++s) {
            float a = 2 * kPi * float(s) / float(segments);
            float radius = profile[size_t(r)].first, height = profile[size_t(r)].second;
            p.positions.push_back({radius * std::sin(a), height, radius * std::cos(a)});
            p.normals.push_back({nr * std::sin(a), ny, nr * std::cos(a)});
            p.uvs.insert(p.uvs.end(), {float(s) / float(segments), float(r) / float(rows)});
        }
    }
    gridTriangles(p, base, rows, segments);
}

Document mushroom() {
    Document d;
    d.materials = {{"stem", {0.93f, 0.88f, 0.76f}, 0.8f}, {"cap", {0.78f, 0.16f, 0.1f}, 0.35f}};
    Primitive stem, cap;
    std::vector<std::pair<float, float>> stemProfile;
    for (int i = 0; i <= 8; ++i) {
        float h = float(i) / 8;
        stemProfile.push_back({0.17f - 0.05f * h + 0.05f * (1 - h) * (1 - h), 0.6f * h});
    }
    lathe(stem, stemProfile, 24);
    stem.material = 0;
    // The cap: the gills from the stem out to the rim, then the dome from the rim to the top.
    std::vector<std::pair<float, float>> gills, dome;
    for (int i = 0; i <= 4; ++i) {
        float f = float(i) / 4;
        gills.push_back({0.13f + 0.47f * f, 0.58f - 0.06f * f * f});
    }
    for (int i = 0; i <= 10; ++i) {
        float a = 0.5f * kPi * float(i) / 10;
        dome.push_back({0.6f * std::cos(a) + 0.04f * std::sin(2 * a), 0.52f + 0.38f * std::sin(a)});
    }
    dome.back().first = 0;
    lathe(cap, gills, 32);
    lathe(cap, dome, 32);
    cap.material = 1;
    d.meshes.push_back({"pilz", {stem, cap}, {}});
    d.nodes.push_back({"pilz", 0, {}});
    return d;
}

// ---- Grass ----

// Value noise on a lattice that wraps at `period`, so the texture tiles.
float latticeNoise(int x, int y, int period, uint32_t seed) {
    x = ((x % period) + period) % period;
    y = ((y % period) + period) % period;
    uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return float((h ^ (h >> 16)) & 0xffff) / 65535.0f;
}

float smoothNoise(float x, float y, int period, uint32_t seed) {
    int ix = int(std::floor(x)), iy = int(std::floor(y));
    float fx = x - float(ix), fy = y - float(iy);
    fx = fx * fx * (3 - 2 * fx), fy = fy * fy * (3 - 2 * fy);
    float a = latticeNoise(ix, iy, period, seed), b = latticeNoise(ix + 1, iy, period, seed);
    float c = latticeNoise(ix, iy + 1, period, seed),
          e = latticeNoise(ix + 1, iy + 1, period, seed);
    return (a + (b - a) * fx) * (1 - fy) + (c + (e - c) * fx) * fy;
}

bool grass(const std::string& path) {
    constexpr int kSize = 256;
    std::vector<uint8_t> rgb(kSize * kSize * 3);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            // Four octaves of clumps plus fine blades stretched along y.
            float clumps = 0, weight = 0.5f;
            for (int octave = 0; octave < 4; ++octave) {
                int period = 4 << octave;
                float scale = float(period) / kSize;
                clumps += weight * smoothNoise(float(x) * scale, float(y) * scale, period,
                                               uint32_t(octave + 1));
                weight *= 0.5f;
            }
            float blades = smoothNoise(float(x) * 0.5f, float(y) * 0.125f, 128, 9);
            float light = 0.35f + 0.5f * clumps + 0.3f * blades;
            uint8_t* p = &rgb[size_t(y * kSize + x) * 3];
            p[0] = uint8_t(std::fmin(255.0f, 70 * light * (0.6f + 0.8f * blades)));
            p[1] = uint8_t(std::fmin(255.0f, 150 * light));
            p[2] = uint8_t(std::fmin(255.0f, 40 * light));
        }
    tjhandle encoder = tjInitCompress();
    if (!encoder) return false;
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    int result = tjCompress2(encoder, rgb.data(), kSize, 0, kSize, TJPF_RGB, &jpeg, &size,
                             TJSAMP_420, 90, TJFLAG_ACCURATEDCT);
    bool written = false;
    if (result == 0) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(jpeg), std::streamsize(size));
        written = bool(out);
    }
    tjFree(jpeg);
    tjDestroy(encoder);
    return written;
}

// ---- Head ----

// The head is an ellipsoid of these radii (model units; the head is about 7.5 units tall,
// sized for the talking-head effect's camera ten units away and its three lights).
constexpr float kRadius[3] = {3.0f, 3.75f, 3.15f};
constexpr int kRows = 32, kColumns = 48;
constexpr int kMouthRow = 20;            // the lips meet on this row (below the equator)
constexpr float kMouthHalfWidth = 0.42f; // azimuth of the mouth corners, radians
constexpr const char* kVowels[5] = {"MSH-a", "MSH-e", "MSH-i", "MSH-o", "MSH-u"};

float rowAngle(int row) {
    return kPi * float(row) / kRows;
}

Vec3 headPoint(float polar, float azimuth) {
    // A nose: a bump of the radius in front, a little above the mouth.
    float nose = 0.16f * std::exp(-(azimuth * azimuth) / 0.012f -
                                  (polar - 0.53f * kPi) * (polar - 0.53f * kPi) / 0.02f);
    float s = 1 + nose;
    return {kRadius[0] * s * std::sin(polar) * std::sin(azimuth), kRadius[1] * std::cos(polar),
            kRadius[2] * s * std::sin(polar) * std::cos(azimuth)};
}

// How far the five mouth shapes move a vertex: the jaw below the lips drops, the upper lip
// lifts a little, the corners pull in (o, u) or out (e, i), rounded lips push forward.
Vec3 mouthDelta(int vowel, float polar, float azimuth, bool lower) {
    float across = std::fabs(azimuth) < 0.55f ? 0.5f * (1 + std::cos(kPi * azimuth / 0.55f)) : 0;
    float mouth = rowAngle(kMouthRow);
    float jaw = lower ? std::fmax(0.0f, 1 - (polar - mouth) / (0.3f * kPi)) : 0;
    float lip = lower ? 0 : std::fmax(0.0f, 1 - (mouth - polar) / (0.12f * kPi));
    float side = std::fmax(-1.0f, std::fmin(1.0f, azimuth / kMouthHalfWidth));
    //                         a      e     i      o     u
    const float drop[5] = {1.4f, 0.5f, 0.3f, 0.9f, 0.45f};
    const float lift[5] = {0.12f, 0.09f, 0.09f, 0.15f, 0.09f};
    const float widen[5] = {0.0f, 0.24f, 0.36f, -0.30f, -0.42f};
    const float pout[5] = {0.0f, 0.0f, 0.0f, 0.18f, 0.36f};
    float lips = jaw + lip;
    return {widen[vowel] * side * across * lips, (-drop[vowel] * jaw + lift[vowel] * lip) * across,
            pout[vowel] * across * lips};
}

// The skin with the lips split along the mouth row: vertices of that row inside the mouth
// exist twice, once for the upper and once for the lower lip, so that the shapes can open
// the mouth. Every vertex gets its five deltas.
Primitive headSkin() {
    Primitive p;
    p.targets.resize(5);
    std::vector<int> upperIndex((kRows + 1) * (kColumns + 1)), lowerIndex(upperIndex.size());
    auto add = [&](int row, int column, bool lower) {
        float polar = rowAngle(row), azimuth = 2 * kPi * float(column) / kColumns - kPi;
        p.positions.push_back(headPoint(polar, azimuth));
        p.uvs.insert(p.uvs.end(), {float(column) / kColumns, float(row) / kRows});
        bool below = row > kMouthRow || lower;
        for (int v = 0; v < 5; ++v)
            p.targets[size_t(v)].push_back(mouthDelta(v, polar, azimuth, below));
        return int(p.positions.size() - 1);
    };
    for (int row = 0; row <= kRows; ++row)
        for (int column = 0; column <= kColumns; ++column) {
            size_t at = size_t(row * (kColumns + 1) + column);
            upperIndex[at] = lowerIndex[at] = add(row, column, false);
            float azimuth = 2 * kPi * float(column) / kColumns - kPi;
            if (row == kMouthRow && std::fabs(azimuth) < kMouthHalfWidth - 1e-4f)
                lowerIndex[at] = add(row, column, true);
        }
    for (int row = 0; row < kRows; ++row)
        for (int column = 0; column < kColumns; ++column) {
            // The quads below the mouth row take the lower lip's vertices.
            const std::vector<int>& top = row == kMouthRow ? lowerIndex : upperIndex;
            auto a = uint16_t(top[size_t(row * (kColumns + 1) + column)]);
            auto b = uint16_t(top[size_t(row * (kColumns + 1) + column + 1)]);
            auto c = uint16_t(upperIndex[size_t((row + 1) * (kColumns + 1) + column)]);
            auto e = uint16_t(upperIndex[size_t((row + 1) * (kColumns + 1) + column + 1)]);
            p.indices.insert(p.indices.end(), {a, c, e, a, e, b});
        }
    smoothNormals(p);
    return p;
}

// An ellipsoid of its own (the mouth's inside, the eyes), pole along `axis` (1 y, 2 z).
Primitive ellipsoid(Vec3 centre, Vec3 radius, int rows, int columns, int axis, float fromPolar = 0,
                    float toPolar = kPi) {
    Primitive p;
    for (int r = 0; r <= rows; ++r)
        for (int c = 0; c <= columns; ++c) {
            float polar = fromPolar + (toPolar - fromPolar) * float(r) / float(rows);
            float azimuth = 2 * kPi * float(c) / float(columns);
            Vec3 unit = {std::sin(polar) * std::cos(azimuth), std::sin(polar) * std::sin(azimuth),
                         std::cos(polar)};
            if (axis == 1) unit = {unit.x, unit.z, unit.y};
            p.positions.push_back(centre +
                                  Vec3{unit.x * radius.x, unit.y * radius.y, unit.z * radius.z});
            p.normals.push_back(
                normalised({unit.x / radius.x, unit.y / radius.y, unit.z / radius.z}));
            p.uvs.insert(p.uvs.end(), {float(c) / float(columns), float(r) / float(rows)});
        }
    gridTriangles(p, 0, rows, columns);
    return p;
}

Primitive box(Vec3 half) {
    Primitive p;
    const Vec3 axes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int axis = 0; axis < 3; ++axis)
        for (float sign : {-1.0f, 1.0f}) {
            Vec3 n = axes[axis] * sign, u = axes[(axis + 1) % 3], v = axes[(axis + 2) % 3];
            auto base = uint16_t(p.positions.size());
            for (int corner = 0; corner < 4; ++corner) {
                float cu = corner & 1 ? 1.0f : -1.0f, cv = corner & 2 ? 1.0f : -1.0f;
                Vec3 at = n + u * cu + v * cv;
                p.positions.push_back({at.x * half.x, at.y * half.y, at.z * half.z});
                p.normals.push_back(n);
                p.uvs.insert(p.uvs.end(), {(cu + 1) / 2, (cv + 1) / 2});
            }
            p.indices.insert(p.indices.end(), {base, uint16_t(base + 1), uint16_t(base + 3), base,
                                               uint16_t(base + 3), uint16_t(base + 2)});
        }
    return p;
}

Document head() {
    Document d;
    d.materials = {{"skin", {0.86f, 0.68f, 0.56f}, 0.55f},
                   {"mouth", {0.32f, 0.06f, 0.07f}, 0.9f},
                   {"teeth", {0.95f, 0.94f, 0.88f}, 0.3f},
                   {"eye white", {0.96f, 0.96f, 0.96f}, 0.2f},
                   {"iris", {0.1f, 0.22f, 0.45f}, 0.2f}};
    Primitive skin = headSkin();
    skin.material = 0;
    // The inside of the mouth, behind the lips: seen when they part.
    Primitive inside = ellipsoid({0, -1.5f, 1.5f}, {1.35f, 0.95f, 1.2f}, 12, 16, 1);
    inside.material = 1;
    inside.targets.assign(5, std::vector<Vec3>(inside.positions.size()));
    std::vector<std::string> names(std::begin(kVowels), std::end(kVowels));
    d.meshes.push_back({"max_headroom", {skin, inside}, names});

    // The eyes look along +z: white ball, iris cap.
    Primitive white = ellipsoid({}, {0.6f, 0.6f, 0.6f}, 12, 20, 2, 0.38f, kPi);
    white.material = 3;
    Primitive iris = ellipsoid({}, {0.605f, 0.605f, 0.605f}, 4, 20, 2, 0, 0.38f);
    iris.material = 4;
    d.meshes.push_back({"eye", {white, iris}, {}});
    Primitive upper = box({0.66f, 0.12f, 0.18f}), lower = box({0.6f, 0.12f, 0.18f});
    upper.material = lower.material = 2;
    d.meshes.push_back({"upper teeth", {upper}, {}});
    d.meshes.push_back({"lower teeth", {lower}, {}});

    float mouthY = kRadius[1] * std::cos(rowAngle(kMouthRow));
    d.nodes = {{"head", 0, {}},
               {"sphere", 1, {-1.08f, 0.84f, 2.46f}},
               {"sphere1", 1, {1.08f, 0.84f, 2.46f}},
               {"up_teeth", 2, {0, mouthY + 0.15f, 2.4f}},
               {"low_teeth", 3, {0, mouthY - 0.16f, 2.38f}}};
    return d;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"assetgen: the generated assets of the scene effects"};
    app.require_subcommand(1);
    std::string output;
    for (const char* kind : {"mushroom", "grass", "head"})
        app.add_subcommand(kind, std::string("write the ") + kind)
            ->add_option("output", output, "file to write")
            ->required();
    CLI11_PARSE(app, argc, argv);
    const std::string kind = app.get_subcommands().front()->get_name();
    bool written = kind == "grass"      ? grass(output)
                   : kind == "mushroom" ? writeGltf(output, mushroom())
                                        : writeGltf(output, head());
    if (!written) {
        fprintf(stderr, "assetgen: cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}
