#include "data/stream.h"
#include "gfx/texture.h"
#include "gfx/texturepool.h"
#include "gfx_fixture.h"

#include <gtest/gtest.h>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <filesystem>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// A test file copied into the test's own folder: requests stay inside the production folder.
std::string dataPath(const char* name) {
    std::filesystem::copy_file(std::string(LUX_TEST_DATA) + "/" + name, name,
                               std::filesystem::copy_options::overwrite_existing);
    return name;
}

std::vector<uint8_t> readFileBytes(const std::string& path) {
    std::string text = readText(path.c_str());
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Output of a command (the reference decoders).
std::vector<uint8_t> commandOutput(const std::string& command) {
    std::vector<uint8_t> out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    uint8_t buffer[65536];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        out.insert(out.end(), buffer, buffer + n);
    pclose(pipe);
    return out;
}

// Red, green, blue bytes of the reference JPEG decoder; width and height from its header.
std::vector<uint8_t> djpegPixels(const std::string& path, int* width, int* height) {
    std::vector<uint8_t> ppm = commandOutput("djpeg -ppm '" + path + "'");
    int w = 0, h = 0, maxValue = 0, consumed = 0;
    if (ppm.size() < 16 || sscanf(reinterpret_cast<const char*>(ppm.data()), "P%*c %d %d %d%n", &w,
                                  &h, &maxValue, &consumed) != 3)
        return {};
    *width = w;
    *height = h;
    return std::vector<uint8_t>(ppm.begin() + consumed + 1, ppm.end());
}

struct MemoryFile {
    MemoryStream stream;
    std::vector<uint8_t> bytes;
    explicit MemoryFile(std::vector<uint8_t> content) : bytes(std::move(content)) {
        stream.attachReadOnly(bytes.data(), int32_t(bytes.size()));
    }
};

void putDword(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = uint8_t(value >> (8 * i));
}

struct TexturePoolTest : DeviceFixture {
    void SetUp() override {
        DeviceFixture::SetUp();
        initFileSystem();
        initTextures();
        initTexturePool();
    }
    void TearDown() override {
        closeTexturePool();
        closeTextures();
        closeFileSystem();
        DeviceFixture::TearDown();
    }
    std::vector<uint32_t> readLevel0(const Texture* texture) {
        auto* object = static_cast<GpuTexture*>(resourceObject(texture->resourceId));
        std::vector<uint32_t> pixels;
        GpuSurface* surface = nullptr;
        if (!object || FAILED(object->GetSurfaceLevel(0, &surface))) return pixels;
        EXPECT_EQ(device->ReadSurface(surface, &pixels), D3D_OK);
        surface->Release();
        return pixels;
    }
};

TEST(Glow, CentreIsLimitedToWhiteCornerIsBlackEdgeMiddleFollowsTheFormula) {
    std::vector<uint8_t> image(16 * 16 * 3);
    glowImage(16, 3.5f, 3.5f, 3.5f, 1.1f, image.data());
    const uint8_t* centre = &image[(8 * 16 + 8) * 3];
    EXPECT_EQ(centre[0], 255);
    EXPECT_EQ(centre[2], 255);
    EXPECT_EQ(image[0] + image[1] + image[2], 0);
    glowImage(16, 1, 1, 1, 1, image.data());
    // x = -1, y = 0: v = 1 - sqrt(0.5) = 0.2929, 0.2929 x 255 = 74.7
    const uint8_t* edge = &image[(8 * 16 + 0) * 3];
    EXPECT_EQ(edge[0], 74);
    EXPECT_EQ(edge[1], 74);
    EXPECT_EQ(edge[2], 74);
}

TEST_F(TexturePoolTest, StartUpLogsAndGlowRequestsAreSharedAcrossLetterCase) {
    std::string text = log();
    EXPECT_NE(text.find("RSPL: init\nTEXX: init\nTXPL: init\n"), std::string::npos);
    Texture* first = acquireTexture("glow:16 3.5 3.5 3.5 1.1", 0);
    ASSERT_NE(first, nullptr);
    Texture* second = acquireTexture("GLOW:16 3.5 3.5 3.5 1.1", 0);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->flags & kTextureRgb, uint32_t(kTextureRgb));
    EXPECT_NE(log().find("TXPL: calculating glow, size 16, r 3.50, g 3.50, b 3.50, "
                         "intensity 1.10\n"),
              std::string::npos);
    int32_t entries = texturePool()->count();
    releaseTexture(first);
    EXPECT_EQ(texturePool()->count(), entries);
    releaseTexture(second);
    EXPECT_EQ(texturePool()->count(), entries - 1);
}

