// Fixed-function emulation: the GLSL of one state key (transform, lighting, texture
// coordinate generation and transforms, texture stage operations, alpha test), built once
// per distinct key and kept by the device's program cache.
#include "platform/gpu/gpu_local.h"
#include "platform/log.h"

#include <cstring>

bool FfKey::operator==(const FfKey& other) const {
    return memcmp(this, &other, sizeof *this) == 0;
}

size_t FfKeyHash::operator()(const FfKey& key) const {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&key);
    uint64_t hash = 1469598103934665603ull;
    for (size_t i = 0; i < sizeof key; ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    return size_t(hash);
}

namespace {

void appendf(std::string* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string* out, const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    *out += buffer;
}

// A texture coordinate set extended to four components the Direct3D way: the first missing
// component is 1, the rest 0 (so a 2-D set is transformed as (u, v, 1, 0)).
const char* padCoordinate(uint32_t size) {
    switch (size) {
    case 1:
        return "vec4(%s.x, 1.0, 0.0, 0.0)";
    case 2:
        return "vec4(%s.xy, 1.0, 0.0)";
    case 3:
        return "vec4(%s.xyz, 1.0)";
    default:
        return "%s";
    }
}

std::string vertexShader(const FfKey& key) {
    std::string s = "#version 330 core\n";
    s += "layout(location = 0) in vec4 aPosition;\n"
         "layout(location = 1) in vec3 aNormal;\n"
         "layout(location = 2) in vec4 aDiffuse;\n"
         "layout(location = 3) in vec4 aSpecular;\n";
    for (int t = 0; t < 8; ++t)
        appendf(&s, "layout(location = %d) in vec4 aTex%d;\n", kAttrTex0 + t, t);
    s += "uniform mat4 uWorldView;\nuniform mat4 uProjection;\nuniform mat3 uNormalMatrix;\n"
         "uniform vec4 uViewportXform;\n"
         "uniform vec4 uAmbient;\nuniform vec4 uMatDiffuse;\nuniform vec4 uMatAmbient;\n"
         "uniform vec4 uMatSpecular;\nuniform vec4 uMatEmissive;\nuniform float uMatPower;\n"
         "uniform vec3 uLightPos[8];\nuniform vec3 uLightDir[8];\nuniform vec4 uLightDiffuse[8];\n"
         "uniform vec4 uLightSpecular[8];\nuniform vec4 uLightAmbient[8];\nuniform vec4 "
         "uLightAtten[8];\n"
         "uniform vec3 uLightSpot[8];\nuniform mat4 uTexMatrix[8];\n";
    const char* interpolation = key.flat ? "flat " : "";
    appendf(&s, "%sout vec4 vDiffuse;\n%sout vec4 vSpecular;\n", interpolation, interpolation);
    for (int st = 0; st < key.stageCount; ++st)
        appendf(&s, "out vec4 vTex%d;\n", st);
    s += "void main() {\n";
    s += key.hasDiffuse ? "  vec4 inDiffuse = aDiffuse;\n" : "  vec4 inDiffuse = vec4(1.0);\n";
    s += key.hasSpecular ? "  vec4 inSpecular = aSpecular;\n" : "  vec4 inSpecular = vec4(0.0);\n";
    s += key.hasNormal ? "  vec3 inNormal = aNormal;\n" : "  vec3 inNormal = vec3(0.0);\n";
    if (key.rhw) {
        // Pixel coordinates with Direct3D's pixel centres on integers; w is 1/rhw so that
        // interpolation stays perspective-correct.
        s += "  float w = aPosition.w != 0.0 ? 1.0 / aPosition.w : 1.0;\n"
             "  vec2 ndc = (aPosition.xy + 0.5 - uViewportXform.xy) * uViewportXform.zw - 1.0;\n"
             "  float z = aPosition.z;\n"; // drawn with the depth range 0..1
        s += key.clipControl ? "" : "  z = 2.0 * z - 1.0;\n";
        s += "  gl_Position = vec4(ndc * w, z * w, w);\n"
             "  vec3 eye = vec3(0.0);\n  vec3 N = vec3(0.0);\n";
    } else {
        s += "  vec4 eye4 = uWorldView * vec4(aPosition.xyz, 1.0);\n"
             "  vec3 eye = eye4.xyz;\n"
             "  vec4 clip = uProjection * eye4;\n"
             "  clip.y = -clip.y;\n"
             "  clip.xy += uViewportXform.zw * 0.5 * clip.w; // pixel centres on integers\n";
        s += key.clipControl ? "" : "  clip.z = 2.0 * clip.z - clip.w;\n";
        s += "  gl_Position = clip;\n  vec3 N = uNormalMatrix * inNormal;\n";
        if (key.normalize) s += "  if (dot(N, N) > 0.0) N = normalize(N);\n";
    }
    if (key.lighting && !key.rhw) {
        const char* sources[3] = {"%s", "inDiffuse", "inSpecular"};
        char diffuse[64], ambient[64], specular[64], emissive[64];
        snprintf(diffuse, sizeof diffuse, sources[key.diffuseSource], "uMatDiffuse");
        snprintf(ambient, sizeof ambient, sources[key.ambientSource], "uMatAmbient");
        snprintf(specular, sizeof specular, sources[key.specularSource], "uMatSpecular");
        snprintf(emissive, sizeof emissive, sources[key.emissiveSource], "uMatEmissive");
        appendf(&s, "  vec4 cD = %s;\n  vec4 cA = %s;\n  vec4 cS = %s;\n  vec4 cE = %s;\n", diffuse,
                ambient, specular, emissive);
        s += "  vec3 sumA = vec3(0.0), sumD = vec3(0.0), sumS = vec3(0.0);\n";
        s += key.localViewer
                 ? "  vec3 V = length(eye) > 0.0 ? normalize(-eye) : vec3(0.0, 0.0, -1.0);\n"
                 : "  vec3 V = vec3(0.0, 0.0, -1.0);\n";
        for (int i = 0; i < 8; ++i) {
            uint32_t type = key.lightTypes[i];
            if (!type) continue;
            s += "  {\n    vec3 L; float att = 1.0; float spot = 1.0;\n";
            if (type == D3DLIGHT_DIRECTIONAL) {
                appendf(&s, "    L = -uLightDir[%d];\n", i);
            } else {
                appendf(&s,
                        "    vec3 d = uLightPos[%d] - eye; float dist = length(d);\n"
                        "    L = dist > 0.0 ? d / dist : vec3(0.0, 0.0, -1.0);\n"
                        "    vec4 a = uLightAtten[%d];\n"
                        "    float denom = a.x + a.y * dist + a.z * dist * dist;\n"
                        "    att = dist > a.w ? 0.0 : (denom > 0.0 ? 1.0 / denom : 1.0);\n",
                        i, i);
                if (type == D3DLIGHT_SPOT)
                    appendf(&s,
                            "    vec3 sp = uLightSpot[%d];\n"
                            "    float rho = dot(-L, uLightDir[%d]);\n"
                            "    if (rho <= sp.y) spot = 0.0;\n"
                            "    else if (rho <= sp.x) spot = pow((rho - sp.y) / max(sp.x - sp.y, "
                            "1e-6), sp.z);\n",
                            i, i);
            }
            appendf(&s,
                    "    float f = att * spot;\n"
                    "    float nl = max(dot(N, L), 0.0);\n"
                    "    sumA += f * uLightAmbient[%d].rgb;\n"
                    "    sumD += f * nl * uLightDiffuse[%d].rgb;\n"
                    "    if (nl > 0.0) {\n"
                    "      vec3 H = normalize(V + L);\n"
                    "      float nh = max(dot(N, H), 0.0);\n"
                    "      sumS += f * (nh > 0.0 ? pow(nh, uMatPower) : 0.0) * "
                    "uLightSpecular[%d].rgb;\n"
                    "    }\n  }\n",
                    i, i, i);
        }
        s += "  vDiffuse = clamp(vec4(cE.rgb + cA.rgb * (uAmbient.rgb + sumA) + cD.rgb * sumD, "
             "cD.a), 0.0, 1.0);\n"
             "  vSpecular = clamp(vec4(cS.rgb * sumS, cS.a), 0.0, 1.0);\n";
    } else {
        s += "  vDiffuse = inDiffuse;\n  vSpecular = inSpecular;\n";
    }
    // Texture coordinates of each stage. The reflection vector mirrors the direction to the
    // eye about the normal: R = 2 (E.N) N - E.
    bool reflection = false;
    for (int st = 0; st < key.stageCount; ++st)
        reflection |= key.stages[st].texGen == 3;
    if (reflection && !key.rhw)
        s += key.localViewer
                 ? "  vec3 E = length(eye) > 0.0 ? normalize(-eye) : vec3(0.0, 0.0, -1.0);\n"
                 : "  vec3 E = vec3(0.0, 0.0, -1.0);\n";
    if (reflection && !key.rhw) s += "  vec3 R = 2.0 * dot(E, N) * N - E;\n";
    for (int st = 0; st < key.stageCount; ++st) {
        const FfStageKey& stage = key.stages[st];
        char input[64];
        char source[16];
        snprintf(source, sizeof source, "aTex%d", stage.coordSource);
        uint32_t gen = key.rhw ? 0 : stage.texGen;
        if (gen == 1)
            snprintf(input, sizeof input, "vec4(N, 1.0)");
        else if (gen == 2)
            snprintf(input, sizeof input, "vec4(eye, 1.0)");
        else if (gen == 3)
            snprintf(input, sizeof input, "vec4(R, 1.0)");
        else
            snprintf(input, sizeof input, padCoordinate(stage.coordSize), source);
        if (stage.transformCount)
            appendf(&s, "  vTex%d = uTexMatrix[%d] * %s;\n", st, st, input);
        else
            appendf(&s, "  vTex%d = %s;\n", st, input);
    }
    s += "}\n";
    return s;
}

std::string argument(uint32_t arg, int stage) {
    std::string value;
    switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE:
        value = "vDiffuse";
        break;
    case D3DTA_CURRENT:
        value = "cur";
        break;
    case D3DTA_TEXTURE:
        value = "tex" + std::to_string(stage);
        break;
    case D3DTA_TFACTOR:
        value = "uTextureFactor";
        break;
    case D3DTA_SPECULAR:
        value = "vSpecular";
        break;
    case D3DTA_TEMP:
        value = "tmp";
        break;
    default:
        value = "vec4(0.0)";
        break;
    }
    if (arg & D3DTA_ALPHAREPLICATE) value = "vec4(" + value + ".a)";
    if (arg & D3DTA_COMPLEMENT) value = "(1.0 - " + value + ")";
    return value;
}

