// The launch dialog's and the gamma selector's logic, driven without drawing.
#include "data/filesystem.h"
#include "shell/gammaselector.h"
#include "shell/launchdialog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

namespace {

D3DDISPLAYMODE displayMode(uint32_t width, uint32_t height, D3DFORMAT format) {
    D3DDISPLAYMODE m;
    m.Width = width;
    m.Height = height;
    m.Format = format;
    return m;
}

LaunchInputs oneAdapter(std::vector<D3DDISPLAYMODE> modes) {
    LaunchInputs in;
    in.adapters.push_back({"llvmpipe", std::move(modes)});
    return in;
}

TEST(LaunchDialog, oneAdapterIsOneDisabledEntryUntilAScreenModeIsChosen) {
    LaunchDialog one(oneAdapter({displayMode(640, 480, D3DFMT_X8R8G8B8)}));
    EXPECT_EQ(one.devices, std::vector<std::string>{"llvmpipe"});
    EXPECT_FALSE(one.deviceListEnabled);
    EXPECT_TRUE(one.modeListEnabled);
    EXPECT_FALSE(one.sizeEditsEnabled);
    one.setScreenMode(kScreenFakeFull);
    EXPECT_TRUE(one.deviceListEnabled);
    one.setScreenMode(kScreenWindowed);
    EXPECT_FALSE(one.deviceListEnabled);
    EXPECT_FALSE(one.modeListEnabled);
    EXPECT_TRUE(one.sizeEditsEnabled);

    LaunchInputs two = oneAdapter({});
    two.adapters.push_back({"second", {}});
    LaunchDialog both(two);
    EXPECT_EQ(both.devices, (std::vector<std::string>{"llvmpipe", "second"}));
    EXPECT_TRUE(both.deviceListEnabled);
}

TEST(LaunchDialog, flavorListNeedsTwoArchives) {
    LaunchDialog none(oneAdapter({}));
    EXPECT_EQ(none.flavors, std::vector<std::string>{"completely unknown"});
    EXPECT_FALSE(none.flavorEnabled);

    LaunchInputs in = oneAdapter({});
    in.archives = {"only"};
    EXPECT_FALSE(LaunchDialog(in).flavorEnabled);
    in.archives = {std::string(200, 'a'), "party version"};
    LaunchDialog two(in);
    EXPECT_TRUE(two.flavorEnabled);
    EXPECT_EQ(two.flavors[0].size(), 127u);
    EXPECT_EQ(two.flavors[1], "party version");
}

TEST(LaunchDialog, modeListShowsDepthsAndSelectsTheBestScore) {
    LaunchInputs in =
        oneAdapter({displayMode(320, 200, D3DFMT_P8), // no depth of its own: 0
                    displayMode(640, 480, D3DFMT_R5G6B5),
                    displayMode(640, 480, D3DFMT_L8), // the mode before: 16
                    displayMode(800, 600, D3DFMT_X1R5G5B5), displayMode(800, 600, D3DFMT_A8R8G8B8),
                    displayMode(1024, 768, D3DFMT_X8R8G8B8)});
    LaunchDialog plain(in);
    EXPECT_EQ(plain.modes,
              (std::vector<std::string>{"320x200, 0 bpp", "640x480, 16 bpp", "640x480, 16 bpp",
                                        "800x600, 16 bpp", "800x600, 32 bpp", "1024x768, 32 bpp"}));
    EXPECT_EQ(plain.mode, 0); // nothing preferred: the first

    in.prefxres = 800; // 800x600 at 16 and at 32 score 2 and 3
    in.prefyres = 600;
    in.prefbpp = 32;
    EXPECT_EQ(LaunchDialog(in).mode, 4);
    in.prefbpp = 24; // both score 2: the first of them
    EXPECT_EQ(LaunchDialog(in).mode, 3);
    in.prefxres = 1024; // 1024 x 600: one point each for 1024x768 and both 800x600
    EXPECT_EQ(LaunchDialog(in).mode, 3);
    in.prefxres = in.prefyres = 7;
    in.prefbpp = 8;
    EXPECT_EQ(LaunchDialog(in).mode, 0);
}

TEST(LaunchDialog, windowedLaunchTakesTheEditsAndRefusesUnplayableSizes) {
    LaunchInputs in = oneAdapter({displayMode(1024, 768, D3DFMT_X8R8G8B8)});
    in.prefxres = 800;
    LaunchDialog dialog(in);
    EXPECT_EQ(dialog.widthText, "800");
    EXPECT_EQ(dialog.heightText, "480"); // neither preferred nor a minimum: our default

    dialog.setScreenMode(kScreenWindowed);
    dialog.widthText = dialog.heightText = "";
    int32_t width = -1, height = -1;
    dialog.windowSizeFromEdits(&width, &height);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
    EXPECT_FALSE(dialog.launch());
    EXPECT_NE(dialog.message.find("0 x 0"), std::string::npos) << dialog.message;

    for (auto [w, h] :
         {std::pair{"-640", "480"}, {"100000", "480"}, {"640", "0"}, {"99999999999", "480"}}) {
        dialog.widthText = w;
        dialog.heightText = h;
        EXPECT_FALSE(dialog.launch()) << w << " x " << h;
    }
    dialog.widthText = "1280";
    dialog.heightText = "720";
    dialog.device = 3; // a windowed run always plays on the first adapter
    dialog.loop = true;
    ASSERT_TRUE(dialog.launch()) << dialog.message;
    EXPECT_TRUE(dialog.message.empty());
    EXPECT_EQ(dialog.choice.xres, 1280);
    EXPECT_EQ(dialog.choice.yres, 720);
    EXPECT_EQ(dialog.choice.windowed, 1);
    EXPECT_EQ(dialog.choice.adapter, 0);
    EXPECT_EQ(dialog.choice.loop, 1);

    in.desktopWidth = 1920; // no window larger than the desktop
    in.desktopHeight = 1080;
    LaunchDialog small(in);
    small.setScreenMode(kScreenWindowed);
    small.widthText = "1920";
    small.heightText = "1081";
    EXPECT_FALSE(small.launch());
    EXPECT_NE(small.message.find("between 48 and 1080"), std::string::npos) << small.message;
    small.heightText = "1080";
    EXPECT_TRUE(small.launch());
}

TEST(LaunchDialog, fullScreenLaunchTakesTheModeAndRefusesADisplayWithoutModes) {
    LaunchDialog dialog(oneAdapter(
        {displayMode(640, 480, D3DFMT_R5G6B5), displayMode(1024, 768, D3DFMT_X8R8G8B8)}));
    dialog.mode = 1;
    dialog.setScreenMode(kScreenFakeFull); // the same configuration as full screen
    ASSERT_TRUE(dialog.launch());
    EXPECT_EQ(dialog.choice.windowed, 0);
    EXPECT_EQ(dialog.choice.xres, 1024);
    EXPECT_EQ(dialog.choice.yres, 768);
    EXPECT_EQ(dialog.choice.mode, 1);

    LaunchDialog empty(oneAdapter({}));
    EXPECT_TRUE(empty.modes.empty());
    EXPECT_FALSE(empty.launch());
    EXPECT_NE(empty.message.find("windowed"), std::string::npos);
    LaunchDialog noAdapter(LaunchInputs{});
    EXPECT_FALSE(noAdapter.launch());
    noAdapter.setScreenMode(kScreenWindowed);
    EXPECT_TRUE(noAdapter.launch());
}

TEST(GammaSelector, tableFollowsThePowerCurveAndTruncates) {
    uint8_t table[256];
    buildGammaTable(2.0f, table); // 255 * sqrt(64 / 255) = 127.75
    EXPECT_EQ(table[64], 127);
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[255], 255);
    buildGammaTable(0.5f, table); // 255 * (128 / 255)^2 = 64.25
    EXPECT_EQ(table[128], 64);
}

