// demogen: makes the default production's pictures and scene models, the same bytes on every
// run (a fixed random seed, no clock, no system fonts).
//
//   demogen images OUTDIR   glyphs.png (the matrix effect's 16 x 16 glyph sheet), nebula.jpg,
//                           planet.dds (32-bit, alpha outside the disc), strip0.jpg ...
//                           strip5.jpg
//   demogen scenes OUTDIR   towers.gltf (a ring of towers for an object scene) and orbit.gltf
//                           (boxes circling a pillar, a moving camera and a light, animated,
//                           for a flat scene); the scene tool turns them into scene files
//
// Sections: pictures; glTF writing; the two models; the command line.
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// ---- Pictures ----

constexpr double kPi = 3.14159265358979323846;

struct Picture {
    int width = 0, height = 0, channels = 3;
    std::vector<uint8_t> pixels;
};

Picture makePicture(int width, int height, int channels) {
    Picture p;
    p.width = width, p.height = height, p.channels = channels;
    p.pixels.assign(size_t(width) * size_t(height) * size_t(channels), 0);
    return p;
}

uint8_t* pixelAt(Picture& p, int x, int y) {
    return &p.pixels[(size_t(y) * size_t(p.width) + size_t(x)) * size_t(p.channels)];
}

uint8_t toByte(double v) {
    return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

// A small linear congruential generator: the same sequence everywhere.
struct Random {
    uint32_t state = 0x1234567u;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

bool savePicture(const std::string& path, const Picture& p) {
    bool png = path.size() > 4 && path.compare(path.size() - 4, 4, ".png") == 0;
    int ok = png ? stbi_write_png(path.c_str(), p.width, p.height, p.channels, p.pixels.data(),
                                  p.width * p.channels)
                 : stbi_write_jpg(path.c_str(), p.width, p.height, p.channels, p.pixels.data(), 92);
    if (!ok) fprintf(stderr, "demogen: cannot write %s\n", path.c_str());
    return ok != 0;
}

// An uncompressed 32-bit DDS (the only picture form whose alpha reaches a texture): the
// 124-byte description after the magic, then the rows as B, G, R, A.
bool saveDds(const std::string& path, const Picture& p) {
    uint32_t description[31] = {};
    description[0] = 124;
    description[1] = 0x100F; // caps, height, width, pitch, pixel format
    description[2] = uint32_t(p.height);
    description[3] = uint32_t(p.width);
    description[4] = uint32_t(p.width) * 4;
    description[18] = 32;   // pixel format size
    description[19] = 0x41; // RGB with alpha
    description[21] = 32;
    description[22] = 0xFF0000, description[23] = 0xFF00, description[24] = 0xFF;
    description[25] = 0xFF000000u;
    description[26] = 0x1000; // a texture
    std::vector<uint8_t> bytes = {'D', 'D', 'S', ' '};
    for (uint32_t v : description)
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(uint8_t(v >> shift));
    for (size_t i = 0; i < p.pixels.size(); i += 4) {
        const uint8_t bgra[4] = {p.pixels[i + 2], p.pixels[i + 1], p.pixels[i], p.pixels[i + 3]};
        bytes.insert(bytes.end(), bgra, bgra + 4);
    }
    FILE* file = fopen(path.c_str(), "wb");
    bool ok = file && fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file && fclose(file) != 0) ok = false;
    if (!ok) fprintf(stderr, "demogen: cannot write %s\n", path.c_str());
    return ok;
}

// 128 made-up glyphs of 16 x 16 pixels, 16 to a row: each a 6 x 7 grid of 2-pixel cells,
// mirrored for every other glyph so that they read like a script. White on black, the same
// shape in alpha.
Picture glyphSheet() {
    Picture p = makePicture(256, 128, 4);
    Random random;
    for (int glyph = 0; glyph < 128; ++glyph) {
        bool mirrored = glyph % 2 == 0;
        int left = glyph % 16 * 16 + 2, top = glyph / 16 * 16 + 1;
        for (int row = 0; row < 7; ++row)
            for (int column = 0; column < 6; ++column) {
                int source = mirrored && column >= 3 ? 5 - column : column;
                bool on = (random.next() >> 4) % 5 < 2 || (row == 0 && source == 2);
                if (mirrored && column >= 3) on = pixelAt(p, left + source * 2, top + row * 2)[3];
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx) {
                        uint8_t* px = pixelAt(p, left + column * 2 + dx, top + row * 2 + dy);
                        px[0] = px[1] = px[2] = px[3] = on ? 255 : 0;
                    }
            }
    }
    return p;
}

