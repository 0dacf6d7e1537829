// Rendering a bitmap font with FreeType (the face found by fontconfig), and the font tool.
//
// The font is drawn k times larger (supersampling) into a coverage buffer and reduced by
// averaging k x k blocks. The face is sized by its cell (ascent plus descent), so a 24-pixel
// font's lines are 24 pixels apart; character codes are Windows-1252.
#include "data/stream.h"
#include "gfx/font.h"
#include "platform/log.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SIZES_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace gfx {
namespace {

constexpr int32_t kMaxFontSize = 160;
constexpr int32_t kMaxSurface = 2048;

// Unicode of the Windows-1252 codes 0x80 to 0x9F (0 where the code page has none).
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

uint32_t unicodeOf(int code) {
    return code >= 0x80 && code < 0xA0 ? kCp1252High[code - 0x80] : uint32_t(code);
}

struct FaceFile {
    std::string path;
    int index = 0;
    bool needsBold = false, needsSlant = false; // the match lacks them: synthesise
};

bool findFace(const char* name, bool bold, bool italic, FaceFile* out) {
    if (!FcInit()) return false;
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name));
    FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) return false;
    FcChar8* file = nullptr;
    int weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
    bool ok = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file;
    if (ok) {
        out->path = reinterpret_cast<const char*>(file);
        FcPatternGetInteger(match, FC_INDEX, 0, &out->index);
        FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
        FcPatternGetInteger(match, FC_SLANT, 0, &slant);
        out->needsBold = bold && weight < FC_WEIGHT_DEMIBOLD;
        out->needsSlant = italic && slant == FC_SLANT_ROMAN;
    }
    FcPatternDestroy(match);
    return ok;
}

// Face metrics in whole supersampled pixels.
struct Metrics {
    int32_t a[256] = {}, b[256] = {}, c[256] = {};
    int32_t ascent = 0, descent = 0; // descent negative
    int32_t underlinePosition = 0, underlineThickness = 0;
};

int32_t roundPixels(FT_Pos value26_6) {
    return int32_t((value26_6 + 32) >> 6);
}

bool loadGlyph(FT_Face face, const FaceFile& file, int code) {
    FT_UInt index = FT_Get_Char_Index(face, unicodeOf(code));
    if (FT_Load_Glyph(face, index, FT_LOAD_NO_BITMAP)) return false;
    if (face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) return true;
    if (file.needsSlant) {
        FT_Matrix shear{0x10000, 0x0366A, 0, 0x10000}; // about 12 degrees
        FT_Outline_Transform(&face->glyph->outline, &shear);
    }
    if (file.needsBold)
        FT_Outline_EmboldenXY(&face->glyph->outline, face->size->metrics.x_ppem * 2, 0);
    return true;
}

void readMetrics(FT_Face face, const FaceFile& file, Metrics* m) {
    const FT_Size_Metrics& sm = face->size->metrics;
    m->ascent = roundPixels(FT_MulFix(face->ascender, sm.y_scale));
    m->descent = roundPixels(FT_MulFix(face->descender, sm.y_scale));
    // The face's own underline record, as the font stores it (FreeType moves its
    // underline_position to the stroke's centre).
    FT_Short position = face->underline_position, thickness = face->underline_thickness;
    if (auto* post = static_cast<const TT_Postscript*>(FT_Get_Sfnt_Table(face, FT_SFNT_POST))) {
        position = post->underlinePosition;
        thickness = post->underlineThickness;
    }
    m->underlinePosition = roundPixels(FT_MulFix(position, sm.y_scale));
    m->underlineThickness = std::max(1, roundPixels(FT_MulFix(thickness, sm.y_scale)));
    for (int code = 0; code < 256; ++code) {
        if (!loadGlyph(face, file, code)) continue;
        FT_BBox box;
        FT_Outline_Get_CBox(&face->glyph->outline, &box);
        int32_t advance = roundPixels(face->glyph->metrics.horiAdvance);
        bool empty = face->glyph->outline.n_points == 0;
        int32_t left = empty ? 0 : int32_t(box.xMin >> 6);
        int32_t right = empty ? 1 : int32_t((box.xMax + 63) >> 6);
        m->a[code] = left;
        m->b[code] = right - left;
        m->c[code] = advance - right;
    }
}

