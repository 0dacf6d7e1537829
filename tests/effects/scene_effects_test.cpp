// The scene effects "gled" and "gled2" on scenes converted by the scene tool from glTF models
// with a camera and a light (tests/effects/scenes): reviewed pictures at two times from small
// productions, the scene clock of "gled" (time, timewarp, speed, per-object times) checked
// against frames drawn at the expected times, refused and missing files, and the quake camera
// steered by key and mouse events through the real input tables.
// LUX_UPDATE_GOLDEN=1 writes the pictures instead of comparing (scripts/update-golden.sh).
#include "effects/effect.h"
#include "gfx/device.h"
#include "gfx/texture.h"
#include "platform/log.h"
#include "scene/object.h"
#include "scene/scene.h"
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

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr int32_t kW = 120, kH = 80;
constexpr int kTolerance = 3;
constexpr int kFrameRate = 25;
constexpr uint32_t kSecond = 65536;

const std::string kTool = std::string(LUX_BINARY_DIR) + "/tools/scenetool/scenetool";
const std::string kScenes = std::string(LUX_SOURCE_DIR) + "/tests/effects/scenes/";

using Frame = std::vector<uint32_t>; // 0xRRGGBB, top row first

bool updating() {
    const char* flag = getenv("LUX_UPDATE_GOLDEN");
    return flag && strcmp(flag, "1") == 0;
}

size_t differences(const Frame& a, const Frame& b) {
    if (a.size() != b.size()) return std::max(a.size(), b.size());
    size_t off = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int shift : {0, 8, 16})
            off += std::abs(channel(a[i], shift) - channel(b[i], shift)) > kTolerance;
    return off;
}

