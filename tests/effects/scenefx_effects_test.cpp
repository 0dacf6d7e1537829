// "pilztum" and "max" on a headless device with the generated assets copied beside the test
// (the effects request them as "nk09\..."): the spawn limit, the closed mouth in silence and
// its opening on a recorded voice, heads that lack pieces, the orbit camera steered through
// the input tables, and frames of small productions against the reviewed pictures under
// tests/golden/scenefx (LUX_UPDATE_GOLDEN=1 writes them instead).
#include "effects/scenefx_local.h"
#include "platform/log.h"
#include "scene/object.h"
#include "script/parser.h"
#include "script/timeline.h"
#include "shell/input.h"
#include "tests/effects/builtin_classes.h"
#include "tests/effects/screen_fixture.h"

#include <gtest/gtest.h>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
using effects::MaxEffect;
using effects::PilztumEffect;

constexpr int32_t kW = 160, kH = 120;
const fs::path kAssets = fs::path(LUX_BINARY_DIR) / "assets";
constexpr const char* kHead = "nk09\\max.gled";

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The model of the head with some names changed, converted by the scene tool.
void writeAlteredHead(const char* output, const char* from, const char* to) {
    std::string text = readText(kAssets / "models/max.gltf");
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
        text.replace(at, strlen(from), to);
    std::ofstream("altered.gltf") << text;
    std::string command = std::string(LUX_BINARY_DIR) + "/tools/scenetool/scenetool object " +
                          "altered.gltf " + output + " >/dev/null";
    ASSERT_EQ(system(command.c_str()), 0);
}

class SceneEffects : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        initClassRegistry(); // start-up's "base init"
        ASSERT_TRUE(startScreenDevice(kW, kH));
    }
    static void TearDownTestSuite() {
        stopScreenDevice();
        closeClassRegistry();
    }
    void SetUp() override {
        // Each case runs in a folder of its own: the production's files go there.
        fs::create_directories("nk09");
        for (const char* name : {"pilz2.gled", "grass.jpg", "max.gled"})
            fs::copy_file(kAssets / "nk09" / name, fs::path("nk09") / name,
                          fs::copy_options::overwrite_existing);
        logSetFile("log.txt");
        setenv("SDL_AUDIODRIVER", "no-such-driver", 1); // no sound input unless a test says
        effects::resetMaxSmoothing();
        show(nullptr, 0);
    }
    void TearDown() override {
        destroyEffects();
        present();
        setSceneInput(SceneInput{});
    }
    // Renders one frame of an effect into the whole screen (null: just clears it).
    static void show(Effect* effect, uint32_t now) {
        selectRenderTarget("primary");
        setViewport(0, 0, kW, kH);
        if (!effect) {
            clear(3, 0, 1.0f, 0);
            return;
        }
        effect->render(now, 0);
        flushState();
    }
    static size_t litPixels(const std::vector<uint32_t>& screen) {
        return size_t(std::count_if(screen.begin(), screen.end(), [](uint32_t p) { return p; }));
    }
};

TEST_F(SceneEffects, pilztumStopsAt128MushroomsAndThe129thSpawnChangesNothing) {
    srand(7);
    PilztumEffect field;
    ASSERT_NE(field.scene, nullptr);
    EXPECT_EQ(field.mushroomCount, 1);
    EXPECT_EQ(field.mushrooms[0].x, 0.0f);
    EXPECT_EQ(field.mushrooms[0].size, 1.0f);
    for (int i = 1; i < PilztumEffect::kMaxMushrooms; ++i)
        field.set("spawn", "1");
    ASSERT_EQ(field.mushroomCount, 128);
    for (const effects::Mushroom& m : field.mushrooms) {
        EXPECT_LT(m.x * m.x + m.z * m.z, 256.0f);
        EXPECT_GE(m.size, 0.75f);
        EXPECT_LE(m.size, 1.75f);
        for (float tilt : m.tilt)
            EXPECT_LT(std::fabs(tilt), 0.15f);
    }
    // The spores of the last spawn land around the newest mushroom.
    const effects::Mushroom& newest = field.mushrooms[127];
    EXPECT_LT(std::fabs(field.spores[0].x - newest.x), 0.081f);
    EXPECT_GT(field.spores[63].startTime, field.spores[0].startTime);

    std::vector<effects::Mushroom> mushrooms(field.mushrooms, field.mushrooms + 128);
    std::vector<effects::Spore> spores(field.spores, field.spores + 64);
    effects::MersenneTwister random = field.random;
    field.set("spawn", "1");
    EXPECT_EQ(field.mushroomCount, 128);
    EXPECT_TRUE(std::equal(mushrooms.begin(), mushrooms.end(), field.mushrooms));
    EXPECT_TRUE(std::equal(spores.begin(), spores.end(), field.spores));
    EXPECT_TRUE(random == field.random);
}