// Draws the glyph's coverage with its origin at (penX, baseline).
void drawGlyph(FT_Face face, const FaceFile& file, int code, int32_t penX, int32_t baseline,
               uint8_t* buffer, int32_t width, int32_t height, bool antialias) {
    if (!loadGlyph(face, file, code)) return;
    if (FT_Render_Glyph(face->glyph, antialias ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO))
        return;
    const FT_Bitmap& bitmap = face->glyph->bitmap;
    int32_t left = penX + face->glyph->bitmap_left, top = baseline - face->glyph->bitmap_top;
    for (uint32_t row = 0; row < bitmap.rows; ++row) {
        int32_t y = top + int32_t(row);
        if (y < 0 || y >= height) continue;
        const uint8_t* source = bitmap.buffer + int64_t(row) * bitmap.pitch;
        for (uint32_t col = 0; col < bitmap.width; ++col) {
            int32_t x = left + int32_t(col);
            if (x < 0 || x >= width) continue;
            uint8_t value = bitmap.pixel_mode == FT_PIXEL_MODE_MONO
                                ? ((source[col >> 3] >> (7 - (col & 7))) & 1) * 255
                                : source[col];
            uint8_t& out = buffer[size_t(y) * width + x];
            out = std::max(out, value);
        }
    }
}

} // namespace

// Cell layout of codes 33 to 255 on a surface of width x height (final pixels); false when
// the rows run past the bottom.
bool layoutCells(const int32_t* blackBox, int32_t k, int32_t size, int32_t width, int32_t height,
                 int32_t* cellX, int32_t* cellY) {
    int32_t x = 0, y = 0, rowStep = (size + 2) * k;
    for (int code = 33; code < 256; ++code) {
        int32_t w = (blackBox[code] + 3 * k - 1) / k * k;
        if (x + w > width * k) {
            x = 0;
            y += rowStep;
            if (y + rowStep > height * k) return false;
        }
        cellX[code] = x;
        cellY[code] = y;
        x += w;
    }
    return y + rowStep <= height * k;
}

bool fitFontSurface(int32_t size, int32_t k,
                    const std::function<bool(int32_t size, int32_t* blackBox)>& measure,
                    FontSurfaceFit* fit) {
    int32_t blackBox[256] = {};
    for (int32_t s = size; s > 0; s -= 5) {
        if (!measure(s, blackBox)) return false;
        int32_t width = 256, height = 256;
        while (!layoutCells(blackBox, k, s, width, height, fit->cellX, fit->cellY)) {
            if (height < width)
                height *= 2;
            else
                width *= 2;
            if (width > kMaxSurface || height > kMaxSurface) break;
        }
        if (width > kMaxSurface || height > kMaxSurface) continue;
        fit->size = s;
        fit->width = width;
        fit->height = height;
        return true;
    }
    return false;
}

} // namespace gfx

using namespace gfx;

int32_t fontSupersampling(int32_t size, bool antialias) {
    if (!antialias) return 1;
    return size <= 63 ? 4 : size <= 95 ? 3 : 2;
}