// One stage operation over the channels `ch` (".rgb" or ".a").
std::string operation(uint32_t op, const std::string& a0, const std::string& a1,
                      const std::string& a2, const char* ch, int stage) {
    std::string x0 = "(" + a0 + ")" + ch, x1 = "(" + a1 + ")" + ch, x2 = "(" + a2 + ")" + ch;
    std::string tex = "tex" + std::to_string(stage);
    bool alpha = ch[1] == 'a';
    switch (op) {
    case D3DTOP_SELECTARG1:
        return x1;
    case D3DTOP_SELECTARG2:
        return x2;
    case D3DTOP_MODULATE:
    case D3DTOP_PREMODULATE:
        return x1 + " * " + x2;
    case D3DTOP_MODULATE2X:
        return x1 + " * " + x2 + " * 2.0";
    case D3DTOP_MODULATE4X:
        return x1 + " * " + x2 + " * 4.0";
    case D3DTOP_ADD:
        return x1 + " + " + x2;
    case D3DTOP_ADDSIGNED:
        return x1 + " + " + x2 + " - 0.5";
    case D3DTOP_ADDSIGNED2X:
        return "(" + x1 + " + " + x2 + " - 0.5) * 2.0";
    case D3DTOP_SUBTRACT:
        return x1 + " - " + x2;
    case D3DTOP_ADDSMOOTH:
        return x1 + " + " + x2 + " * (1.0 - " + x1 + ")";
    case D3DTOP_BLENDDIFFUSEALPHA:
        return "mix(" + x2 + ", " + x1 + ", vDiffuse.a)";
    case D3DTOP_BLENDTEXTUREALPHA:
        return "mix(" + x2 + ", " + x1 + ", " + tex + ".a)";
    case D3DTOP_BLENDFACTORALPHA:
        return "mix(" + x2 + ", " + x1 + ", uTextureFactor.a)";
    case D3DTOP_BLENDTEXTUREALPHAPM:
        return x1 + " + " + x2 + " * (1.0 - " + tex + ".a)";
    case D3DTOP_BLENDCURRENTALPHA:
        return "mix(" + x2 + ", " + x1 + ", cur.a)";
    case D3DTOP_MODULATEALPHA_ADDCOLOR:
        return alpha ? x1 : x1 + " + (" + a1 + ").a * " + x2;
    case D3DTOP_MODULATECOLOR_ADDALPHA:
        return alpha ? x1 : x1 + " * " + x2 + " + (" + a1 + ").a";
    case D3DTOP_MODULATEINVALPHA_ADDCOLOR:
        return alpha ? x1 : "(1.0 - (" + a1 + ").a) * " + x2 + " + " + x1;
    case D3DTOP_MODULATEINVCOLOR_ADDALPHA:
        return alpha ? x1 : "(1.0 - " + x1 + ") * " + x2 + " + (" + a1 + ").a";
    case D3DTOP_DOTPRODUCT3: {
        std::string dot = "4.0 * dot((" + a1 + ").rgb - 0.5, (" + a2 + ").rgb - 0.5)";
        return alpha ? dot : "vec3(" + dot + ")";
    }
    case D3DTOP_MULTIPLYADD:
        return x0 + " + " + x1 + " * " + x2;
    case D3DTOP_LERP:
        return x0 + " * " + x1 + " + (1.0 - " + x0 + ") * " + x2;
    default:
        return std::string("cur") + ch; // bump mapping and unknown operations pass through
    }
}

