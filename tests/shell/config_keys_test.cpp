#include "platform/config.h"
#include "platform/log.h"
#include "platform/music/music.h"
#include "shell/input.h"
#include "shell/startup.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(ConfigKeys, bitDepthsThatMakeNoSenseFallBackTo16WithAWarning) {
    logSetFile("bpp.txt");
    for (const char* value : {"15", "20", "8"}) {
        configValues.prefbpp = -1;
        applyConfigKey("prefbpp", value);
        EXPECT_EQ(configValues.prefbpp, 16) << value;
    }
    for (int bpp : {16, 24, 32}) {
        applyConfigKey("prefbpp", std::to_string(bpp).c_str());
        EXPECT_EQ(configValues.prefbpp, bpp);
    }
    closeLog();
    std::string log = readFile("bpp.txt");
    EXPECT_NE(log.find("MAIN: preferred bit depth '15' doesn't make sense, falling back to 16\n"),
              std::string::npos);
    EXPECT_NE(log.find("'20'"), std::string::npos);
    EXPECT_NE(log.find("'8'"), std::string::npos);
    EXPECT_EQ(log.find("'24'"), std::string::npos);
}

TEST(ConfigKeys, gammaIsClampedAndReadWithPercent) {
    applyConfigKey("gamma", "0.1");
    EXPECT_FLOAT_EQ(configValues.gamma, 0.2f);
    applyConfigKey("gamma", "5");
    EXPECT_FLOAT_EQ(configValues.gamma, 4.0f);
    applyConfigKey("gamma", "50%");
    EXPECT_FLOAT_EQ(configValues.gamma, 0.5f);
    applyConfigKey("gamma", "1.7");
    EXPECT_FLOAT_EQ(configValues.gamma, 1.7f);
}

TEST(ConfigKeys, tuneIsLowerCasedAndResolutionsReadHex) {
    applyConfigKey("tune", "Music/Dali.XM");
    EXPECT_STREQ(configValues.tune, "music/dali.xm");
    applyConfigKey("prefxres", "0x280");
    EXPECT_EQ(configValues.prefxres, 640);
    applyConfigKey("maxyres", "1200");
    EXPECT_EQ(configValues.maxyres, 1200);
    applyConfigKey("Tune", "ignored.it"); // names compare exactly
    EXPECT_STREQ(configValues.tune, "music/dali.xm");
}

TEST(ConfigKeys, tuneTypeComesFromTheName) {
    EXPECT_EQ(tuneTypeOf("dali.xm"), kTuneXm);
    EXPECT_EQ(tuneTypeOf("gd-matth.it"), kTuneIt);
    EXPECT_EQ(tuneTypeOf("house_lo.mp3"), kTuneMp3);
    EXPECT_EQ(tuneTypeOf("song.mod"), kTuneUnknown);
    EXPECT_EQ(tuneTypeOf("a.xm.mp3"), kTuneXm); // the first test wins
}

} // namespace

namespace {

void press(int code) {
    WindowEvent event;
    event.type = WindowEvent::KeyDown;
    event.key = code;
    feedInputEvent(event);
    event.type = WindowEvent::KeyUp;
    feedInputEvent(event);
}

TEST(SkipKeys, spaceSkipsToTheNextOrderOnlyAwayFromRowZeroAndIsConsumed) {
    logSetFile("skip.txt");
    initInput();
    press(kKeySpace);
    handleSkipKeys(0x030000); // row 0: nothing happens, the press is used up
    EXPECT_EQ(wasKeyPressed(kKeySpace), 0);
    press(kKeyRightAlt);
    handleSkipKeys(0x000500); // order 0: no back skip
    closeLog();
    std::string log = readFile("skip.txt");
    EXPECT_EQ(log.find("MAIN: skipping"), std::string::npos) << log;
}

TEST(SkipKeys, skipsLogTheirTargetsAndMoveTheMusic) {
    SoundSettings settings;
    tmxInit(&settings);
    settings.noSound = 1;
    ASSERT_TRUE(tmxOfflineOpen("skip.wav", &settings));
    std::ifstream in(std::string(LUX_TEST_DATA) + "/dali.xm", std::ios::binary);
    std::string module((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(tmxLoadMem(module.data(), uint32_t(module.size()), kTuneXm), 0);
    tmxPlay();
    logSetFile("skip.txt");
    initInput();
    press(kKeySpace);
    handleSkipKeys(0x031005);
    EXPECT_EQ(tmxGetPosition() >> 8, 0x0400u);
    press(kKeyRightAlt);
    handleSkipKeys(0x040800);
    EXPECT_EQ(tmxGetPosition() >> 8, 0x0300u);
    closeLog();
    tmxOfflineClose();
    tmxClose();
    std::string log = readFile("skip.txt");
    EXPECT_NE(log.find("MAIN: skipping to 0x040000\nMAIN: new time 0x"), std::string::npos) << log;
    EXPECT_NE(log.find("MAIN: skipping back to 0x030000 (backskip can cause strange effects)\n"
                       "MAIN: new time 0x"),
              std::string::npos)
        << log;
}

} // namespace
