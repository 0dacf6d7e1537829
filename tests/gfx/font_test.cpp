#include "data/stream.h"
#include "gfx/font.h"
#include "gfx/texture.h"
#include "gfx/texturepool.h"
#include "gfx_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// Liberation Sans (metric-compatible with the face asked for as "Arial"), in font units.
constexpr float kAscender = 1854, kDescender = 434;

std::vector<uint8_t> fontBytes(const BitmapFont& font) {
    PagedMemoryStream out;
    EXPECT_EQ(out.open(), 1);
    EXPECT_TRUE(writeFontFile(font, &out));
    std::vector<uint8_t> bytes(size_t(out.size()));
    out.seek(0);
    out.readExact(bytes.data(), int32_t(bytes.size()));
    return bytes;
}

float advance(const BitmapFont& font, char c) {
    const Glyph& g = font.glyphs[uint8_t(c)];
    return g.a + g.b + g.c;
}

TEST(FontRendering, SupersamplingFactorFollowsTheSize) {
    EXPECT_EQ(fontSupersampling(24, true), 4);
    EXPECT_EQ(fontSupersampling(63, true), 4);
    EXPECT_EQ(fontSupersampling(64, true), 3);
    EXPECT_EQ(fontSupersampling(95, true), 3);
    EXPECT_EQ(fontSupersampling(96, true), 2);
    EXPECT_EQ(fontSupersampling(100, true), 2);
    EXPECT_EQ(fontSupersampling(24, false), 1);
}

TEST(FontRendering, CellHeightIsTheSizeAndUnderlineSitsBelowTheBaseline) {
    logSetFile("log.txt");
    BitmapFont font;
    ASSERT_TRUE(renderFont("Arial", 24, false, false, true, &font));
    EXPECT_EQ(font.lineHeight, 24);
    EXPECT_FLOAT_EQ(font.scale, 1.0f);
    EXPECT_EQ(font.glyphs[uint8_t(' ')].height, 0.0f); // codes up to 32 have no cell
    EXPECT_GT(advance(font, ' '), 0.0f);               // but keep their widths
    float baseline = 24 * kAscender / (kAscender + kDescender);
    EXPECT_GT(font.underlineOffset, baseline);
    EXPECT_LT(font.underlineOffset, 24.0f);
    EXPECT_GE(font.underlineThickness, 0.25f);
    // "A" is about two thirds of the cell's ascent wide in this face; its cell is on the surface.
    const Glyph& a = font.glyphs[uint8_t('A')];
    EXPECT_GT(a.b, 10.0f);
    EXPECT_LT(a.x + a.b, float(font.surfaceWidth));
    EXPECT_LE(a.y + 24, font.surfaceHeight);
    EXPECT_NE(readText("log.txt").find("FONT: surface fixed at "), std::string::npos);
}

TEST(FontRendering, SizesAbove160AreRenderedAt160WithTheScale) {
    logSetFile("log.txt");
    BitmapFont font;
    ASSERT_TRUE(renderFont("Arial", 200, false, false, true, &font));
    EXPECT_EQ(font.lineHeight, 160);
    EXPECT_FLOAT_EQ(font.scale, 1.25f);
    EXPECT_LE(font.surfaceWidth, 2048);
    EXPECT_LE(font.surfaceHeight, 2048);
}

// Square cells of (s + 2) x (s + 2): 2048 / 162 = 12 cells a row, 19 rows of 162 for the 223
// characters do not fit; 130 is the first size (15 a row, 15 rows of 132 = 1980) that does.
TEST(FontRendering, SizeDropsBy5UntilTheLayoutFits2048) {
    gfx::FontSurfaceFit fit;
    std::vector<int32_t> sizes;
    auto square = [&](int32_t size, int32_t* blackBox) {
        sizes.push_back(size);
        for (int i = 0; i < 256; ++i)
            blackBox[i] = size * 2;
        return true;
    };
    ASSERT_TRUE(gfx::fitFontSurface(160, 2, square, &fit));
    EXPECT_EQ(fit.size, 130);
    EXPECT_EQ(sizes, (std::vector<int32_t>{160, 155, 150, 145, 140, 135, 130}));
    EXPECT_EQ(fit.width, 2048);
    EXPECT_EQ(fit.height, 2048);
    EXPECT_EQ(fit.cellX[33 + 15], 0); // the 16th cell starts the second row
    EXPECT_EQ(fit.cellY[33 + 15], 132 * 2);
    // A small font starts at 256 x 256 and grows the width first.
    ASSERT_TRUE(gfx::fitFontSurface(24, 4, square, &fit));
    EXPECT_EQ(fit.size, 24);
}