TEST_F(SceneEffects, generatorSeedsItselfWith4357WhenNeverSeeded) {
    effects::MersenneTwister unseeded, seeded;
    seeded.seed(4357);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(unseeded.next(), seeded.next());
}

TEST_F(SceneEffects, maxInSilenceHasEveryMouthWeightZero) {
    MaxEffect head;
    EXPECT_NE(readText("log.txt").find("GLED: warning - max: no sound input"), std::string::npos);
    head.set("scene", kHead);
    ASSERT_NE(head.head, nullptr);
    // Loud first: the mouth opens, "a" the most (its share of the opening).
    head.capture.loudness = 0.6f;
    for (int frame = 0; frame < 20; ++frame)
        show(&head, uint32_t(frame) * 2621);
    for (const gledMorphMesh::Target& target : head.head->targets)
        EXPECT_GT(target.weight, strcmp(target.name, "MSH-a") == 0 ? 0.3f : -1.0f) << target.name;
    // Then quieter than 0.2: once the smoothed loudness has sunk to it, every weight is 0.
    head.capture.loudness = 0.15f;
    for (int frame = 0; frame < 60; ++frame)
        show(&head, uint32_t(frame) * 2621);
    for (const gledMorphMesh::Target& target : head.head->targets)
        EXPECT_EQ(target.weight, 0.0f) << target.name;
    for (float weight : head.mouth)
        EXPECT_EQ(weight, 0.0f);
}

TEST_F(SceneEffects, headsLackingPiecesAndMissingFilesRenderWithWarnings) {
    writeAlteredHead("nk09/no_o.gled", "\"MSH-o\"", "\"MSH-oh\"");
    writeAlteredHead("nk09/no_teeth.gled", "\"up_teeth\"", "\"up_tooth\"");
    const std::pair<const char*, const char*> cases[] = {
        {"nk09\\no_o.gled", "has no target 'MSH-o'"},
        {"nk09\\no_teeth.gled", "has no object 'up_teeth'"},
    };
    for (const auto& [file, warning] : cases) {
        logSetFile("log.txt");
        MaxEffect head;
        head.set("scene", file);
        head.capture.loudness = 0.8f;
        show(nullptr, 0);
        for (int frame = 0; frame < 5; ++frame)
            show(&head, uint32_t(frame) * 2621);
        EXPECT_NE(readText("log.txt").find(warning), std::string::npos) << readText("log.txt");
        EXPECT_GT(litPixels(targetPixels("primary")), size_t(kW * kH / 10)) << file;
    }
    logSetFile("log.txt");
    MaxEffect nothing;
    nothing.set("scene", "nk09\\absent.gled");
    show(&nothing, 0);
    EXPECT_EQ(litPixels(targetPixels("primary")), 0u);
    EXPECT_NE(readText("log.txt").find("scene file 'nk09\\absent.gled' not found"),
              std::string::npos);
    // Without its mushroom the field still shows its ground.
    fs::remove("nk09/pilz2.gled");
    PilztumEffect field;
    show(&field, 65536);
    EXPECT_NE(readText("log.txt").find("pilztum: scene file 'nk09\\pilz2.gled' not found"),
              std::string::npos);
    EXPECT_GT(litPixels(targetPixels("primary")), size_t(kW * kH / 10));
}

