// Frame time of each screen effect at 1280 x 720 and 1920 x 1080, drawn into a texture target
// of that size, against the fill-rate floor: as many full-screen textured quads as the effect
// draws full-screen passes, drawn with raw GL into a framebuffer of the same size in the same
// run. Prints GL calls per frame and "ratio screenfx_<class>_<size> <value>" (target <= 1.25).
// Run with SDL_VIDEODRIVER=offscreen where there is no display.
#include "bench/bench_results.h"
#include "tests/effects/builtin_classes.h"
#include "tests/effects/screen_fixture.h"

#include <epoxy/gl.h>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <cstdio>
#include <string>

namespace {

struct Class {
    const char* name;
    const char* settings[2][2]; // property, value
    int quads;                  // full-screen passes of the effect
};
const Class kClasses[] = {
    {"crashzoom", {{"source", "src"}, {"steps", "8"}}, 8},
    {"motionblur", {{"source", "src"}, {"half-life", "0.25"}}, 1},
    {"plasma1", {{"image", "bench.png"}, {"", ""}}, 1},
    {"lofi", {{"fade", "0.5"}, {"", ""}}, 1},
    {"torusfader", {{"fade", "0.3"}, {"", ""}}, 1},
    {"fadeblocks", {{"blocks", "32"}, {"", ""}}, 1},
    {"grid", {{"speed", "2400"}, {"", ""}}, 1},
    {"rain", {{"source", "src"}, {"", ""}}, 1},
};
struct Size {
    int width, height;
    const char* name;
};
const Size kSizes[] = {{1280, 720, "720p"}, {1920, 1080, "1080p"}};

void ours(benchmark::State& state, const Class& c, const Size& size) {
    std::string target = std::string("t") + size.name, source = std::string("s") + size.name;
    std::string instance = std::string(c.name) + size.name;
    createEffect(instance.c_str(), c.name);
    for (const auto& setting : c.settings)
        if (setting[0][0])
            setEffectProperty(instance.c_str(), setting[0],
                              strcmp(setting[1], "src") == 0 ? source.c_str() : setting[1]);
    uint32_t now = 0, calls = 0;
    for (auto _ : state) {
        selectRenderTarget(target.c_str());
        setViewport(0, 0, size.width, size.height);
        uint32_t before = dxDevice()->GetCurrentStats().glCalls;
        renderEffect(instance.c_str(), now += 65536 / 60, 0);
        calls = dxDevice()->GetCurrentStats().glCalls - before;
        glFinish();
    }
    state.counters["gl_calls"] = calls;
}

const char* kVertexShader = "#version 330 core\nlayout(location=0) in vec2 p;out vec2 uv;"
                            "void main(){uv=p*0.5+0.5;gl_Position=vec4(p,0,1);}";
const char* kFragmentShader = "#version 330 core\nin vec2 uv;uniform sampler2D t;out vec4 c;"
                              "void main(){c=texture(t,uv)*0.5;}";

GLuint compile(GLenum kind, const char* text) {
    GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    return shader;
}

// Raw GL: the quads into a framebuffer of the size, textured from another of the size.
void rawGl(benchmark::State& state, int quads, const Size& size) {
    GLuint program = glCreateProgram();
    glAttachShader(program, compile(GL_VERTEX_SHADER, kVertexShader));
    glAttachShader(program, compile(GL_FRAGMENT_SHADER, kFragmentShader));
    glLinkProgram(program);
    GLuint textures[2], framebuffer, array, buffer;
    glGenTextures(2, textures);
    for (GLuint texture : textures) {
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, size.width, size.height, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    }
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, textures[0], 0);
    const float quad[] = {-1, -1, 1, -1, -1, 1, 1, 1};
    glGenVertexArrays(1, &array);
    glBindVertexArray(array);
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof(quad), quad, GL_STATIC_DRAW);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0, nullptr);
    glEnableVertexAttribArray(0);
    glUseProgram(program);
    glBindTexture(GL_TEXTURE_2D, textures[1]);
    glViewport(0, 0, size.width, size.height);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    for (auto _ : state) {
        for (int i = 0; i < quads; ++i)
            glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glFinish();
    }
    glDeleteBuffers(1, &buffer);
    glDeleteVertexArrays(1, &array);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteTextures(2, textures);
    glDeleteProgram(program);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args = withDefaultFlags(argc, argv, {"--benchmark_min_time=0.1"});
    int count = int(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    if (!startScreenDevice(1920, 1080)) {
        std::printf("no video driver\n");
        return 1;
    }
    std::vector<uint8_t> picture(256 * 256 * 3);
    for (size_t i = 0; i < picture.size(); ++i)
        picture[i] = uint8_t(i * 7);
    stbi_write_png("bench.png", 256, 256, 3, picture.data(), 256 * 3);
    for (const Size& size : kSizes) {
        createRenderTexture(size.width, size.height, (std::string("t") + size.name).c_str(), true);
        createRenderTexture(size.width, size.height, (std::string("s") + size.name).c_str(), true);
    }
    // Ours first: raw GL changes bindings behind the device's state cache.
    for (const Size& size : kSizes)
        for (const Class& c : kClasses)
            benchmark::RegisterBenchmark((std::string(c.name) + "/" + size.name).c_str(), ours, c,
                                         size)
                ->Unit(benchmark::kMillisecond);
    for (const Size& size : kSizes)
        for (int quads : {1, 8})
            benchmark::RegisterBenchmark(
                ("rawgl" + std::to_string(quads) + "/" + size.name).c_str(), rawGl, quads, size)
                ->Unit(benchmark::kMillisecond);
    ResultCollector collector;
    runBenchmarks(collector);
    for (const Size& size : kSizes) {
        for (const Class& c : kClasses) {
            const BenchResult* mine = findResult(collector, std::string(c.name) + "/" + size.name);
            const BenchResult* floor = findResult(collector, "rawgl" + std::to_string(c.quads) +
                                                                 "/" + std::string(size.name));
            if (!mine || !floor) continue;
            std::printf("gl_calls %s_%s %.0f\n", c.name, size.name, counterOf(*mine, "gl_calls"));
            std::printf("ratio screenfx_%s_%s %.2f\n", c.name, size.name,
                        mine->realSeconds / floor->realSeconds);
        }
    }
    stopScreenDevice();
    return 0;
}