TEST(FontRendering, BoldIsWiderAndUnknownFacesStillFindAFace) {
    logSetFile("log.txt");
    BitmapFont regular, bold, other;
    ASSERT_TRUE(renderFont("Arial", 24, false, false, true, &regular));
    ASSERT_TRUE(renderFont("Arial", 24, true, false, true, &bold));
    EXPECT_GT(advance(bold, 'm'), advance(regular, 'm'));
    EXPECT_TRUE(renderFont("No Such Face", 24, false, false, true, &other));
}

TEST(FontFile, WrittenAndReadBackByteIdentical) {
    logSetFile("log.txt");
    BitmapFont font;
    ASSERT_TRUE(renderFont("Arial", 20, false, true, true, &font));
    std::vector<uint8_t> bytes = fontBytes(font);
    ASSERT_EQ(bytes.size(), 5144u + size_t(font.surfaceWidth) * font.surfaceHeight);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "FNT2");
    BitmapFont parsed;
    ASSERT_TRUE(parseFontFile(bytes.data(), bytes.size(), &parsed));
    EXPECT_EQ(parsed.lineHeight, 20);
    EXPECT_EQ(fontBytes(parsed), bytes);
}

TEST(FontFile, DamagedFilesAreRefused) {
    logSetFile("log.txt");
    BitmapFont font;
    ASSERT_TRUE(renderFont("Arial", 16, false, false, true, &font));
    std::vector<uint8_t> bytes = fontBytes(font);
    BitmapFont parsed;
    std::vector<uint8_t> cut(bytes.begin(), bytes.end() - 1);
    EXPECT_FALSE(parseFontFile(cut.data(), cut.size(), &parsed));
    std::vector<uint8_t> other = bytes;
    other[3] = '1';
    EXPECT_FALSE(parseFontFile(other.data(), other.size(), &parsed));
    std::vector<uint8_t> huge = bytes;
    huge[4] = huge[5] = huge[6] = huge[7] = 0xFF; // width 4294967295
    EXPECT_FALSE(parseFontFile(huge.data(), huge.size(), &parsed));
}

TEST(FontTool, WritesTheNamedFileAndPrintsUsageWithoutArguments) {
    logSetFile("log.txt");
    char a0[] = "fonttool", a1[] = "24", a2[] = "Arial", a3[] = "1";
    char* args[] = {a0, a1, a2, a3};
    EXPECT_EQ(fontToolMain(4, args), 0);
    ASSERT_TRUE(std::filesystem::exists("24_Arial_1_0_1.fn2"));
    std::string bytes = readText("24_Arial_1_0_1.fn2");
    BitmapFont font;
    EXPECT_TRUE(parseFontFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &font));
    EXPECT_EQ(font.lineHeight, 24);
    EXPECT_EQ(fontToolMain(2, args), 1);
}

struct FontTest : DeviceFixture {
    void SetUp() override {
        DeviceFixture::SetUp();
        configValues.prefyres = kHeight; // text scale 1
        initFileSystem();
        initTextures();
        initTexturePool();
        initFontPool();
    }
    void TearDown() override {
        closeFontPool();
        closeTexturePool();
        closeTextures();
        closeFileSystem();
        DeviceFixture::TearDown();
    }
};

TEST_F(FontTest, DescriptionsGiveSizeBoldAndItalicWithDefaults) {
    BitmapFont* bold = acquireFont("Arial|24|1|0");
    ASSERT_NE(bold, nullptr);
    EXPECT_EQ(bold->lineHeight, 24);
    ASSERT_NE(bold->texture, nullptr);
    EXPECT_EQ(bold->texture->flags, kFontTextureFlags);
    BitmapFont* plain = acquireFont("Arial");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->lineHeight, 32);
    BitmapFont* regular = acquireFont("arial|0x18");
    ASSERT_NE(regular, nullptr);
    EXPECT_EQ(regular->lineHeight, 24);
    EXPECT_GT(advance(*bold, 'm'), advance(*regular, 'm'));
    EXPECT_EQ(acquireFont("ARIAL|24|1|0"), bold);
    EXPECT_EQ(fontCacheCount(), 3);
    releaseFont(bold);
    releaseFont(bold);
    releaseFont(plain);
    releaseFont(regular);
    EXPECT_EQ(fontCacheCount(), 0);
}