// Violet and orange clouds from a sum of sines that wraps at the edges.
Picture nebula() {
    Picture p = makePicture(256, 256, 3);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            double u = x * 2 * kPi / 256, v = y * 2 * kPi / 256;
            double a = (sin(u * 2 + sin(v * 3)) + sin(v * 2 + sin(u * 5) * 0.7) + 2) / 4;
            double b = (sin(u * 5 - v * 3 + 1.3) + sin(u * 3 + v * 7) + 2) / 4;
            uint8_t* px = pixelAt(p, x, y);
            px[0] = toByte(0.15 + 0.8 * a * a + 0.3 * b * b * b);
            px[1] = toByte(0.05 + 0.35 * a * b + 0.25 * b * b * b);
            px[2] = toByte(0.25 + 0.6 * (1 - a) * b);
        }
    return p;
}

// A lit sphere with latitude bands; transparent outside the disc, with a soft edge.
Picture planet() {
    Picture p = makePicture(256, 256, 4);
    const double light[3] = {-0.5, -0.5, 0.707};
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            double nx = (x + 0.5 - 128) / 120, ny = (y + 0.5 - 128) / 120;
            double r2 = nx * nx + ny * ny;
            uint8_t* px = pixelAt(p, x, y);
            if (r2 >= 1.02) continue;
            double nz = sqrt(std::max(0.0, 1 - r2));
            double lit = std::max(0.0, nx * light[0] + ny * light[1] + nz * light[2]);
            double band = 0.5 + 0.5 * sin(ny * 14 + sin(nx * 3) * 1.5);
            double shade = 0.12 + 0.88 * lit;
            px[0] = toByte(shade * (0.35 + 0.55 * band));
            px[1] = toByte(shade * (0.55 + 0.25 * band));
            px[2] = toByte(shade * (0.85 - 0.3 * band));
            px[3] = toByte((1.02 - r2) / 0.04);
        }
    return p;
}

// Panel n of the picture strip: rings or stripes in a colour of its own.
Picture stripPanel(int n) {
    Picture p = makePicture(256, 256, 3);
    double hue = n / 6.0 * 2 * kPi;
    double base[3] = {0.5 + 0.5 * cos(hue), 0.5 + 0.5 * cos(hue - 2.1), 0.5 + 0.5 * cos(hue + 2.1)};
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            double dx = x - 128.0, dy = y - 128.0;
            double pattern = n % 2 == 0 ? 0.5 + 0.5 * cos(sqrt(dx * dx + dy * dy) * 0.2)
                                        : 0.5 + 0.5 * cos((x + y * (n - 2)) * 0.1);
            double frame = x < 8 || y < 8 || x > 247 || y > 247 ? 0.2 : 1.0;
            uint8_t* px = pixelAt(p, x, y);
            for (int c = 0; c < 3; ++c)
                px[c] = toByte(frame * (0.15 + 0.85 * base[c] * (0.3 + 0.7 * pattern)));
        }
    return p;
}

bool writeImages(const std::string& folder) {
    bool ok = savePicture(folder + "/glyphs.png", glyphSheet()) &&
              savePicture(folder + "/nebula.jpg", nebula()) &&
              saveDds(folder + "/planet.dds", planet());
    for (int n = 0; n < 6 && ok; ++n)
        ok = savePicture(folder + "/strip" + std::to_string(n) + ".jpg", stripPanel(n));
    return ok;
}

// ---- glTF writing ----

// One glTF 2.0 file with a single buffer held as a base64 data address.
struct Gltf {
    std::vector<uint8_t> buffer;
    std::vector<std::string> views, accessors, meshes, materials, nodes, samplers, channels;
    std::vector<std::string> cameras, lights;
    std::vector<std::string> roots; // node indices of the scene's top level

