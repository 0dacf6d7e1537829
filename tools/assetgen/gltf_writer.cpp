// glTF 2.0 text with one embedded buffer: every attribute and index list is one buffer view
// and one accessor; positions carry the bounds the format asks for.
#include "tools/assetgen/gltf_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace assetgen {

namespace {

constexpr int kFloat = 5126, kUnsignedShort = 5123;
constexpr int kArrayBuffer = 34962, kElementArrayBuffer = 34963;

std::string base64(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t word = uint32_t(bytes[i]) << 16;
        if (i + 1 < bytes.size()) word |= uint32_t(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) word |= bytes[i + 2];
        out += digits[(word >> 18) & 63];
        out += digits[(word >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(word >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? digits[word & 63] : '=';
    }
    return out;
}

std::string number(float v) {
    char text[32];
    snprintf(text, sizeof text, "%.7g", double(v));
    return text;
}

// Collects the buffer, its views and accessors while the meshes are written.
struct Writer {
    std::vector<uint8_t> buffer;
    std::vector<std::string> views, accessors;

    void align() {
        while (buffer.size() % 4)
            buffer.push_back(0);
    }
    int32_t view(const void* data, size_t size, int target) {
        align();
        std::ostringstream v;
        v << "{\"buffer\":0,\"byteOffset\":" << buffer.size() << ",\"byteLength\":" << size
          << ",\"target\":" << target << "}";
        const auto* bytes = static_cast<const uint8_t*>(data);
        buffer.insert(buffer.end(), bytes, bytes + size);
        views.push_back(v.str());
        return int32_t(views.size() - 1);
    }
    int32_t vec3s(const std::vector<Vec3>& values, bool bounds) {
        int32_t v = view(values.data(), values.size() * sizeof(Vec3), kArrayBuffer);
        std::ostringstream a;
        a << "{\"bufferView\":" << v << ",\"componentType\":" << kFloat
          << ",\"count\":" << values.size() << ",\"type\":\"VEC3\"";
        if (bounds) {
            Vec3 lo = values.empty() ? Vec3{} : values[0], hi = lo;
            for (const Vec3& p : values) {
                lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
                hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
            }
            a << ",\"min\":[" << number(lo.x) << "," << number(lo.y) << "," << number(lo.z)
              << "],\"max\":[" << number(hi.x) << "," << number(hi.y) << "," << number(hi.z) << "]";
        }
        a << "}";
        accessors.push_back(a.str());
        return int32_t(accessors.size() - 1);
    }
    int32_t vec2s(const std::vector<float>& values) {
        int32_t v = view(values.data(), values.size() * sizeof(float), kArrayBuffer);
        std::ostringstream a;
        a << "{\"bufferView\":" << v << ",\"componentType\":" << kFloat
          << ",\"count\":" << values.size() / 2 << ",\"type\":\"VEC2\"}";
        accessors.push_back(a.str());
        return int32_t(accessors.size() - 1);
    }
    int32_t indices(const std::vector<uint16_t>& values) {
        int32_t v = view(values.data(), values.size() * 2, kElementArrayBuffer);
        std::ostringstream a;
        a << "{\"bufferView\":" << v << ",\"componentType\":" << kUnsignedShort
          << ",\"count\":" << values.size() << ",\"type\":\"SCALAR\"}";
        accessors.push_back(a.str());
        return int32_t(accessors.size() - 1);
    }
    std::string primitive(const Primitive& p) {
        std::ostringstream s;
        s << "{\"attributes\":{\"POSITION\":" << vec3s(p.positions, true);
        if (!p.normals.empty()) s << ",\"NORMAL\":" << vec3s(p.normals, false);
        if (!p.uvs.empty()) s << ",\"TEXCOORD_0\":" << vec2s(p.uvs);
        s << "},\"indices\":" << indices(p.indices) << ",\"material\":" << p.material
          << ",\"mode\":4";
        if (!p.targets.empty()) {
            s << ",\"targets\":[";
            for (size_t t = 0; t < p.targets.size(); ++t)
                s << (t ? "," : "") << "{\"POSITION\":" << vec3s(p.targets[t], true) << "}";
            s << "]";
        }
        s << "}";
        return s.str();
    }
};

template <class T, class F> std::string list(const std::vector<T>& items, F write) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ',';
        out += write(items[i]);
    }
    return out + "]";
}

std::string quoted(const std::string& s) {
    return "\"" + s + "\""; // our names hold no quotes or backslashes
}

} // namespace

bool writeGltf(const std::string& path, const Document& document) {
    Writer w;
    std::string meshes = list(document.meshes, [&](const Mesh& m) {
        std::string s = std::string("{\"name\":") + quoted(m.name) + ",\"primitives\":" +
                        list(m.primitives, [&](const Primitive& p) { return w.primitive(p); });
        if (!m.targetNames.empty()) {
            s += ",\"weights\":" +
                 list(m.targetNames, [](const std::string&) { return std::string("0"); });
            s += ",\"extras\":{\"targetNames\":" + list(m.targetNames, quoted) + "}";
        }
        return s + "}";
    });
    std::string materials = list(document.materials, [](const Material& m) {
        return "{\"name\":" + quoted(m.name) + ",\"pbrMetallicRoughness\":{\"baseColorFactor\":[" +
               number(m.colour[0]) + "," + number(m.colour[1]) + "," + number(m.colour[2]) +
               ",1],\"metallicFactor\":0,\"roughnessFactor\":" + number(m.roughness) + "}}";
    });
    std::string nodes = list(document.nodes, [](const Node& n) {
        std::string s = "{\"name\":" + quoted(n.name);
        if (n.mesh >= 0) s += ",\"mesh\":" + std::to_string(n.mesh);
        return s + ",\"translation\":[" + number(n.translation.x) + "," + number(n.translation.y) +
               "," + number(n.translation.z) + "]}";
    });
    std::string roots = "[";
    for (size_t i = 0; i < document.nodes.size(); ++i) {
        if (i) roots += ',';
        roots += std::to_string(i);
    }
    roots += "]";
    w.align();

    std::ofstream out(path, std::ios::binary);
    if (!out) return false;
    out << "{\"asset\":{\"version\":\"2.0\",\"generator\":\"lux32 assetgen\"},"
        << "\"scene\":0,\"scenes\":[{\"nodes\":" << roots << "}],"
        << "\"nodes\":" << nodes << ",\"meshes\":" << meshes << ",\"materials\":" << materials
        << ",\"accessors\":" << list(w.accessors, [](const std::string& s) { return s; })
        << ",\"bufferViews\":" << list(w.views, [](const std::string& s) { return s; })
        << ",\"buffers\":[{\"byteLength\":" << w.buffer.size()
        << ",\"uri\":\"data:application/octet-stream;base64," << base64(w.buffer) << "\"}]}\n";
    return bool(out);
}

} // namespace assetgen