TEST_F(TexturePoolTest, NullMakesNothingAndSaysNothingMissingFilesAreLogged) {
    std::string before = log();
    EXPECT_EQ(acquireTexture("null", 0), nullptr);
    EXPECT_EQ(log(), before);
    EXPECT_EQ(texturePool()->count(), 0);
    EXPECT_EQ(acquireTexture("nothere.jpg", 0), nullptr);
    EXPECT_NE(log().find("TXPL: ignoring request for nothere.jpg\n"), std::string::npos);
}

TEST_F(TexturePoolTest, RenderTargetsAreFoundAsRtt) {
    RenderTarget* target = createRenderTexture(32, 32, "scene", false);
    EXPECT_EQ(acquireTexture("rtt:scene", 0), target->texture);
    releaseTexture(target->texture);
    destroyRenderTarget("scene");
    EXPECT_EQ(acquireTexture("rtt:scene", 0), nullptr);
}

// The DDS files come from an independent tool; its own decoder gives the reference pixels.
TEST_F(TexturePoolTest, DdsFilesOfAnotherToolLoadWithTheirPixels) {
    struct Case {
        const char* file;
        uint32_t content;
    } cases[] = {{"lake24.dds", kTextureRgb}, {"lake32a.dds", kTextureRgb | kTextureAlpha}};
    for (const Case& c : cases) {
        std::string path = dataPath(c.file);
        std::vector<uint8_t> reference = commandOutput("convert '" + path + "' rgba:-");
        ASSERT_EQ(reference.size(), 64u * 48u * 4u) << c.file;
        Texture* texture = acquireTexture(path.c_str(), 0);
        ASSERT_NE(texture, nullptr) << c.file;
        EXPECT_EQ(texture->flags, c.content);
        EXPECT_EQ(texture->width, 64);
        EXPECT_EQ(texture->height, 48);
        std::vector<uint32_t> texels = readLevel0(texture);
        ASSERT_EQ(texels.size(), size_t(texture->textureWidth) * texture->textureHeight);
        int mismatches = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const uint8_t* r = &reference[(size_t(y) * 64 + x) * 4];
                uint32_t alpha = (c.content & kTextureAlpha) ? r[3] : 255;
                uint32_t expected = alpha << 24 | uint32_t(r[0]) << 16 | uint32_t(r[1]) << 8 | r[2];
                mismatches += texels[size_t(y) * texture->textureWidth + x] != expected;
            }
        EXPECT_EQ(mismatches, 0) << c.file;
        releaseTexture(texture);
    }
}

// Every JPEG decodes to the reference decoder's pixels, and a texture of it reads back the same.
TEST_F(TexturePoolTest, JpegsMatchTheReferenceDecoderExactly) {
    const char* files[] = {"scratch-lake.jpg", "scratch-lake-420.jpg", "scratch-lake-prog.jpg",
                           "scratch-moon-gray-rst.jpg"};
    for (const char* file : files) {
        std::string path = dataPath(file);
        int width = 0, height = 0;
        std::vector<uint8_t> reference = djpegPixels(path, &width, &height);
        ASSERT_FALSE(reference.empty()) << file;
        bool gray = reference.size() == size_t(width) * height;
        Texture* texture = acquireTexture(path.c_str(), 0);
        ASSERT_NE(texture, nullptr) << file;
        ASSERT_EQ(texture->width, width);
        ASSERT_EQ(texture->textureWidth, width);
        std::vector<uint32_t> texels = readLevel0(texture);
        ASSERT_EQ(texels.size(), size_t(width) * height);
        int mismatches = 0;
        for (size_t i = 0; i < texels.size(); ++i) {
            uint32_t r = gray ? reference[i] : reference[3 * i];
            uint32_t g = gray ? reference[i] : reference[3 * i + 1];
            uint32_t b = gray ? reference[i] : reference[3 * i + 2];
            mismatches += texels[i] != (0xFF000000u | r << 16 | g << 8 | b);
        }
        EXPECT_EQ(mismatches, 0) << file;
        releaseTexture(texture);
    }
}