const char* compareExpression(uint32_t func) {
    switch (func) {
    case D3DCMP_NEVER:
        return "false";
    case D3DCMP_LESS:
        return "a8 < uAlphaRef";
    case D3DCMP_EQUAL:
        return "a8 == uAlphaRef";
    case D3DCMP_LESSEQUAL:
        return "a8 <= uAlphaRef";
    case D3DCMP_GREATER:
        return "a8 > uAlphaRef";
    case D3DCMP_NOTEQUAL:
        return "a8 != uAlphaRef";
    case D3DCMP_GREATEREQUAL:
        return "a8 >= uAlphaRef";
    default:
        return "true";
    }
}

std::string fragmentShader(const FfKey& key) {
    std::string s = "#version 330 core\n";
    const char* interpolation = key.flat ? "flat " : "";
    appendf(&s, "%sin vec4 vDiffuse;\n%sin vec4 vSpecular;\n", interpolation, interpolation);
    for (int st = 0; st < key.stageCount; ++st) {
        appendf(&s, "in vec4 vTex%d;\n", st);
        if (key.stages[st].texKind == 2)
            appendf(&s, "uniform samplerCube uSampler%d;\n", st);
        else if (key.stages[st].texKind == 1)
            appendf(&s, "uniform sampler2D uSampler%d;\n", st);
    }
    s += "uniform vec4 uTextureFactor;\nuniform float uAlphaRef;\nout vec4 fragColor;\n"
         "void main() {\n  vec4 cur = vDiffuse;\n  vec4 tmp = vec4(0.0);\n";
    for (int st = 0; st < key.stageCount; ++st) {
        const FfStageKey& stage = key.stages[st];
        std::string coord = "vTex" + std::to_string(st);
        if (stage.projected && stage.transformCount >= 2) {
            const char last = "xyzw"[stage.transformCount - 1];
            char divisor[32];
            snprintf(divisor, sizeof divisor, "%s.%c", coord.c_str(), last);
            coord = "(" + coord + " / " + divisor + ")";
        }
        if (stage.texKind == 2)
            appendf(&s, "  vec4 tex%d = texture(uSampler%d, %s.xyz);\n", st, st, coord.c_str());
        else if (stage.texKind == 1)
            appendf(&s, "  vec4 tex%d = texture(uSampler%d, %s.xy);\n", st, st, coord.c_str());
        else
            appendf(&s, "  vec4 tex%d = vec4(1.0);\n", st); // no texture: white
        std::string c0 = argument(stage.colorArg[0], st), c1 = argument(stage.colorArg[1], st),
                    c2 = argument(stage.colorArg[2], st);
        std::string a0 = argument(stage.alphaArg[0], st), a1 = argument(stage.alphaArg[1], st),
                    a2 = argument(stage.alphaArg[2], st);
        std::string color = operation(stage.colorOp, c0, c1, c2, ".rgb", st);
        std::string alpha = stage.alphaOp == D3DTOP_DISABLE
                                ? "cur.a"
                                : operation(stage.alphaOp, a0, a1, a2, ".a", st);
        if (stage.colorOp == D3DTOP_DOTPRODUCT3)
            alpha = operation(D3DTOP_DOTPRODUCT3, c0, c1, c2, ".a", st);
        appendf(&s, "  {\n    vec3 c = clamp(%s, 0.0, 1.0);\n    float a = clamp(%s, 0.0, 1.0);\n",
                color.c_str(), alpha.c_str());
        s += stage.resultTemp ? "    tmp = vec4(c, a);\n  }\n" : "    cur = vec4(c, a);\n  }\n";
    }
    if (key.specularEnable) s += "  cur.rgb = clamp(cur.rgb + vSpecular.rgb, 0.0, 1.0);\n";
    if (key.alphaFunc && key.alphaFunc != D3DCMP_ALWAYS)
        appendf(
            &s,
            "  float a8 = floor(clamp(cur.a, 0.0, 1.0) * 255.0 + 0.5);\n  if (!(%s)) discard;\n",
            compareExpression(key.alphaFunc));
    s += "  fragColor = cur;\n}\n";
    return s;
}