TEST(GammaSelector, gammaOneShowsTheUnchangedPictureAndCancelRestores) {
    std::vector<uint8_t> base(size_t(kGammaPictureWidth) * kGammaPictureHeight * 3);
    for (size_t i = 0; i < base.size(); ++i)
        base[i] = uint8_t(i);
    GammaSelector selector(base, 1.0f);
    EXPECT_EQ(selector.position, 100);
    EXPECT_STREQ(selector.label, "1.00");
    EXPECT_EQ(selector.picture, base);

    selector.setPosition(200);
    EXPECT_STREQ(selector.label, "2.00");
    EXPECT_FLOAT_EQ(selector.gamma, 2.0f);
    EXPECT_EQ(selector.picture[64], 127); // 255 * sqrt(64 / 255) = 127.75
    EXPECT_EQ(selector.picture[256 + 64], 127);
    selector.setPosition(5); // below the trackbar's range
    EXPECT_EQ(selector.position, 10);
    EXPECT_STREQ(selector.label, "0.10");
    selector.cancel();
    EXPECT_FLOAT_EQ(selector.gamma, 1.0f);

    GammaSelector kept(base, 1.5f);
    kept.setPosition(321);
    kept.ok();
    EXPECT_FLOAT_EQ(kept.gamma, 3.21f);
}

TEST(GammaSelector, pictureComesFromShotJpgAndIsEmptyWhenMissingOrBroken) {
    std::filesystem::remove("shot.jpg"); // left by an earlier run in this folder
    initFileSystem();
    EXPECT_TRUE(loadGammaPicture().empty()); // no shot.jpg, and this program has no res:126
    std::ofstream("shot.jpg") << "not a picture";
    EXPECT_TRUE(loadGammaPicture().empty());
    std::filesystem::copy_file(std::filesystem::path(LUX_TEST_DATA) / "scratch-lake.jpg",
                               "shot.jpg", std::filesystem::copy_options::overwrite_existing);
    std::vector<uint8_t> picture = loadGammaPicture();
    EXPECT_EQ(picture.size(), size_t(kGammaPictureWidth) * kGammaPictureHeight * 3);
    GammaSelector selector(picture, 1.0f); // a real picture through gamma 1 stays the same
    EXPECT_EQ(selector.picture, picture);
    closeFileSystem();
}

} // namespace