// The picture drawn 1:1 on a screen of its size reads back as the reference decoder's pixels.
TEST_F(TexturePoolTest, JpegShownOneToOneOnTheScreenMatchesTheReferenceDecoder) {
    std::string path = dataPath("scratch-lake-420.jpg");
    int width = 0, height = 0;
    std::vector<uint8_t> reference = djpegPixels(path, &width, &height);
    ASSERT_EQ(reference.size(), size_t(width) * height * 3);
    closeTexturePool();
    closeDevice();
    freeAdapters();
    configValues.xres = width;
    configValues.yres = height;
    GpuSystem* system = gpuCreate();
    ASSERT_NE(system, nullptr);
    resourceInit();
    enumerateAdapters(system, nullptr);
    initDevice(system, nullptr);
    device = dxDevice();
    initTexturePool();
    Texture* texture = acquireTexture(path.c_str(), 0);
    ASSERT_NE(texture, nullptr);
    struct Vertex {
        float x, y, z, rhw, u, v;
    };
    float w = float(width), h = float(height), u = texture->uScale, v = texture->vScale;
    const Vertex quad[4] = {{-0.5f, -0.5f, 0.5f, 1, 0, 0},
                            {w - 0.5f, -0.5f, 0.5f, 1, u, 0},
                            {w - 0.5f, h - 0.5f, 0.5f, 1, u, v},
                            {-0.5f, h - 0.5f, 0.5f, 1, 0, v}};
    clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0);
    resetDeviceState();
    setRenderState(D3DRS_ZENABLE, 0);
    setStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    setStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT);
    setStageState(0, D3DTSS_MINFILTER, D3DTEXF_POINT);
    bindTexture(0, texture);
    drawFanUP(quad, 4, D3DFVF_XYZRHW | D3DFVF_TEX1);
    std::vector<uint32_t> pixels;
    ASSERT_EQ(device->ReadSurface(findRenderTarget("primary")->surface, &pixels), D3D_OK);
    ASSERT_EQ(pixels.size(), size_t(width) * height);
    int mismatches = 0;
    for (size_t i = 0; i < pixels.size(); ++i) {
        const uint8_t* r = &reference[3 * i];
        mismatches += (pixels[i] & 0xFFFFFF) != (uint32_t(r[0]) << 16 | uint32_t(r[1]) << 8 | r[2]);
    }
    EXPECT_EQ(mismatches, 0);
    releaseTexture(texture);
}

TEST_F(TexturePoolTest, JpegWithTheAlphaFlagHoldsItsLuma) {
    std::string path = dataPath("scratch-lake.jpg");
    int width = 0, height = 0;
    std::vector<uint8_t> reference = djpegPixels(path, &width, &height);
    ASSERT_EQ(reference.size(), size_t(width) * height * 3);
    Texture* texture = acquireTexture(path.c_str(), kTextureAlpha);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->flags, uint32_t(kTextureAlpha));
    EXPECT_EQ(texture->format->format, D3DFMT_A8);
    std::vector<uint32_t> texels = readLevel0(texture);
    ASSERT_EQ(texels.size(), size_t(width) * height);
    int mismatches = 0;
    for (size_t i = 0; i < texels.size(); ++i) {
        double luma = 0.3 * reference[3 * i] + 0.59 * reference[3 * i + 1] +
                      0.11 * reference[3 * i + 2] + 1e-9;
        mismatches += ((texels[i] >> 16) & 0xFF) != uint32_t(luma);
    }
    EXPECT_EQ(mismatches, 0);
    releaseTexture(texture);
}

TEST_F(TexturePoolTest, PngDecodesThroughTheStreamWithTheToolsPixels) {
    std::string png = "lake.png";
    commandOutput("convert '" + dataPath("lake24.dds") + "' " + png);
    std::vector<uint8_t> reference = commandOutput("convert " + png + " rgb:-");
    ASSERT_EQ(reference.size(), 64u * 48u * 3u);
    FileStream file;
    ASSERT_EQ(file.open(png.c_str(), kFileRead), 1);
    Picture picture;
    ASSERT_TRUE(decodePicture(&file, kTextureRgb, &picture));
    EXPECT_EQ(picture.width, 64);
    EXPECT_EQ(picture.pixelBytes, 3);
    int mismatches = 0;
    for (size_t i = 0; i < 64 * 48; ++i)
        mismatches += picture.pixels[3 * i] != reference[3 * i + 2] ||
                      picture.pixels[3 * i + 2] != reference[3 * i];
    EXPECT_EQ(mismatches, 0);
    freePicture(&picture);
}

TEST(DdsReader, DeclinesOtherFilesAndLeavesThePositionToTheCaller) {
    MemoryFile file(std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xE0, 0, 0, 0, 0});
    bool declined = false;
    EXPECT_EQ(readDdsTexture(&file.stream, 0, &declined), nullptr);
    EXPECT_TRUE(declined);
}

