// "yodawriter": a text turned into glowing particles. The text is rendered once into a
// coverage image; every covered sample point becomes a particle, a square sprite of the
// effect's own glow texture drawn additively in batches of 1024 quads. A particle appears at
// its start time, fades in along a ramp, holds, and at its release time moves off by its
// velocity, growing by half the distance it moved and fading out within 2 seconds.
//
// Layout chosen for the two modes (times count from the first frame after "text"):
// - "smooth": the text appears as a sweep from left to right over one second; each particle
//   is released 1.5 s after its start and drifts slowly upwards, so the text dissolves into
//   rising smoke in the order it was written.
// - "spray": particles start in random order within half a second (with a slight left-to-
//   right bias), are released 0.75 s later and fly outwards from the text's centre, so the
//   text bursts apart.
// The fade-in ramp is a 32-step smooth step over 0.5 s; a particle's brightness scales it.
#include "effects/effect.h"

#include "effects/classes_local.h"
#include "effects/flat2d_local.h"
#include "platform/log.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kGlowRequest = "glow:16 3.5 3.5 3.5 1.1";
// Particle cap: a text is sampled coarser until it fits.
constexpr size_t kMaxParticles = 8192;
constexpr uint32_t kBatchQuads = 1024;
constexpr uint32_t kFadeOutTicks = 0x20000; // alpha falls one step per 512 ticks
constexpr int32_t kRampSteps = 32;
constexpr uint32_t kRampTicks = 0x8000; // 0.5 s
constexpr size_t kMaxText = 255;

struct Particle {
    float x = 0, y = 0;   // pixels
    float vx = 0, vy = 0; // pixels per second after release
    float size = 0;       // pixels, edge of the sprite
    uint8_t brightness = 0;
    uint32_t start = 0, release = 0; // ticks since the text
};

enum class Mode { smooth, spray };

// Smooth step from 0 to 255 in kRampSteps entries.
const uint8_t* fadeInRamp() {
    static uint8_t ramp[kRampSteps];
    static bool made = false;
    if (!made) {
        for (int32_t i = 0; i < kRampSteps; ++i) {
            float t = float(i + 1) / kRampSteps;
            ramp[i] = uint8_t(std::lround(255.0f * t * t * (3 - 2 * t)));
        }
        made = true;
    }
    return ramp;
}

class YodawriterEffect : public Effect {
  public:
    ~YodawriterEffect() override { glow.release(); }
    void render(uint32_t time, uint32_t) override {
        advanceClock(time);
        if (particles.empty()) return;
        if (!glow.texture && !glowTried) {
            glowTried = true;
            glow.set(kGlowRequest);
        }
        if (!glow.texture) return;
        resetDeviceState();
        flat2d::textureBlendStates(D3DBLEND_ONE);
        setRenderState(D3DRS_ZENABLE, 0);
        bindTexture(0, glow.texture);
        float u0, v0, u1, v1;
        glow.texture->mapNormalized(0, 0, &u0, &v0);
        glow.texture->mapNormalized(1, 1, &u1, &v1);
        for (const Particle& particle : particles)
            drawParticle(particle, u0, v0, u1, v1);
        quads.finish();
    }
    void set(const char* name, const char* value) override {
        if (strcmp(name, "font") == 0)
            font.set(value);
        else if (strcmp(name, "text") == 0)
            setText(value);
        else if (strcmp(name, "xpos") == 0 || strcmp(name, "x") == 0)
            x = parseScalar(value);
        else if (strcmp(name, "ypos") == 0 || strcmp(name, "y") == 0)
            y = parseScalar(value);
        else if (strcmp(name, "mode") == 0)
            setMode(value);
    }