GLuint compile(GLenum type, const std::string& source) {
    GLuint shader = GLCALL(glCreateShader(type));
    const char* text = source.c_str();
    GLCALL(glShaderSource(shader, 1, &text, nullptr));
    GLCALL(glCompileShader(shader));
    GLint ok = 0;
    GLCALL(glGetShaderiv(shader, GL_COMPILE_STATUS, &ok));
    if (!ok) {
        char info[2048];
        GLCALL(glGetShaderInfoLog(shader, sizeof info, nullptr, info));
        logf("GPUD: warning: shader compile failed: %s\n%s\n", info, text);
        GLCALL(glDeleteShader(shader));
        return 0;
    }
    return shader;
}

} // namespace

GLuint gpuLinkProgram(const std::string& vertex, const std::string& fragment) {
    GLuint vs = compile(GL_VERTEX_SHADER, vertex);
    GLuint fs = compile(GL_FRAGMENT_SHADER, fragment);
    if (!vs || !fs) {
        if (vs) GLCALL(glDeleteShader(vs));
        if (fs) GLCALL(glDeleteShader(fs));
        return 0;
    }
    GLuint program = GLCALL(glCreateProgram());
    GLCALL(glAttachShader(program, vs));
    GLCALL(glAttachShader(program, fs));
    GLCALL(glLinkProgram(program));
    GLCALL(glDeleteShader(vs));
    GLCALL(glDeleteShader(fs));
    GLint ok = 0;
    GLCALL(glGetProgramiv(program, GL_LINK_STATUS, &ok));
    if (!ok) {
        char info[2048];
        GLCALL(glGetProgramInfoLog(program, sizeof info, nullptr, info));
        logf("GPUD: warning: program link failed: %s\n", info);
        GLCALL(glDeleteProgram(program));
        return 0;
    }
    return program;
}

