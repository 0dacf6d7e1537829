// vs.1.0/vs.1.1 shader tokens to GLSL statements. The statements work on vec4 registers named
// as in the assembly language (r0..r11, v0..v15, c[96], a0, oPos, oD0, oD1, oT0..oT7); the
// fixed-function program generator wraps them with inputs, outputs and the clip-space
// conversion.
#include "platform/gpu/gpu_local.h"

#include <cstdio>

namespace {

enum : uint32_t {
    kOpNop = 0,
    kOpMov = 1,
    kOpAdd = 2,
    kOpSub = 3,
    kOpMad = 4,
    kOpMul = 5,
    kOpRcp = 6,
    kOpRsq = 7,
    kOpDp3 = 8,
    kOpDp4 = 9,
    kOpMin = 10,
    kOpMax = 11,
    kOpSlt = 12,
    kOpSge = 13,
    kOpExp = 14,
    kOpLog = 15,
    kOpLit = 16,
    kOpDst = 17,
    kOpFrc = 19,
    kOpM4x4 = 20,
    kOpM4x3 = 21,
    kOpM3x4 = 22,
    kOpM3x3 = 23,
    kOpM3x2 = 24,
    kOpExpp = 78,
    kOpLogp = 79,
    kOpComment = 0xFFFE,
    kOpEnd = 0xFFFF,
};
enum : uint32_t {
    kRegTemp = 0,
    kRegInput = 1,
    kRegConst = 2,
    kRegAddress = 3,
    kRegRastOut = 4,
    kRegAttrOut = 5,
    kRegTexOut = 6
};

uint32_t registerType(uint32_t token) {
    return (token >> 28) & 7;
}
uint32_t registerNumber(uint32_t token) {
    return token & 0x7FF;
}

// "prefix" followed by a number, formatted in one step (GCC 12 at -O3 warns falsely about
// the overlap of a literal prepended to std::to_string).
std::string numbered(const char* prefix, uint32_t n, const char* suffix = "") {
    char text[64];
    snprintf(text, sizeof text, "%s%u%s", prefix, unsigned(n), suffix);
    return text;
}

// The register a source or destination names; empty when it does not exist in vs.1.1.
std::string registerName(uint32_t token, bool destination, int offset = 0) {
    uint32_t n = registerNumber(token) + uint32_t(offset);
    switch (registerType(token)) {
    case kRegTemp:
        return n < 12 ? numbered("r", n) : "";
    case kRegInput:
        return !destination && n < 16 ? numbered("v", n) : "";
    case kRegConst:
        if (destination || n >= 96) return "";
        if (token & (1u << 13)) return numbered("c[clamp(a0 + ", n, ", 0, 95)]");
        return numbered("c[", n, "]");
    case kRegAddress:
        return destination && n == 0 ? "a0f" : "";
    case kRegRastOut:
        return destination && n < 3 ? (n == 0 ? "oPos" : n == 1 ? "oFog" : "oPts") : "";
    case kRegAttrOut:
        return destination && n < 2 ? numbered("oD", n) : "";
    case kRegTexOut:
        return destination && n < 8 ? numbered("oT", n) : "";
    default:
        return "";
    }
}

std::string source(uint32_t token, int offset = 0) {
    std::string name = registerName(token, false, offset);
    if (name.empty()) return "";
    static const char comps[] = "xyzw";
    uint32_t swizzle = (token >> 16) & 0xFF;
    std::string s = name;
    if (swizzle != 0xE4) { // .xyzw is the identity
        s += '.';
        for (int i = 0; i < 4; ++i)
            s += comps[(swizzle >> (2 * i)) & 3];
    }
    uint32_t modifier = (token >> 24) & 0xF;
    if (modifier == 1) return "(-" + s + ")";
    if (modifier != 0) return "";
    return s;
}

std::string mask(uint32_t token) {
    uint32_t m = (token >> 16) & 0xF;
    std::string s;
    static const char comps[] = "xyzw";
    for (int i = 0; i < 4; ++i)
        if (m & (1u << i)) s += comps[i];
    return s;
}

int sourceCount(uint32_t op) {
    switch (op) {
    case kOpNop:
        return 0;
    case kOpMov:
    case kOpRcp:
    case kOpRsq:
    case kOpExp:
    case kOpLog:
    case kOpLit:
    case kOpFrc:
    case kOpExpp:
    case kOpLogp:
        return 1;
    case kOpMad:
        return 3;
    default:
        return 2;
    }
}

// The vec4 value of one instruction.
std::string expression(uint32_t op, const std::string* s, uint32_t matrixToken) {
    const std::string& a = s[0];
    const std::string& b = s[1];
    auto row = [&](int i, bool three) {
        std::string m = source(matrixToken, i);
        return three ? "dot((" + a + ").xyz, (" + m + ").xyz)" : "dot(" + a + ", " + m + ")";
    };
    switch (op) {
    case kOpMov:
        return a;
    case kOpAdd:
        return a + " + " + b;
    case kOpSub:
        return a + " - " + b;
    case kOpMad:
        return a + " * " + b + " + " + s[2];
    case kOpMul:
        return a + " * " + b;
    case kOpRcp:
        return "vec4(rcp1((" + a + ").w))";
    case kOpRsq:
        return "vec4(rcp1(sqrt(abs((" + a + ").w))))";
    case kOpDp3:
        return "vec4(dot((" + a + ").xyz, (" + b + ").xyz))";
    case kOpDp4:
        return "vec4(dot(" + a + ", " + b + "))";
    case kOpMin:
        return "min(" + a + ", " + b + ")";
    case kOpMax:
        return "max(" + a + ", " + b + ")";
    case kOpSlt:
        return "vec4(lessThan(" + a + ", " + b + "))";
    case kOpSge:
        return "vec4(greaterThanEqual(" + a + ", " + b + "))";
    case kOpExp:
        return "vec4(exp2((" + a + ").w))";
    case kOpLog:
        return "vec4(log2(abs((" + a + ").w)))";
    case kOpExpp:
        return "expp(" + a + ")";
    case kOpLogp:
        return "logp(" + a + ")";
    case kOpLit:
        return "lit(" + a + ")";
    case kOpDst:
        return "vec4(1.0, (" + a + ").y * (" + b + ").y, (" + a + ").z, (" + b + ").w)";
    case kOpFrc:
        return "fract(" + a + ")";
    case kOpM4x4:
        return "vec4(" + row(0, false) + ", " + row(1, false) + ", " + row(2, false) + ", " +
               row(3, false) + ")";
    case kOpM4x3:
        return "vec4(" + row(0, false) + ", " + row(1, false) + ", " + row(2, false) + ", 0.0)";
    case kOpM3x4:
        return "vec4(" + row(0, true) + ", " + row(1, true) + ", " + row(2, true) + ", " +
               row(3, true) + ")";
    case kOpM3x3:
        return "vec4(" + row(0, true) + ", " + row(1, true) + ", " + row(2, true) + ", 0.0)";
    case kOpM3x2:
        return "vec4(" + row(0, true) + ", " + row(1, true) + ", 0.0, 0.0)";
    default:
        return "";
    }
}

} // namespace