void checkOrUpdate(const std::string& name, const Frame& frame) {
    std::string path = std::string(LUX_SOURCE_DIR) + "/tests/golden/scene/" + name + ".png";
    std::vector<uint8_t> rgb;
    for (uint32_t p : frame)
        rgb.insert(rgb.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
    if (updating()) {
        ASSERT_NE(stbi_write_png(path.c_str(), kW, kH, 3, rgb.data(), kW * 3), 0) << path;
        return;
    }
    int w = 0, h = 0, n = 0;
    uint8_t* expected = stbi_load(path.c_str(), &w, &h, &n, 3);
    ASSERT_NE(expected, nullptr) << "missing " << path;
    ASSERT_EQ(w * h, kW * kH) << path;
    Frame reference;
    for (int i = 0; i < w * h; ++i)
        reference.push_back(uint32_t(expected[i * 3]) << 16 | uint32_t(expected[i * 3 + 1]) << 8 |
                            expected[i * 3 + 2]);
    stbi_image_free(expected);
    EXPECT_EQ(differences(reference, frame), 0u) << name;
}

std::string logText() {
    std::ifstream file("log.txt");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class SceneEffects : public testing::Test {
  protected:
    void SetUp() override {
        logSetFile("log.txt");
        ASSERT_TRUE(startScreenDevice(kW, kH));
        closeClassRegistry();
        initClassRegistry();
        registerSceneClasses();
        // The production's files lie in its folder: the test's working folder.
        convert("flat", "BoxAnimatedView.gltf", "box.scene");
        convert("object", "BoxView.gltf", "box.gled");
        selectRenderTarget("primary");
        setViewport(0, 0, kW, kH);
    }
    void TearDown() override {
        destroyEffects();
        closeClassRegistry();
        stopScreenDevice();
    }
    static void convert(const char* kind, const char* gltf, const char* out) {
        std::string command = kTool + " " + kind + " " + kScenes + gltf + " " + out;
        ASSERT_EQ(system(command.c_str()), 0) << command;
    }
    // A "gled" instance on the animated box, made and configured directly.
    static Effect* gled(const char* name) {
        EXPECT_TRUE(createEffect(name, "gled"));
        Effect* effect = findEffectInstance(name)->effect;
        effect->set("scene", "box.scene");
        return effect;
    }
    static Frame draw(Effect* effect, uint32_t now) {
        selectRenderTarget("primary");
        setViewport(0, 0, kW, kH);
        effect->render(now, 0);
        flushState();
        return targetPixels("primary");
    }
    // The scene at `seconds`, drawn by a fresh instance.
    static Frame sceneAt(float seconds) {
        static int count = 0;
        std::string name = "reference" + std::to_string(count++);
        Effect* effect = gled(name.c_str());
        effect->set("time", std::to_string(seconds).c_str());
        return draw(effect, 12345);
    }
};

// Plays a production frame by frame and returns the screens at the capture times.
std::vector<Frame> play(const std::string& text, std::initializer_list<double> captures) {
    std::vector<Frame> screens;
    Script script(text.c_str(), int32_t(text.size()), nullptr);
    EXPECT_TRUE(script.parse(false));
    Timeline timeline;
    createTargets(timeline, script);
    startTimeline(timeline, nullptr);
    auto next = captures.begin();
    for (int frame = 0; next != captures.end() && frame < 10 * kFrameRate; ++frame) {
        tick(timeline, uint32_t(std::lround(frame * double(kSecond) / kFrameRate)), 0);
        if (frame == std::lround(*next * kFrameRate)) {
            screens.push_back(targetPixels("primary"));
            ++next;
        }
        present();
    }
    destroyEffects();
    return screens;
}

bool showsSomething(const Frame& frame) {
    return std::count(frame.begin(), frame.end(), frame[0]) != ptrdiff_t(frame.size());
}

TEST_F(SceneEffects, gledAndGled2MatchTheirPicturesAtTwoTimes) {
    const char* flat = R"(
viewport all 0 0 1 1
effect fx is gled
demo runs for 3 seconds
first set fx.scene to "box.scene" and set fx.ambientcolor to 0x303030
at second 0 start fx z 1 vp all
enddemo
)";
    const char* object = R"(
viewport all 0 0 1 1
effect fx is gled2
demo runs for 3 seconds
first set fx.scene to "box.gled"
at second 0 start fx z 1 vp all and fade fx.camxofs from 0 to 0.6 for 2 seconds
enddemo
)";
    std::vector<Frame> flatScreens = play(flat, {1.0, 2.0});
    std::vector<Frame> objectScreens = play(object, {1.0, 2.0});
    ASSERT_EQ(flatScreens.size(), 2u);
    ASSERT_EQ(objectScreens.size(), 2u);
    checkOrUpdate("gled_1000", flatScreens[0]);
    checkOrUpdate("gled_2000", flatScreens[1]);
    checkOrUpdate("gled2_1000", objectScreens[0]);
    checkOrUpdate("gled2_2000", objectScreens[1]);
    for (const Frame* frame : {&flatScreens[0], &objectScreens[0]})
        EXPECT_TRUE(showsSomething(*frame));
    // Both animate: the box moves in the flat scene, the view moves in the object scene.
    EXPECT_GT(differences(flatScreens[0], flatScreens[1]), 0u);
    EXPECT_GT(differences(objectScreens[0], objectScreens[1]), 0u);
}

// The effect before may leave a texture on stage 0; the box's material has no stages and must
// not show it.
TEST_F(SceneEffects, gled2DrawsUntexturedMaterialsWithoutTheTextureLeftBefore) {
    ASSERT_TRUE(createEffect("boxes", "gled2"));
    Effect* effect = findEffectInstance("boxes")->effect;
    effect->set("scene", "box.gled");
    Frame clean = draw(effect, 0);
    const unsigned char black[8 * 8 * 3] = {};
    ASSERT_TRUE(stbi_write_png("black.png", 8, 8, 3, black, 8 * 3));
    Texture* left = acquireSceneTexture("black.png", 0);
    ASSERT_NE(left, nullptr);
    bindTexture(0, left);
    setStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    setStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    setStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    Frame after = draw(effect, 0);
    releaseSceneTexture(left);
    EXPECT_TRUE(showsSomething(clean));
    EXPECT_EQ(differences(clean, after), 0u);
}