TEST_F(FontTest, FontFilesLoadThroughTheFileLookup) {
    BitmapFont rendered;
    ASSERT_TRUE(renderFont("Arial", 18, false, false, true, &rendered));
    FileStream out;
    ASSERT_EQ(out.open("small.fn2", kFileWrite | kFileCreateAlways), 1);
    ASSERT_TRUE(writeFontFile(rendered, &out));
    out.close();
    BitmapFont* font = acquireFontFile("missing.fn2|small.fn2");
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->lineHeight, 18);
    float u = 0, v = 0;
    font->texture->mapPixel(font->glyphs[uint8_t('A')].x, font->glyphs[uint8_t('A')].y, &u, &v);
    EXPECT_FLOAT_EQ(font->glyphs[uint8_t('A')].u, u);
    releaseFont(font);
    FileStream bad;
    ASSERT_EQ(bad.open("bad.fn2", kFileWrite | kFileCreateAlways), 1);
    bad.writeString("FNT1 not a font");
    bad.close();
    EXPECT_EQ(acquireFontFile("bad.fn2"), nullptr);
}

TEST_F(FontTest, MeasuringFollowsAdvancesTabsSpacingAndLines) {
    BitmapFont* font = acquireFont("Arial|24");
    ASSERT_NE(font, nullptr);
    float a = advance(*font, 'A'), space = advance(*font, ' ');
    EXPECT_FLOAT_EQ(measureText(font, "A A", 1, 0), 2 * a + space);
    EXPECT_FLOAT_EQ(measureText(font, "AA", 2, 0), 4 * a);
    // one gap before each printable next character: m x line height x spacing
    EXPECT_FLOAT_EQ(measureText(font, "AA", 1, 0.5f), 2 * a + 24 * 0.5f);
    // tab stops every yres x 24 / prefyres pixels from the line's start
    float stop = 24.0f;
    float afterTab = (std::floor((a + 0.1f) / stop) + 1) * stop;
    EXPECT_FLOAT_EQ(measureText(font, "A\tA", 1, 0), afterTab + a);
    EXPECT_FLOAT_EQ(measureText(font, "AAA\nA", 1, 0), 3 * a);
    EXPECT_FLOAT_EQ(measureText(font, "AAA\nA", 1, 0, 2), 2 * a);
    EXPECT_FLOAT_EQ(textHeight(font, "A\nA\nA", 1), 3 * 24.0f);
    float start = 0, end = 0, height = 0;
    setFontAlignment(font, 1);
    textLayout(font, "AA", 1, 0, &start, &end, &height);
    EXPECT_FLOAT_EQ(start, -a);
    EXPECT_FLOAT_EQ(end, a);
    setFontAlignment(font, 2);
    textLayout(font, "AA", 1, 0, &start, &end, &height);
    EXPECT_FLOAT_EQ(start, -2 * a);
    EXPECT_FLOAT_EQ(end, 0);
    EXPECT_FLOAT_EQ(height, 24);
    setFontAlignment(font, 0);
    int32_t w = 0, h = 0;
    std::vector<uint8_t> line = renderTextLine(font, "AV", &w, &h);
    EXPECT_EQ(w, int32_t(measureText(font, "AV", 1, 0)));
    EXPECT_EQ(h, 24);
    int lit = 0;
    for (uint8_t value : line)
        lit += value > 128;
    EXPECT_GT(lit, 20);
    releaseFont(font);
}

TEST_F(FontTest, UnderlineIsDrawnForATextWithoutALineFeed) {
    BitmapFont* font = acquireFont("Arial|16");
    ASSERT_NE(font, nullptr);
    setFontUnderline(font, true);
    clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0);
    resetDeviceState();
    drawText(font, 4, 4, "ii", 1, 0xFFFFFFFF, 0);
    std::vector<uint32_t> pixels;
    ASSERT_EQ(device->ReadSurface(findRenderTarget("primary")->surface, &pixels), D3D_OK);
    int row = int(std::floor(4 + font->underlineOffset));
    float end = 4 + measureText(font, "ii", 1, 0);
    int lit = 0, columns = 0;
    for (int x = 5; x < int(end) - 1; ++x, ++columns)
        lit += (pixels[size_t(row) * kWidth + x] & 0xFF) > 200;
    EXPECT_EQ(lit, columns); // the whole span, between the glyphs too
    EXPECT_EQ(pixels[size_t(row) * kWidth + int(end) + 2] & 0xFFFFFF, 0u);
    releaseFont(font);
}

} // namespace