// Keys and mouse reach the camera the way the message pump hands them over: O pressed arms
// the capture, the left button takes the mouse, its motion orbits the eye about the target.
TEST_F(SceneEffects, orbitCameraTurnsByTheMouseMotionOfTheInputTables) {
    ASSERT_TRUE(initInput());
    SceneInput hooks = inputTableSceneHooks();
    hooks.clock = [] { return int32_t(0); };
    setSceneInput(hooks);
    MaxEffect head;
    head.set("scene", kHead);
    ASSERT_NE(head.camera, nullptr);
    show(&head, 0);
    std::vector<uint32_t> front = targetPixels("primary");

    auto feed = [](WindowEvent::Type type, int key, int dx, int button, int pressed) {
        WindowEvent event;
        event.type = type;
        event.key = key;
        event.dx = dx;
        event.button = button;
        event.pressed = pressed;
        feedInputEvent(event);
    };
    feed(WindowEvent::KeyDown, kKeyO, 0, 0, 0);
    show(&head, 100);
    feed(WindowEvent::MouseButton, 0, 0, 0, 1); // left button down: the mouse is taken
    show(&head, 200);
    feed(WindowEvent::MouseMotion, 0, 90, 0, 0);
    show(&head, 300);
    // yaw = -dx pi / 450 about y: the eye at (0, 0, -10) goes to -10 (-sin yaw, 0, cos yaw).
    float yaw = -90 * 3.14159265f / 450;
    EXPECT_NEAR(head.camera->eye[0], 10 * std::sin(yaw) * -1, 1e-4);
    EXPECT_NEAR(head.camera->eye[1], 0, 1e-4);
    EXPECT_NEAR(head.camera->eye[2], -10 * std::cos(yaw), 1e-4);
    std::vector<uint32_t> turned = targetPixels("primary");
    size_t changed = 0;
    for (size_t i = 0; i < front.size(); ++i)
        changed += front[i] != turned[i];
    EXPECT_GT(changed, front.size() / 20);
    feed(WindowEvent::MouseButton, 0, 0, 0, 0);
    feed(WindowEvent::KeyUp, kKeyO, 0, 0, 0);
    show(&head, 400);
    closeInput();
}