TEST_F(SceneEffects, timeHoldsTheFrameAndTimewarpAddsToIt) {
    Effect* effect = gled("clock");
    draw(effect, 0);
    draw(effect, kSecond); // scene time 1 s
    effect->set("time", "0.5");
    // Two seconds pass, but the frame after "time" shows 0.5 s.
    Frame held = draw(effect, 3 * kSecond);
    EXPECT_EQ(differences(held, sceneAt(0.5f)), 0u);
    EXPECT_GT(differences(held, sceneAt(2.5f)), 0u);
    effect->set("timewarp", "1");
    // 0.5 + 1 warped + 0.5 elapsed.
    EXPECT_EQ(differences(draw(effect, 3 * kSecond + kSecond / 2), sceneAt(2.0f)), 0u);
    effect->set("reset", "");
    EXPECT_EQ(differences(draw(effect, 4 * kSecond), sceneAt(0)), 0u);
}

TEST_F(SceneEffects, speedScalesTheClockAndZeroFreezesIt) {
    Effect* fast = gled("fast");
    fast->set("speed", "2");
    draw(fast, 0);
    EXPECT_EQ(differences(draw(fast, kSecond / 2), sceneAt(1.0f)), 0u);
    EXPECT_EQ(differences(draw(fast, kSecond), sceneAt(2.0f)), 0u);
    Effect* frozen = gled("frozen");
    frozen->set("time", "1.5");
    frozen->set("speed", "0");
    draw(frozen, 0);
    Frame later = draw(frozen, 2 * kSecond);
    EXPECT_EQ(differences(later, sceneAt(1.5f)), 0u);
}

TEST_F(SceneEffects, objectTimesLastOneFrameAndUnknownNamesChangeNothing) {
    Effect* effect = gled("objects");
    effect->set("time", "1");
    effect->set("time_nothing by this name", "3");
    Frame plain = draw(effect, 0);
    EXPECT_EQ(differences(plain, sceneAt(1.0f)), 0u);
    // Everything that moves hangs below "node0", so its time moves the whole picture.
    effect->set("time", "1");
    effect->set("time_node0", "2");
    EXPECT_EQ(differences(draw(effect, 0), sceneAt(2.0f)), 0u);
    effect->set("time", "1");
    EXPECT_EQ(differences(draw(effect, 0), plain), 0u); // the override is gone
}

TEST_F(SceneEffects, longOrMissingSceneNamesAreWarningsAndOnlyClear) {
    Effect* effect = gled("names");
    effect->set("time", "1");
    Frame before = draw(effect, 0);
    std::string longName(64, 'x');
    effect->set("scene", longName.c_str());
    // Refused: the loaded scene stays.
    effect->set("time", "1");
    EXPECT_EQ(differences(draw(effect, 0), before), 0u);
    effect->set("scene", "no such scene.scene");
    Frame empty = draw(effect, kSecond);
    EXPECT_EQ(std::count(empty.begin(), empty.end(), 0u), ptrdiff_t(empty.size()));
    EXPECT_TRUE(createEffect("object", "gled2"));
    Effect* object = findEffectInstance("object")->effect;
    object->set("scene", longName.c_str());
    object->set("scene", "no such scene.gled");
    Frame objectEmpty = draw(object, 0);
    EXPECT_EQ(std::count(objectEmpty.begin(), objectEmpty.end(), 0u), ptrdiff_t(kW * kH));
    std::string log = logText();
    EXPECT_NE(log.find("GLED: warning: scene file name 'xxxxxxxx"), std::string::npos);
    EXPECT_NE(log.find("GLED: warning: scene file 'no such scene.scene' not found"),
              std::string::npos);
    EXPECT_NE(log.find("GLED: warning: scene file 'no such scene.gled' not found"),
              std::string::npos);
}

// ---- Quake mode through the real input tables ----

struct Silhouette {
    int left = kW, right = -1, top = kH, bottom = -1;
};

Silhouette litArea(const Frame& frame) {
    Silhouette s;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            if (frame[size_t(y) * kW + size_t(x)] != 0) {
                s.left = std::min(s.left, x), s.right = std::max(s.right, x);
                s.top = std::min(s.top, y), s.bottom = std::max(s.bottom, y);
            }
    return s;
}