const char* kVertexShaderHelpers = R"(float rcp1(float x) { return x == 0.0 ? 3.4e38 : 1.0 / x; }
vec4 expp(vec4 s) { float w = s.w; return vec4(exp2(floor(w)), fract(w), exp2(w), 1.0); }
vec4 logp(vec4 s) {
  float w = abs(s.w);
  if (w == 0.0) return vec4(-3.4e38, 1.0, -3.4e38, 1.0);
  float e = floor(log2(w));
  return vec4(e, w / exp2(e), log2(w), 1.0);
}
vec4 lit(vec4 s) {
  float y = max(s.x, 0.0);
  float z = s.x > 0.0 && s.y > 0.0 ? pow(s.y, clamp(s.w, -128.0, 128.0)) : 0.0;
  return vec4(1.0, y, z, 1.0);
}
)";

bool translateVertexShader(const uint32_t* tokens, std::string* body) {
    if (!tokens || (tokens[0] != 0xFFFE0101u && tokens[0] != 0xFFFE0100u)) return false;
    std::string out;
    for (uint32_t i = 1; i < 8192;) {
        uint32_t token = tokens[i];
        uint32_t op = token & 0xFFFF;
        if (op == kOpEnd) {
            *body = out;
            return true;
        }
        if (op == kOpComment) {
            i += 1 + ((token >> 16) & 0x7FFF);
            continue;
        }
        ++i;
        if (op == kOpNop) continue;
        int count = sourceCount(op);
        uint32_t dest = tokens[i++];
        std::string sources[3];
        uint32_t matrixToken = 0;
        for (int k = 0; k < count; ++k) {
            uint32_t t = tokens[i++];
            sources[k] = source(t);
            if (sources[k].empty()) return false;
            if (k == 1) matrixToken = t;
        }
        bool matrix = op >= kOpM4x4 && op <= kOpM3x2;
        int rows = op == kOpM4x4 || op == kOpM3x4 ? 4 : op == kOpM3x2 ? 2 : 3;
        if (matrix && (((matrixToken >> 16) & 0xFF) != 0xE4 || ((matrixToken >> 24) & 0xF) != 0 ||
                       source(matrixToken, rows - 1).empty()))
            return false;
        std::string value = expression(op, sources, matrixToken);
        std::string target = registerName(dest, true);
        std::string m = mask(dest);
        if (value.empty() || target.empty() || m.empty()) return false;
        out += "  " + target + "." + m + " = (" + value + ")." + m + ";\n";
        if (target == "a0f") out += "  a0 = int(floor(a0f.x));\n";
    }
    return false;
}