// The vertex side of a shader program: its registers, its statements, and the conversion of
// oPos from Direct3D's clip space (y up, depth 0..w) to our target rows.
std::string programVertexShader(const FfKey& key, const std::string& body) {
    std::string s = "#version 330 core\n";
    for (int v = 0; v < 16; ++v)
        appendf(&s, "layout(location = %d) in vec4 v%d;\n", v, v);
    s += "uniform vec4 c[96];\nuniform vec4 uViewportXform;\n";
    const char* interpolation = key.flat ? "flat " : "";
    appendf(&s, "%sout vec4 vDiffuse;\n%sout vec4 vSpecular;\n", interpolation, interpolation);
    for (int st = 0; st < key.stageCount; ++st)
        appendf(&s, "out vec4 vTex%d;\n", st);
    s += kVertexShaderHelpers;
    s += "void main() {\n"
         "  vec4 r0 = vec4(0.0), r1 = vec4(0.0), r2 = vec4(0.0), r3 = vec4(0.0), r4 = vec4(0.0);\n"
         "  vec4 r5 = vec4(0.0), r6 = vec4(0.0), r7 = vec4(0.0), r8 = vec4(0.0), r9 = vec4(0.0);\n"
         "  vec4 r10 = vec4(0.0), r11 = vec4(0.0), a0f = vec4(0.0);\n"
         "  int a0 = 0;\n"
         "  vec4 oPos = vec4(0.0, 0.0, 0.0, 1.0), oFog = vec4(0.0), oPts = vec4(0.0);\n"
         "  vec4 oD0 = vec4(1.0), oD1 = vec4(0.0);\n"
         "  vec4 oT0 = vec4(0.0, 0.0, 0.0, 1.0), oT1 = oT0, oT2 = oT0, oT3 = oT0, oT4 = oT0;\n"
         "  vec4 oT5 = oT0, oT6 = oT0, oT7 = oT0;\n";
    s += body;
    s += "  vec4 clip = oPos;\n  clip.y = -clip.y;\n"
         "  clip.xy += uViewportXform.zw * 0.5 * clip.w;\n";
    if (!key.clipControl) s += "  clip.z = 2.0 * clip.z - clip.w;\n";
    s += "  gl_Position = clip;\n"
         "  vDiffuse = clamp(oD0, 0.0, 1.0);\n  vSpecular = clamp(oD1, 0.0, 1.0);\n";
    for (int st = 0; st < key.stageCount; ++st)
        appendf(&s, "  vTex%d = oT%d;\n", st, key.stages[st].coordSource);
    s += "}\n";
    return s;
}