bool renderFont(const char* faceName, int32_t requested, bool bold, bool italic, bool antialias,
                BitmapFont* font) {
    int32_t k = fontSupersampling(requested, antialias);
    int32_t s = std::min(requested, kMaxFontSize);
    if (s <= 0 || !faceName) return false;
    FaceFile file;
    if (!findFace(faceName, bold, italic, &file)) return false;
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library)) return false;
    FT_Face face = nullptr;
    if (FT_New_Face(library, file.path.c_str(), file.index, &face)) {
        FT_Done_FreeType(library);
        return false;
    }
    Metrics metrics;
    FontSurfaceFit fit;
    auto measure = [&](int32_t fontSize, int32_t* blackBox) {
        // The cell (ascent + descent) is size x k pixels, as for a positive font height.
        FT_Size_RequestRec request{FT_SIZE_REQUEST_TYPE_CELL, 0, FT_Long(fontSize * k) << 6, 0, 0};
        if (FT_Request_Size(face, &request)) return false;
        metrics = Metrics{};
        readMetrics(face, file, &metrics);
        memcpy(blackBox, metrics.b, sizeof(metrics.b));
        return true;
    };
    if (!fitFontSurface(s, k, measure, &fit)) {
        FT_Done_Face(face);
        FT_Done_FreeType(library);
        return false;
    }
    s = fit.size;
    int32_t width = fit.width, height = fit.height;
    const int32_t* cellX = fit.cellX;
    const int32_t* cellY = fit.cellY;
    logf("FONT: surface fixed at %dx%d\n", width, height);

    size_t bigBytes = size_t(width) * k * height * k;
    std::unique_ptr<uint8_t[]> big(new (std::nothrow) uint8_t[bigBytes]);
    if (!big) {
        logf("FONT: WARNING - GDI bitmap creation failed\n");
        FT_Done_Face(face);
        FT_Done_FreeType(library);
        return false;
    }
    memset(big.get(), 0, bigBytes);
    BitmapFont result;
    for (int code = 0; code < 256; ++code) {
        Glyph& g = result.glyphs[code];
        g.a = float(metrics.a[code]) / float(k);
        g.b = float(metrics.b[code]) / float(k);
        g.c = float(metrics.c[code]) / float(k);
        if (code <= 32) continue;
        g.x = uint16_t(cellX[code] / k + 1);
        g.y = uint16_t(cellY[code] / k + 1);
        g.height = float(s);
        drawGlyph(face, file, code, cellX[code] - metrics.a[code] + k,
                  cellY[code] + k + metrics.ascent, big.get(), width * k, height * k, antialias);
    }
    result.surfaceWidth = width;
    result.surfaceHeight = height;
    result.surface.assign(size_t(width) * height, 0);
    uint32_t weight = 65536u / uint32_t(k * k);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            uint32_t sum = 0;
            for (int32_t dy = 0; dy < k; ++dy) {
                const uint8_t* row = big.get() + (size_t(y) * k + dy) * width * k + size_t(x) * k;
                for (int32_t dx = 0; dx < k; ++dx)
                    sum += row[dx];
            }
            result.surface[size_t(y) * width + x] = uint8_t((sum * weight) >> 16);
        }
    result.underlineOffset =
        float(metrics.descent - metrics.underlinePosition) / float(k) + float(s);
    result.underlineThickness = float(metrics.underlineThickness) / float(k);
    result.scale = float(requested) / float(s);
    result.lineHeight = int32_t(result.glyphs[int('A')].height);
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    *font = std::move(result);
    return true;
}

bool findFontFace(const char* face, bool bold, bool italic, char* file, size_t capacity) {
    FaceFile found;
    if (!face || !findFace(face, bold, italic, &found)) return false;
    snprintf(file, capacity, "%s", found.path.c_str());
    return true;
}

void fontToolFileName(char* out, size_t capacity, int32_t size, const char* face, int32_t bold,
                      int32_t italic, int32_t antialias) {
    snprintf(out, capacity, "%d_%s_%d_%d_%d.fn2", size, face, bold, italic, antialias);
}

int fontToolMain(int argc, char** argv) {
    if (argc < 3) {
        printf("fonttool size name [bold] [italic] [antialias]\n");
        return 1;
    }
    int32_t size = atoi(argv[1]);
    const char* face = argv[2];
    int32_t bold = argc > 3 && atoi(argv[3]) != 0;
    int32_t italic = argc > 4 && atoi(argv[4]) != 0;
    // A zero antialias argument turns it off.
    int32_t antialias = argc > 5 ? atoi(argv[5]) != 0 : 1;
    printf("generating: %d '%s' bold: %d italic: %d aa: %d\n", size, face, bold, italic, antialias);
    BitmapFont font;
    if (!renderFont(face, size, bold != 0, italic != 0, antialias != 0, &font)) {
        printf("could not generate font bitmap!\n");
        return 1;
    }
    char name[512];
    fontToolFileName(name, sizeof(name), size, face, bold, italic, antialias);
    FileStream out;
    if (!out.open(name, kFileWrite | kFileCreateAlways) || !writeFontFile(font, &out)) {
        printf("could not write font file!\n");
        return 1;
    }
    out.close();
    return 0;
}