    // Appends floats or 16-bit indices and returns the accessor index.
    int floats(const std::vector<float>& values, int width, const char* type, bool bounds) {
        size_t offset = buffer.size();
        buffer.resize(offset + values.size() * 4);
        memcpy(&buffer[offset], values.data(), values.size() * 4);
        std::string minMax;
        if (bounds) {
            std::string lo = "[", hi = "[";
            for (int c = 0; c < width; ++c) {
                float mn = values[size_t(c)], mx = values[size_t(c)];
                for (size_t i = size_t(c); i < values.size(); i += size_t(width))
                    mn = std::min(mn, values[i]), mx = std::max(mx, values[i]);
                if (c) lo += ',', hi += ',';
                lo += number(mn);
                hi += number(mx);
            }
            minMax = ",\"min\":" + lo + "],\"max\":" + hi + "]";
        }
        return accessor(offset, values.size() * 4, 5126, values.size() / size_t(width), type,
                        minMax);
    }
    int indices(const std::vector<uint16_t>& values) {
        size_t offset = buffer.size();
        buffer.resize(offset + values.size() * 2);
        memcpy(&buffer[offset], values.data(), values.size() * 2);
        while (buffer.size() % 4)
            buffer.push_back(0);
        return accessor(offset, values.size() * 2, 5123, values.size(), "SCALAR", "");
    }
    int accessor(size_t offset, size_t bytes, int componentType, size_t count, const char* type,
                 const std::string& minMax) {
        views.push_back("{\"buffer\":0,\"byteOffset\":" + std::to_string(offset) +
                        ",\"byteLength\":" + std::to_string(bytes) + "}");
        accessors.push_back("{\"bufferView\":" + std::to_string(views.size() - 1) +
                            ",\"componentType\":" + std::to_string(componentType) + ",\"count\":" +
                            std::to_string(count) + ",\"type\":\"" + type + "\"" + minMax + "}");
        return int(accessors.size() - 1);
    }
    static std::string number(double v) {
        char text[32];
        snprintf(text, sizeof text, "%.6g", std::fabs(v) < 1e-9 ? 0.0 : v);
        return text;
    }
    int add(std::vector<std::string>& list, const std::string& json) {
        list.push_back(json);
        return int(list.size() - 1);
    }
    std::string text() const;
};

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i)
        out += (i ? ",\n" : "\n") + items[i];
    return "[" + out + "]";
}