GLuint ffBuildProgram(const FfKey& key, const std::string& programBody) {
    if (key.programHandle)
        return gpuLinkProgram(programVertexShader(key, programBody), fragmentShader(key));
    return gpuLinkProgram(vertexShader(key), fragmentShader(key));
}

void ffLocateUniforms(FfProgram* p, const FfKey& key) {
    GLuint g = p->program;
    auto at = [g](const char* name) { return GLCALL(glGetUniformLocation(g, name)); };
    p->worldView = at("uWorldView");
    p->projection = at("uProjection");
    p->normalMatrix = at("uNormalMatrix");
    p->viewportXform = at("uViewportXform");
    p->textureFactor = at("uTextureFactor");
    p->alphaRef = at("uAlphaRef");
    p->constants = at("c");
    p->ambient = at("uAmbient");
    p->matDiffuse = at("uMatDiffuse");
    p->matAmbient = at("uMatAmbient");
    p->matSpecular = at("uMatSpecular");
    p->matEmissive = at("uMatEmissive");
    p->matPower = at("uMatPower");
    char name[64];
    for (int i = 0; i < 8; ++i) {
        snprintf(name, sizeof name, "uLightPos[%d]", i), p->lightPos[i] = at(name);
        snprintf(name, sizeof name, "uLightDir[%d]", i), p->lightDir[i] = at(name);
        snprintf(name, sizeof name, "uLightDiffuse[%d]", i), p->lightDiffuse[i] = at(name);
        snprintf(name, sizeof name, "uLightSpecular[%d]", i), p->lightSpecular[i] = at(name);
        snprintf(name, sizeof name, "uLightAmbient[%d]", i), p->lightAmbient[i] = at(name);
        snprintf(name, sizeof name, "uLightAtten[%d]", i), p->lightAtten[i] = at(name);
        snprintf(name, sizeof name, "uLightSpot[%d]", i), p->lightSpot[i] = at(name);
        snprintf(name, sizeof name, "uTexMatrix[%d]", i), p->texMatrix[i] = at(name);
        snprintf(name, sizeof name, "uSampler%d", i), p->sampler[i] = at(name);
    }
    GLCALL(glUseProgram(g));
    for (int i = 0; i < key.stageCount; ++i)
        if (p->sampler[i] >= 0) GLCALL(glUniform1i(p->sampler[i], i));
}