// The outline of the unit box at the origin seen from `eye`, turned right by `yaw`: the
// extremes of its projected corners (x' = 0.64 zoom x / z, y' = 0.96 zoom y / z).
Silhouette predictedBox(const double* eye, double yaw) {
    // The glTF camera's vertical field of view of 0.8 rad gives 0.96 zoom = 1 / tan(0.4).
    const double zoom = 1 / std::tan(0.4) / 0.96;
    double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
    for (int corner = 0; corner < 8; ++corner) {
        double p[3] = {corner & 1 ? 0.5 : -0.5, corner & 2 ? 0.5 : -0.5, corner & 4 ? 0.5 : -0.5};
        double d[3] = {p[0] - eye[0], p[1] - eye[1], p[2] - eye[2]};
        double x = d[0] * std::cos(yaw) - d[2] * std::sin(yaw);
        double z = d[0] * std::sin(yaw) + d[2] * std::cos(yaw);
        double px = (1 + 0.64 * zoom * x / z) * kW / 2, py = (1 - 0.96 * zoom * d[1] / z) * kH / 2;
        minX = std::min(minX, px), maxX = std::max(maxX, px);
        minY = std::min(minY, py), maxY = std::max(maxY, py);
    }
    return Silhouette{int(std::lround(minX)), int(std::lround(maxX)) - 1, int(std::lround(minY)),
                      int(std::lround(maxY)) - 1};
}

void expectOutline(const Frame& frame, const Silhouette& predicted) {
    Silhouette lit = litArea(frame);
    EXPECT_NEAR(lit.left, predicted.left, 1);
    EXPECT_NEAR(lit.right, predicted.right, 1);
    EXPECT_NEAR(lit.top, predicted.top, 1);
    EXPECT_NEAR(lit.bottom, predicted.bottom, 1);
}

WindowEvent keyEvent(WindowEvent::Type type, int code) {
    WindowEvent event;
    event.type = type;
    event.key = code;
    return event;
}

TEST_F(SceneEffects, quakeCameraFliesWhereKeysAndMouseSteerIt) {
    initInput();
    setSceneInput(inputTableSceneHooks());

    Effect* effect = gled("quake");
    effect->set("speed", "0"); // the inner box stays inside the outer one
    effect->set("quakemode", "1");
    // The file's camera: at (0.8, 1, -6) in the engine's mirrored z, looking along +z.
    double eye[3] = {0.8, 1.0, -6.0};
    uint32_t now = 0;
    expectOutline(draw(effect, now), predictedBox(eye, 0));

    // Up held for ten frames of 1/25 s: 1.5 x speed 1 x 0.4 s forward.
    feedInputEvent(keyEvent(WindowEvent::KeyDown, 200));
    for (int frame = 0; frame < 10; ++frame)
        draw(effect, now += kSecond / kFrameRate);
    feedInputEvent(keyEvent(WindowEvent::KeyUp, 200));
    eye[2] += 1.5 * 0.4;
    // The next frame's step still carries the velocity: decayed by 0.02^0.04 for 0.04 s.
    Frame closer = draw(effect, now += kSecond / kFrameRate);
    eye[2] += 1.5 * std::pow(0.02, 0.04) * 0.04;
    expectOutline(closer, predictedBox(eye, 0));

    // 100 mouse units to the right turn the view by 100 x pi / 1800; the box moves left.
    WindowEvent motion;
    motion.type = WindowEvent::MouseMotion;
    motion.dx = 100;
    feedInputEvent(motion);
    // Keep the decaying velocity out of the check: frames of no elapsed time move nothing.
    Frame turned = draw(effect, now);
    expectOutline(turned, predictedBox(eye, 100 * M_PI / 1800));
    EXPECT_LT(litArea(turned).left, litArea(closer).left);

    effect->set("quakemode", "0"); // lets the mouse go
    setSceneInput(SceneInput{});
}

} // namespace