struct DdsDeathCase {
    const char* name;
    size_t offset; // dword to patch (from the file start), or the size to cut to
    uint32_t value;
    bool cut;
    const char* message;
};

class DdsDeathTest : public ::testing::TestWithParam<DdsDeathCase> {};

TEST_P(DdsDeathTest, BadFilesEndWithTheirMessage) {
    const DdsDeathCase& c = GetParam();
    std::vector<uint8_t> bytes = readFileBytes(dataPath("lake24.dds"));
    ASSERT_GT(bytes.size(), 128u);
    if (c.cut)
        bytes.resize(c.offset);
    else
        putDword(bytes, c.offset, c.value);
    MemoryFile file(bytes);
    EXPECT_EXIT(
        {
            logSetFile("log.txt");
            setErrorDialogEnabled(false);
            bool declined = false;
            readDdsTexture(&file.stream, 0, &declined);
        },
        ::testing::ExitedWithCode(1), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DdsDeathTest,
    ::testing::Values(
        DdsDeathCase{"MipCount2", 4 + 24, 2, false, "Raw texture file corrupted"},
        DdsDeathCase{"FourCC", 4 + 80, 0x31545844, false,
                     "Raw texture file has unsupported pixel format"},
        DdsDeathCase{"Masks", 4 + 88, 0xFF, false, "Raw texture file has unsupported pixel format"},
        DdsDeathCase{"NoLayoutFlags", 4 + 4, 0x1007, false, "Raw texture has strange layout flags"},
        DdsDeathCase{"HugeHeader", 4 + 8, 65535, false, "Raw texture file corrupted"},
        DdsDeathCase{"ZeroWidth", 4 + 12, 0, false, "Raw texture file corrupted"},
        DdsDeathCase{"PitchPastTheFile", 4 + 16, 0x7FFFFFFF, false, "Raw texture file corrupted"},
        DdsDeathCase{"DescriptionTooLong", 4, 4096, false, "Raw texture file corrupted"},
        DdsDeathCase{"Truncated", 1000, 0, true, "Raw texture file corrupted"},
        DdsDeathCase{"TruncatedDescription", 60, 0, true, "Raw texture file corrupted"}),
    [](const ::testing::TestParamInfo<DdsDeathCase>& info) { return info.param.name; });

TEST(PictureLoaderDeathTest, UndecodableBytesAreFatal) {
    std::vector<uint8_t> jpeg = readFileBytes(dataPath("scratch-lake.jpg"));
    jpeg.resize(200); // inside the tables: no picture
    MemoryFile file(jpeg);
    EXPECT_EXIT(
        {
            logSetFile("log.txt");
            setErrorDialogEnabled(false);
            luxLoadTexture(&file.stream, 0);
        },
        ::testing::ExitedWithCode(1),
        "Could not create Picture object \\(incompatible image format\\?\\)");
}

TEST(PictureLoader, HugeDimensionsAreRefusedBeforeDecoding) {
    std::vector<uint8_t> jpeg = readFileBytes(dataPath("scratch-lake.jpg"));
    // The baseline frame header: FF C0, length, precision, then height and width.
    size_t sof = 0;
    for (size_t i = 2; i + 8 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            sof = i;
            break;
        }
    ASSERT_NE(sof, 0u);
    jpeg[sof + 5] = jpeg[sof + 7] = 0x9C; // 40000 x 40000
    jpeg[sof + 6] = jpeg[sof + 8] = 0x40;
    MemoryFile file(jpeg);
    logSetFile("log.txt");
    Picture picture;
    EXPECT_FALSE(decodePicture(&file.stream, 0, &picture));
    EXPECT_NE(readText("log.txt").find("picture size 40000x40000 is out of range"),
              std::string::npos);
}

// A damaged header may claim far more pixels than its file could hold: no decoding at all.
TEST(PictureLoader, HeadersClaimingMorePixelsThanTheFileHoldsAreRefused) {
    std::vector<uint8_t> tga(469, 0);
    tga[2] = 10;                    // run-length colour image
    tga[12] = 0x40, tga[13] = 1;    // 320 wide
    tga[14] = 0x0c, tga[15] = 0x21; // 8460 high: 2.7 million pixels from 469 bytes
    tga[16] = 24;
    MemoryFile file(tga);
    logSetFile("log.txt");
    Picture picture;
    EXPECT_FALSE(decodePicture(&file.stream, 0, &picture));
    EXPECT_NE(readText("log.txt").find("picture size 320x8460 is out of range for a file of 469 "
                                       "bytes"),
              std::string::npos);
}

// Small pictures built byte by byte: TGA uncompressed and run-length, BMP with 24 bits.
std::vector<uint8_t> tgaPicture(bool runLength) {
    std::vector<uint8_t> tga(18, 0);
    tga[2] = runLength ? 10 : 2;
    tga[12] = 4;  // 4 wide
    tga[14] = 3;  // 3 high
    tga[16] = 24; // bits per pixel
    for (int row = 0; row < 3; ++row) {
        if (runLength) tga.push_back(0x80 | 3); // one run of 4 pixels
        for (int x = 0; x < (runLength ? 1 : 4); ++x)
            tga.insert(tga.end(), {uint8_t(10 * x), uint8_t(20 * row), 200});
    }
    return tga;
}

std::vector<uint8_t> bmpPicture() {
    std::vector<uint8_t> bmp(54, 0);
    bmp[0] = 'B', bmp[1] = 'M';
    bmp[10] = 54;             // pixel data offset
    bmp[14] = 40;             // header size
    bmp[18] = 5, bmp[22] = 2; // 5 x 2
    bmp[26] = 1, bmp[28] = 24;
    for (int row = 0; row < 2; ++row) {
        for (int x = 0; x < 5; ++x)
            bmp.insert(bmp.end(), {uint8_t(x), uint8_t(row), 7});
        bmp.insert(bmp.end(), 1, 0); // rows padded to 16 bytes
    }
    bmp[2] = uint8_t(bmp.size());
    return bmp;
}

std::vector<uint8_t> pngPicture() {
    const uint8_t rgb[4 * 3 * 3] = {50, 60, 70};
    std::vector<uint8_t> png;
    stbi_write_png_to_func(
        [](void* context, void* data, int size) {
            auto* out = static_cast<std::vector<uint8_t>*>(context);
            out->insert(out->end(), static_cast<uint8_t*>(data),
                        static_cast<uint8_t*>(data) + size);
        },
        &png, 4, 3, 3, rgb, 4 * 3);
    return png;
}

// A file cut inside its pixels is refused, whether its header gives it away before decoding
// or the decoder runs out of bytes, instead of coming back padded with black. A PNG whose
// chunks do not all fit its file is refused before decoding.
TEST(PictureLoader, PicturesCutShortAreRefusedAndWholeOnesDecode) {
    logSetFile("log.txt");
    struct Case {
        std::vector<uint8_t> bytes;
        uint8_t firstRed;
    };
    const Case pictures[] = {
        {tgaPicture(false), 200}, {tgaPicture(true), 200}, {bmpPicture(), 7}, {pngPicture(), 50}};
    for (const auto& [whole, firstRed] : pictures) {
        MemoryFile file(whole);
        Picture picture;
        ASSERT_TRUE(decodePicture(&file.stream, kTextureRgb, &picture));
        EXPECT_EQ(picture.pixels[2], firstRed); // blue, green, red
        freePicture(&picture);
        for (size_t cut : {size_t(2), size_t(5)}) { // a BMP's last padding byte may be missing
            std::vector<uint8_t> bytes(whole.begin(), whole.end() - long(cut));
            MemoryFile shortFile(bytes);
            EXPECT_FALSE(decodePicture(&shortFile.stream, kTextureRgb, &picture))
                << whole.size() << " bytes cut by " << cut;
        }
    }
    std::vector<uint8_t> tall = tgaPicture(false);
    tall[15] = 1; // 259 rows in the pixels of 3
    MemoryFile tallFile(tall);
    Picture picture;
    EXPECT_FALSE(decodePicture(&tallFile.stream, kTextureRgb, &picture));
    std::string log = readText("log.txt");
    EXPECT_NE(log.find("picture size 4x259 does not fit a file of 54 bytes"), std::string::npos);
    EXPECT_NE(log.find("the file ends inside the picture"), std::string::npos);

    // A chunk length past the end: refused before the decoder sizes a buffer by it.
    std::vector<uint8_t> longChunk = pngPicture();
    longChunk[33] = 0x70; // the first chunk after the header: its length is now 1.9 GB
    MemoryFile longChunkFile(longChunk);
    logSetFile("log.txt");
    EXPECT_FALSE(decodePicture(&longChunkFile.stream, kTextureRgb, &picture));
    EXPECT_NE(readText("log.txt").find("the file ends inside the picture"), std::string::npos);
}

} // namespace