// A voiced signal recorded through SDL's disk driver: two formant-like tones, loud enough
// for the analysis (RMS about 0.49 of full scale).
TEST_F(SceneEffects, theMouthOpensOnARecordedVoice) {
    MaxEffect silent;
    silent.set("scene", kHead);
    for (int frame = 0; frame < 10; ++frame)
        show(&silent, uint32_t(frame) * 2621);
    std::vector<uint32_t> closed = targetPixels("primary");
    // The mouth: where the upper teeth sit, projected by the camera ten units in front.
    const D3DMATRIX& teeth = silent.rest[effects::kUpperTeeth];
    float depth = teeth.m[3][2] + 10;
    int mouthX = kW / 2;
    int mouthY = int((1 - 1.3333f * (teeth.m[3][1] - 0.3f) / depth) * 0.5f * kH);

    std::vector<int16_t> voice(44100 * 6);
    for (size_t i = 0; i < voice.size(); ++i) {
        double t = double(i) / 44100;
        voice[i] =
            int16_t(17000 * std::sin(2 * M_PI * 700 * t) + 15000 * std::sin(2 * M_PI * 1150 * t));
    }
    std::ofstream("voice.raw", std::ios::binary)
        .write(reinterpret_cast<const char*>(voice.data()), std::streamsize(voice.size() * 2));
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILEIN", "voice.raw", 1);
    setenv("SDL_DISKAUDIODELAY", "5", 1);
    effects::resetMaxSmoothing();
    MaxEffect speaking;
    if (!speaking.capture.recording()) GTEST_SKIP() << "SDL offers no disk capture here";
    speaking.set("scene", kHead);
    for (int wait = 0; wait < 400 && speaking.capture.loudness.load() < 0.2f; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GT(speaking.capture.loudness.load(), 0.2f);
    for (int frame = 0; frame < 20; ++frame)
        show(&speaking, uint32_t(frame) * 2621);
    std::vector<uint32_t> open = targetPixels("primary");
    EXPECT_GT(speaking.mouth[2], 0.3f); // "a" takes at least 0.55 of the opening (0.58)
    size_t changed = 0;
    for (int y = mouthY - 12; y <= mouthY + 12; ++y)
        for (int x = mouthX - 20; x <= mouthX + 20; ++x) {
            uint32_t a = closed[size_t(y * kW + x)], b = open[size_t(y * kW + x)];
            changed += std::abs(channel(a, 16) - channel(b, 16)) > 24;
        }
    EXPECT_GT(changed, 40u);
}

// ---- Golden frames ----

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

bool updating() {
    const char* flag = getenv("LUX_UPDATE_GOLDEN");
    return flag && strcmp(flag, "1") == 0;
}

void checkOrUpdate(const std::string& name, const Image& actual) {
    std::string path = std::string(LUX_SOURCE_DIR) + "/tests/golden/scenefx/" + name + ".png";
    if (updating()) {
        fs::create_directories(fs::path(path).parent_path());
        ASSERT_NE(stbi_write_png(path.c_str(), actual.width, actual.height, 3, actual.rgb.data(),
                                 actual.width * 3),
                  0);
        return;
    }
    int w = 0, h = 0, n = 0;
    uint8_t* data = stbi_load(path.c_str(), &w, &h, &n, 3);
    ASSERT_NE(data, nullptr) << "missing " << path;
    ASSERT_EQ(size_t(w) * size_t(h) * 3, actual.rgb.size());
    size_t off = 0;
    for (size_t i = 0; i < actual.rgb.size(); ++i)
        off += std::abs(int(data[i]) - int(actual.rgb[i])) > 3;
    stbi_image_free(data);
    EXPECT_EQ(off, 0u) << name;
}

// Plays a production frame by frame at 25 frames per second and keeps the screens at 1 s
// and 2 s.
std::vector<Image> play(const std::string& text) {
    std::vector<Image> screens;
    Script script(text.c_str(), int32_t(text.size()), nullptr);
    EXPECT_TRUE(script.parse(false));
    Timeline timeline;
    createTargets(timeline, script);
    startTimeline(timeline, nullptr);
    for (int frame = 0; frame <= 50; ++frame) {
        tick(timeline, uint32_t(std::lround(frame * 65536.0 / 25)), 0);
        if (frame == 25 || frame == 50) {
            Image image{kW, kH, {}};
            for (uint32_t p : targetPixels("primary"))
                image.rgb.insert(image.rgb.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
            screens.push_back(image);
        }
        present();
    }
    destroyEffects();
    return screens;
}

TEST_F(SceneEffects, productionsMatchTheirReviewedPictures) {
    const std::pair<const char*, const char*> productions[] = {
        {"pilztum", "effect p is pilztum\ndemo runs for 3 seconds\n"
                    "at second 0 start p\n"
                    "at second 0.2 set p.spawn to 1 at second 0.4 set p.spawn to 1\n"
                    "at second 0.6 set p.spawn to 1 at second 1.4 set p.spawn to 1\n"
                    "at second 1.6 set p.spawn to 1\nenddemo\n"},
        {"max", "effect m is max\ndemo runs for 3 seconds\n"
                "first set m.scene to \"nk09\\max.gled\"\nat second 0 start m\nenddemo\n"},
    };
    for (const auto& [name, text] : productions) {
        srand(1);
        effects::resetMaxSmoothing();
        std::vector<Image> screens = play(text);
        ASSERT_EQ(screens.size(), 2u) << name;
        checkOrUpdate(std::string(name) + "_1000", screens[0]);
        checkOrUpdate(std::string(name) + "_2000", screens[1]);
    }
    // Everything was found (the head has no sound input here, which is the one warning).
    std::string log = readText("log.txt");
    EXPECT_EQ(log.find("not found"), std::string::npos) << log;
    EXPECT_EQ(log.find("has no"), std::string::npos) << log;
}

} // namespace
