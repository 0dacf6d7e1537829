#include "audio/capture.h"

#include "platform/log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kBlock = VowelAnalyser::kBlockSamples;

std::vector<int16_t> tone(double hertz, double amplitude, int samples, int start = 0) {
    std::vector<int16_t> out(static_cast<size_t>(samples));
    for (int i = 0; i < samples; ++i)
        out[size_t(i)] =
            int16_t(std::lround(amplitude * std::sin(2 * kPi * hertz * (start + i) / 44100)));
    return out;
}

std::string readText(const char* path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int vowelsAtOne(const VowelAnalyser& analyser) {
    int ones = 0;
    for (const auto& v : analyser.vowel)
        ones += v.load() == 1.0f;
    return ones;
}

TEST(VowelAnalysis, silenceAndQuietBlocksGiveNoVowels) {
    VowelAnalyser analyser;
    std::vector<int16_t> silence(kBlock, 0);
    analyser.analyseBlock(silence.data(), kBlock);
    EXPECT_EQ(analyser.loudness.load(), 0.0f);
    std::vector<int16_t> quiet = tone(960, 0.1 * 32768 * std::sqrt(2.0), kBlock);
    analyser.analyseBlock(quiet.data(), kBlock);
    EXPECT_NEAR(analyser.loudness.load(), 0.1f, 0.002f); // the RMS of a sine is its peak / sqrt 2
    for (const auto& v : analyser.vowel)
        EXPECT_EQ(v.load(), 0.0f);
}

// Equal levels: max is raised by one, every normalised level is 0, and the distances are
// the lengths of the spectra themselves. Worked out from the table: u 1.9059, o 1.9442,
// a 2.1337, e 1.9950, i 1.8594, so "i" is closest.
TEST(VowelAnalysis, equalBandLevelsAreNormalisedToZeroAndMatchedFromThere) {
    VowelAnalyser analyser;
    const float levels[8] = {4, 4, 4, 4, 4, 4, 4, 4};
    analyser.matchLevels(levels);
    for (float band : analyser.bands)
        EXPECT_EQ(band, 0.0f);
    const double length[5] = {std::sqrt(3.6325), std::sqrt(3.78), std::sqrt(4.5525),
                              std::sqrt(3.98), std::sqrt(3.4575)};
    for (int v = 0; v < 5; ++v)
        EXPECT_NEAR(analyser.vowel[v].load(), length[4] / length[v], 1e-5) << v;
    EXPECT_EQ(analyser.vowel[4].load(), 1.0f);
}

TEST(VowelAnalysis, exactlyOneVowelIsOneInEveryAnalysedBlock) {
    VowelAnalyser analyser;
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, 9000);
    for (int block = 0; block < 40; ++block) {
        std::vector<int16_t> samples =
            tone(300 + 170 * block, 12000 + 300 * block, kBlock, block * kBlock);
        for (int16_t& s : samples)
            s = int16_t(std::clamp(double(s) + (block % 2 ? noise(random) : 0), -32768.0, 32767.0));
        analyser.analyseBlock(samples.data(), kBlock);
        ASSERT_GE(analyser.loudness.load(), 0.2f) << block;
        EXPECT_EQ(vowelsAtOne(analyser), 1) << block;
        for (const auto& v : analyser.vowel) {
            EXPECT_GT(v.load(), 0.0f) << block;
            EXPECT_LE(v.load(), 1.0f) << block;
        }
    }
}

// The band levels a block gives, from the filter equations written out here in double
// precision: two cascaded state-variable filters with damping 1 per band, state kept across
// blocks, log energy minus 11, normalised between the smallest and largest level.
struct ReferenceBands {
    double state[8][4] = {};
    double levels[8] = {};
    void analyse(const std::vector<int16_t>& samples) {
        const double centre[8] = {450, 630, 960, 1230, 1950, 2550, 4500, 6630};
        double raw[8];
        for (int b = 0; b < 8; ++b) {
            double f = centre[b] / 22050, energy = 0;
            double& low1 = state[b][0];
            double& band1 = state[b][1];
            double& low2 = state[b][2];
            double& band2 = state[b][3];
            for (int16_t s : samples) {
                low1 += f * band1;
                band1 += f * (s - band1 - low1);
                low2 += f * band2;
                band2 += f * (band1 - band2 - low2);
                energy += band2 * band2;
            }
            raw[b] = energy >= 65536 ? std::log(energy) - 11 : 0;
        }
        double high = 0, low = 10000;
        for (double r : raw) {
            high = std::max(high, r);
            low = std::min(low, r);
        }
        while (high <= low)
            high += 1;
        for (int b = 0; b < 8; ++b)
            levels[b] = (raw[b] - low) / (high - low);
    }
};

TEST(VowelAnalysis, tonesAtTheBandCentresGiveTheLevelsOfTheFilterEquations) {
    const double centres[] = {450, 960, 1950, 4500, 6630};
    for (double hertz : centres) {
        SCOPED_TRACE(hertz);
        VowelAnalyser analyser;
        ReferenceBands reference;
        for (int block = 0; block < 3; ++block) {
            std::vector<int16_t> samples = tone(hertz, 20000, kBlock, block * kBlock);
            analyser.analyseBlock(samples.data(), kBlock);
            reference.analyse(samples);
        }
        int loudest = 0, expectedLoudest = 0;
        for (int b = 0; b < 8; ++b) {
            EXPECT_NEAR(analyser.bands[b], reference.levels[b], 2e-3) << b;
            if (analyser.bands[b] > analyser.bands[loudest]) loudest = b;
            if (reference.levels[b] > reference.levels[expectedLoudest]) expectedLoudest = b;
        }
        EXPECT_EQ(loudest, expectedLoudest);
    }
}

// A sound back end that cannot start stands for a machine without an input device.
TEST(VowelCapture, withoutAnInputDeviceTheVowelsStayZeroAndCloseEndsTheThread) {
    logSetFile("log.txt");
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    {
        VowelAnalyser analyser;
        EXPECT_TRUE(analyser.open(-1));
        EXPECT_FALSE(analyser.recording());
        analyser.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        for (const auto& v : analyser.vowel)
            EXPECT_EQ(v.load(), 0.0f);
    } // the destructor closes
    std::string log = readText("log.txt");
    EXPECT_NE(log.find("WAVI: warning - no sound input"), std::string::npos) << log;
    EXPECT_EQ(log.find("did not end"), std::string::npos) << log;
}

// SDL's disk driver records from a file of raw samples: a loud tone reaches the analysis
// through the whole capture path.
TEST(VowelCapture, recordedToneReachesTheAnalysisThroughTheCapturePath) {
    logSetFile("log.txt");
    std::vector<int16_t> samples = tone(960, 20000, 44100 * 2);
    {
        std::ofstream raw("input.raw", std::ios::binary);
        raw.write(reinterpret_cast<const char*>(samples.data()),
                  std::streamsize(samples.size() * sizeof(int16_t)));
    }
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILEIN", "input.raw", 1);
    setenv("SDL_DISKAUDIODELAY", "5", 1);
    VowelAnalyser analyser;
    ASSERT_TRUE(analyser.open(-1));
    if (!analyser.recording()) GTEST_SKIP() << "SDL offers no disk capture here";
    analyser.start();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (analyser.loudness.load() < 0.2f && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    analyser.close();
    EXPECT_NEAR(analyser.loudness.load(), 20000 / std::sqrt(2.0) / 32768, 0.01);
    EXPECT_EQ(vowelsAtOne(analyser), 1);
    EXPECT_EQ(readText("log.txt").find("did not end"), std::string::npos);
}

} // namespace