  private:
    uint32_t random() {
        seed = seed * 214013u + 2531011u;
        return seed >> 16 & 0x7FFF;
    }
    float unit() { return float(random()) / 32767.0f; } // 0 ... 1
    void setMode(const char* word) {
        if (strcmp(word, "smooth") == 0)
            mode = Mode::smooth;
        else if (strcmp(word, "spray") == 0)
            mode = Mode::spray;
        else
            logf("EFCT: yodawriter mode '%s' is unknown, kept\n", word);
    }
    void advanceClock(uint32_t time) {
        if (!firstFrame && int32_t(time - previousTime) > 0) ticks += time - previousTime;
        firstFrame = false;
        previousTime = time;
    }
    void setText(const char* value) {
        particles.clear();
        ticks = 0;
        firstFrame = true;
        if (!font.font) {
            flat2d::logOnce(&missingLogged, "EFCT: yodawriter text without font, draws nothing\n");
            return;
        }
        std::string text(value, strnlen(value, kMaxText));
        int32_t width = 0, height = 0;
        std::vector<uint8_t> coverage = renderTextLine(font.font, text.c_str(), &width, &height);
        if (coverage.empty()) return;
        int32_t stride = sampleStride(coverage, width, height);
        layOut(coverage, width, height, stride);
    }
    // The smallest sampling step whose particle count fits the cap.
    static int32_t sampleStride(const std::vector<uint8_t>& coverage, int32_t width,
                                int32_t height) {
        for (int32_t stride = 1;; ++stride) {
            size_t count = 0;
            for (int32_t row = 0; row < height; row += stride)
                for (int32_t col = 0; col < width; col += stride)
                    count += coverage[size_t(row) * width + col] >= kCovered;
            if (count <= kMaxParticles) return stride;
        }
    }
    void layOut(const std::vector<uint8_t>& coverage, int32_t width, int32_t height,
                int32_t stride) {
        float k = float(screenHeight()) / preferredHeight(); // text pixels to screen pixels
        float left = x * float(screenWidth()) - float(width) * k / 2;
        float top = y * float(screenHeight()) - float(height) * k / 2;
        for (int32_t row = 0; row < height; row += stride)
            for (int32_t col = 0; col < width; col += stride) {
                uint8_t cover = coverage[size_t(row) * width + col];
                if (cover < kCovered) continue;
                Particle particle;
                particle.x = left + float(col) * k;
                particle.y = top + float(row) * k;
                particle.size = float(stride) * k * 2.5f;
                // Neighbouring sprites overlap about six times over; the additive sum stays
                // below white.
                particle.brightness = uint8_t(cover * 2 / 5);
                float across = float(col) / float(std::max(1, width - 1));
                if (mode == Mode::smooth)
                    placeSmooth(particle, across, k);
                else
                    placeSpray(particle, across, k, left + float(width) * k / 2,
                               top + float(height) * k / 2);
                particles.push_back(particle);
            }
    }
    void placeSmooth(Particle& particle, float across, float k) {
        particle.start = uint32_t(across * 65536.0f);
        particle.release = particle.start + 0x18000; // 1.5 s
        particle.vx = (unit() - 0.5f) * 12.0f * k;
        particle.vy = -(8.0f + unit() * 16.0f) * k;
    }
    void placeSpray(Particle& particle, float across, float k, float centreX, float centreY) {
        particle.start = uint32_t((unit() * 0.35f + across * 0.15f) * 65536.0f);
        particle.release = particle.start + 0xC000; // 0.75 s
        float dx = particle.x - centreX, dy = particle.y - centreY;
        float distance = std::max(1.0f, std::sqrt(dx * dx + dy * dy));
        float speed = (20.0f + unit() * 50.0f) * k;
        particle.vx = dx / distance * speed;
        particle.vy = dy / distance * speed;
    }
    void drawParticle(const Particle& particle, float u0, float v0, float u1, float v1) {
        if (ticks < particle.start) return;
        float px = particle.x, py = particle.y, size = particle.size;
        uint32_t alpha = 0;
        if (ticks < particle.release) {
            uint32_t step = std::min<uint32_t>((ticks - particle.start) * kRampSteps / kRampTicks,
                                               kRampSteps - 1);
            alpha = fadeInRamp()[step];
        } else {
            uint32_t since = ticks - particle.release;
            if (since >= kFadeOutTicks) return;
            float seconds = float(since) / 65536.0f;
            px += particle.vx * seconds;
            py += particle.vy * seconds;
            float moved =
                std::sqrt(particle.vx * particle.vx + particle.vy * particle.vy) * seconds;
            size += moved / 2;
            alpha = 255 - std::min<uint32_t>(255, since / 512);
        }
        alpha = alpha * particle.brightness / 255;
        if (alpha == 0) return;
        if (!std::isfinite(px + py + size)) return;
        float half = size / 2, l = px - half - 0.5f, t = py - half - 0.5f;
        uint32_t colour = alpha << 24 | 0xFFFFFF;
        const flat2d::ScreenVertex quad[4] = {
            flat2d::screenVertex(l, t, colour, u0, v0),
            flat2d::screenVertex(l + size, t, colour, u1, v0),
            flat2d::screenVertex(l + size, t + size, colour, u1, v1),
            flat2d::screenVertex(l, t + size, colour, u0, v1),
        };
        quads.add(quad);
    }

    static constexpr uint8_t kCovered = 96; // coverage that makes a particle
    flat2d::FontRef font;
    flat2d::TextureRef glow;
    flat2d::QuadBatch quads{kBatchQuads};
    bool glowTried = false, missingLogged = false;
    float x = 0.5f, y = 0.5f; // centre of the text, fractions of the screen
    Mode mode = Mode::smooth;
    std::vector<Particle> particles;
    uint32_t ticks = 0; // since the first frame after "text"
    uint32_t previousTime = 0;
    bool firstFrame = true;
    uint32_t seed = 1;
};

} // namespace

const EffectClass yodawriterEffectClass = {"yodawriter", nullptr, nullptr,
                                           createEffectOf<YodawriterEffect>,
                                           recreateEffectOf<YodawriterEffect>};