std::string base64(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t v = uint32_t(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= uint32_t(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) v |= bytes[i + 2];
        out += digits[v >> 18 & 63];
        out += digits[v >> 12 & 63];
        out += i + 1 < bytes.size() ? digits[v >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? digits[v & 63] : '=';
    }
    return out;
}

std::string Gltf::text() const {
    std::string out = "{\"asset\":{\"version\":\"2.0\",\"generator\":\"demogen\"},\n";
    if (!lights.empty())
        out += "\"extensionsUsed\":[\"KHR_lights_punctual\"],\n\"extensions\":"
               "{\"KHR_lights_punctual\":{\"lights\":" +
               joined(lights) + "}},\n";
    out += "\"scene\":0,\"scenes\":[{\"nodes\":" + joined(roots) + "}],\n";
    out += "\"nodes\":" + joined(nodes) + ",\n\"meshes\":" + joined(meshes) +
           ",\n\"materials\":" + joined(materials) + ",\n";
    if (!cameras.empty()) out += "\"cameras\":" + joined(cameras) + ",\n";
    if (!channels.empty())
        out += "\"animations\":[{\"samplers\":" + joined(samplers) +
               ",\"channels\":" + joined(channels) + "}],\n";
    out += "\"accessors\":" + joined(accessors) + ",\n\"bufferViews\":" + joined(views) + ",\n";
    out += "\"buffers\":[{\"byteLength\":" + std::to_string(buffer.size()) +
           ",\"uri\":\"data:application/octet-stream;base64," + base64(buffer) + "\"}]}\n";
    return out;
}

// A unit box (-0.5 ... 0.5) with flat normals in one material; returns the mesh index.
int boxMesh(Gltf& g, const char* name, int material) {
    std::vector<float> positions, normals;
    std::vector<uint16_t> triangles;
    for (int axis = 0; axis < 3; ++axis)
        for (int side = -1; side <= 1; side += 2) {
            uint16_t first = uint16_t(positions.size() / 3);
            int u = (axis + 1) % 3, v = (axis + 2) % 3;
            const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
            for (const auto& c : corners) {
                float p[3] = {};
                p[axis] = 0.5f * float(side);
                p[u] = 0.5f * c[0] * float(side);
                p[v] = 0.5f * c[1];
                float n[3] = {};
                n[axis] = float(side);
                positions.insert(positions.end(), p, p + 3);
                normals.insert(normals.end(), n, n + 3);
            }
            const uint16_t quad[6] = {0, 1, 2, 0, 2, 3};
            for (uint16_t q : quad)
                triangles.push_back(uint16_t(first + q));
        }
    int position = g.floats(positions, 3, "VEC3", true);
    int normal = g.floats(normals, 3, "VEC3", false);
    int index = g.indices(triangles);
    return g.add(g.meshes, std::string("{\"name\":\"") + name +
                               "\",\"primitives\":[{\"attributes\":{\"POSITION\":" +
                               std::to_string(position) + ",\"NORMAL\":" + std::to_string(normal) +
                               "},\"indices\":" + std::to_string(index) +
                               ",\"material\":" + std::to_string(material) + "}]}");
}

int material(Gltf& g, const char* name, double r, double gr, double b, double roughness) {
    return g.add(g.materials, std::string("{\"name\":\"") + name +
                                  "\",\"pbrMetallicRoughness\":{\"baseColorFactor\":[" +
                                  Gltf::number(r) + "," + Gltf::number(gr) + "," + Gltf::number(b) +
                                  ",1],\"metallicFactor\":0," +
                                  "\"roughnessFactor\":" + Gltf::number(roughness) + "}}");
}

std::string vec(const double* v, int n) {
    std::string out = "[";
    for (int i = 0; i < n; ++i) {
        if (i) out += ',';
        out += Gltf::number(v[i]);
    }
    return out + "]";
}

// A node; root: one of the scene's top level.
int node(Gltf& g, const std::string& name, const std::string& fields, bool root) {
    int index = g.add(g.nodes, "{\"name\":\"" + name + "\"," + fields + "}");
    if (root) g.roots.push_back(std::to_string(index));
    return index;
}

// Linear keys of one node path ("rotation" quaternions or "translation" vectors).
void animate(Gltf& g, int target, const char* path, const std::vector<float>& times,
             const std::vector<float>& values, int width) {
    int input = g.floats(times, 1, "SCALAR", true);
    int output = g.floats(values, width, width == 4 ? "VEC4" : "VEC3", false);
    int sampler = g.add(g.samplers, "{\"input\":" + std::to_string(input) + ",\"output\":" +
                                        std::to_string(output) + ",\"interpolation\":\"LINEAR\"}");
    g.add(g.channels, "{\"sampler\":" + std::to_string(sampler) + ",\"target\":{\"node\":" +
                          std::to_string(target) + ",\"path\":\"" + path + "\"}}");
}

// Turns about the vertical axis: one key per eighth turn over `seconds`.
void spin(Gltf& g, int target, double seconds, double turns) {
    std::vector<float> times, values;
    for (int k = 0; k <= 16; ++k) {
        double angle = turns * 2 * kPi * k / 16;
        times.push_back(float(seconds * k / 16));
        const float q[4] = {0, float(sin(angle / 2)), 0, float(cos(angle / 2))};
        values.insert(values.end(), q, q + 4);
    }
    animate(g, target, "rotation", times, values, 4);
}

// ---- The two models ----

// Eight towers of growing height on a ring around a flat base, and a camera above them.
std::string towers() {
    Gltf g;
    int stone = boxMesh(g, "base", material(g, "stone", 0.35, 0.35, 0.42, 0.9));
    node(g, "base", "\"mesh\":" + std::to_string(stone) + ",\"scale\":[14,0.4,14]", true);
    for (int i = 0; i < 8; ++i) {
        double angle = i * 2 * kPi / 8, height = 1.5 + i * 0.6;
        std::string name = "tower" + std::to_string(i);
        int colour = material(g, name.c_str(), 0.5 + 0.5 * cos(angle), 0.5 + 0.5 * cos(angle - 2.1),
                              0.5 + 0.5 * cos(angle + 2.1), 0.35);
        int mesh = boxMesh(g, name.c_str(), colour);
        const double t[3] = {5 * cos(angle), 0.2 + height / 2, 5 * sin(angle)};
        const double s[3] = {1.2, height, 1.2};
        node(g, name,
             "\"mesh\":" + std::to_string(mesh) + ",\"translation\":" + vec(t, 3) +
                 ",\"scale\":" + vec(s, 3),
             true);
    }
    g.add(g.cameras, "{\"type\":\"perspective\",\"perspective\":{\"yfov\":0.9,\"aspectRatio\":"
                     "1.3333,\"znear\":0.1,\"zfar\":200}}");
    // Looking down at the ring from above and in front: a turn of 0.5 radians about x.
    const double q[4] = {-sin(0.25), 0, 0, cos(0.25)};
    const double at[3] = {0, 7, 14};
    node(g, "camera", "\"camera\":0,\"translation\":" + vec(at, 3) + ",\"rotation\":" + vec(q, 4),
         true);
    // A lit scene without a light is black. Object scenes place their lights by position only
    // (no direction), so the towers get a lamp high above the camera's side of the ring.
    g.add(g.lights, "{\"type\":\"point\",\"color\":[1,0.96,0.9],\"intensity\":1}");
    node(g, "lamp",
         "\"translation\":[4,12,10],\"extensions\":{\"KHR_lights_punctual\":{\"light\":0}}", true);
    return g.text();
}

// A pillar in the middle (object 0, which the camera looks at), a pivot that carries six
// boxes round it, a camera that moves in and out, and a point light; eight seconds a round.
std::string orbit() {
    Gltf g;
    int pillar = boxMesh(g, "pillar", material(g, "gold", 0.9, 0.7, 0.25, 0.3));
    int core =
        node(g, "pillar", "\"mesh\":" + std::to_string(pillar) + ",\"scale\":[1.5,4,1.5]", true);
    spin(g, core, 8, -1);
    std::vector<std::string> children;
    for (int i = 0; i < 6; ++i) {
        double angle = i * 2 * kPi / 6;
        std::string name = "moon" + std::to_string(i);
        int colour = material(g, name.c_str(), 0.3 + 0.3 * (i % 2), 0.5, 0.9 - 0.1 * i, 0.4);
        int mesh = boxMesh(g, name.c_str(), colour);
        const double t[3] = {4 * cos(angle), (i % 3 - 1) * 1.2, 4 * sin(angle)};
        int moon = node(
            g, name, "\"mesh\":" + std::to_string(mesh) + ",\"translation\":" + vec(t, 3), false);
        spin(g, moon, 8, 2);
        children.push_back(std::to_string(moon));
    }
    int pivot = node(g, "pivot", "\"children\":" + joined(children), true);
    spin(g, pivot, 8, 1);

    g.add(g.cameras, "{\"type\":\"perspective\",\"perspective\":{\"yfov\":0.8,\"aspectRatio\":"
                     "1.3333,\"znear\":0.1,\"zfar\":200}}");
    int camera = node(g, "camera", "\"camera\":0,\"translation\":[0,3,12]", true);
    // The camera swings round the pillar and in and out, turned at every key to look at the
    // pillar's middle (a glTF camera looks down its -z).
    std::vector<float> times, path, turns;
    for (int k = 0; k <= 16; ++k) {
        double s = k * 2 * kPi / 16;
        times.push_back(float(k * 0.5));
        const double p[3] = {9 * sin(s), 3 + 2 * sin(s * 2), 12 * cos(s)};
        double yaw = atan2(p[0], p[2]), pitch = -atan2(p[1], std::hypot(p[0], p[2]));
        const double qy[4] = {0, sin(yaw / 2), 0, cos(yaw / 2)};
        const double qx[4] = {sin(pitch / 2), 0, 0, cos(pitch / 2)};
        // qy * qx: first pitched about x, then turned about y.
        const double q[4] = {qy[3] * qx[0], qy[1] * qx[3], -qy[1] * qx[0], qy[3] * qx[3]};
        for (int i = 0; i < 3; ++i)
            path.push_back(float(p[i]));
        for (double v : q)
            turns.push_back(float(v));
    }
    animate(g, camera, "translation", times, path, 3);
    animate(g, camera, "rotation", times, turns, 4);

    g.add(g.lights, "{\"type\":\"point\",\"color\":[1,0.95,0.85],\"intensity\":1}");
    node(g, "lamp",
         "\"translation\":[3,8,6],\"extensions\":{\"KHR_lights_punctual\":{\"light\":0}}", true);
    return g.text();
}

bool writeText(const std::string& path, const std::string& text) {
    FILE* file = fopen(path.c_str(), "wb");
    bool ok = file && fwrite(text.data(), 1, text.size(), file) == text.size();
    if (file && fclose(file) != 0) ok = false;
    if (!ok) fprintf(stderr, "demogen: cannot write %s\n", path.c_str());
    return ok;
}

} // namespace

// ---- The command line ----

int main(int argc, char** argv) {
    if (argc != 3 || (strcmp(argv[1], "images") != 0 && strcmp(argv[1], "scenes") != 0)) {
        fprintf(stderr, "usage: demogen images|scenes OUTDIR\n");
        return 2;
    }
    std::string folder = argv[2];
    bool ok = strcmp(argv[1], "images") == 0 ? writeImages(folder)
                                             : writeText(folder + "/towers.gltf", towers()) &&
                                                   writeText(folder + "/orbit.gltf", orbit());
    return ok ? 0 : 1;
}
