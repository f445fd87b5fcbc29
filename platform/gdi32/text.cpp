// Text output in every DC's default font: a monospace face found through
// fontconfig, rendered by FreeType with anti-aliased glyphs. Without a usable
// face, a built-in 8x16 bitmap font still draws the text.
#include "fallback_font.h"
#include "gdi32/gdi32_internal.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdlib>

using namespace kplat;

namespace {

// Close to the 16-pixel cell of the Windows default system font.
constexpr int kPixelSize = 14;
constexpr int kFallbackAdvance = 8;
constexpr int kFallbackHeight = 16;

struct Glyph {
    bool loaded = false;
    int left = 0;  // from the pen position
    int top = 0;   // from the baseline, upward
    int width = 0;
    int rows = 0;
    int advance = 0;
    std::vector<uint8_t> alpha;
};

struct Font {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    int ascent = kFallbackAscent;
    int cellHeight = kFallbackHeight;
    Glyph glyphs[256];
};

// A private configuration, destroyed after the lookup, leaves the process's
// default fontconfig state alone for the host.
std::string FindMonospaceFile() {
    std::string path;
    FcConfig *config = FcInitLoadConfigAndFonts();
    if (!config) return path;
    FcPattern *pattern = FcNameParse(reinterpret_cast<const FcChar8 *>("DejaVu Sans Mono"));
    if (pattern) {
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8 *>("monospace"));
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern *match = FcFontMatch(config, pattern, &result);
        FcChar8 *file = nullptr;
        if (match && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file)
            path = reinterpret_cast<const char *>(file);
        if (match) FcPatternDestroy(match);
        FcPatternDestroy(pattern);
    }
    FcConfigDestroy(config);
    return path;
}

void OpenFace(Font *font) {
    // KPLAT_FONT_FILE picks another face file; one that cannot be opened
    // selects the built-in font.
    const char *chosen = std::getenv("KPLAT_FONT_FILE");
    std::string path = chosen ? chosen : FindMonospaceFile();
    if (path.empty() || FT_Init_FreeType(&font->library) != 0) return;
    if (FT_New_Face(font->library, path.c_str(), 0, &font->face) != 0 ||
        FT_Set_Pixel_Sizes(font->face, 0, kPixelSize) != 0) {
        if (font->face) FT_Done_Face(font->face);
        font->face = nullptr;
        return;
    }
    const FT_Size_Metrics &m = font->face->size->metrics;
    font->ascent = static_cast<int>((m.ascender + 63) >> 6);
    int descent = static_cast<int>((-m.descender + 63) >> 6);
    font->cellHeight = font->ascent + descent;
}

// Shared by every DC and thread; the face is opened on first use and kept.
std::mutex fontMutex;

Font &TheFont() {
    static Font *font = [] {
        Font *f = new Font;
        OpenFace(f);
        return f;
    }();
    return *font;
}

// ANSI bytes: Latin-1 for everything but the Windows-1252 block at 0x80.
FT_ULong CodePoint(unsigned char c) {
    static const uint16_t k1252[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    if (c >= 0x80 && c < 0xA0) return k1252[c - 0x80];
    return c;
}

void LoadFallback(Glyph *g, unsigned char c) {
    g->advance = kFallbackAdvance;
    if (c <= ' ' || c == 0x7F) return;
    g->top = kFallbackAscent;
    g->width = kFallbackAdvance;
    g->rows = kFallbackHeight;
    g->alpha.assign(static_cast<size_t>(g->width) * g->rows, 0);
    for (int y = 0; y < g->rows; ++y)
        for (int x = 0; x < g->width; ++x) {
            // Outside ASCII the cell gets a box, so the text's extent still shows.
            bool set = c <= kFallbackLast ? (kFallbackFont[c - kFallbackFirst][y] >> (7 - x)) & 1
                                          : (y == 2 || y == 13 || x == 1 || x == 6) && y >= 2 &&
                                                y <= 13 && x >= 1 && x <= 6;
            if (set) g->alpha[static_cast<size_t>(y) * g->width + x] = 255;
        }
}

const Glyph &GetGlyph(Font &font, unsigned char c) {
    Glyph &g = font.glyphs[c];
    if (g.loaded) return g;
    g.loaded = true;
    if (!font.face) {
        LoadFallback(&g, c);
        return g;
    }
    FT_Face face = font.face;
    FT_ULong code = CodePoint(c);
    // Control characters keep the cell's advance but draw nothing.
    bool visible = c >= ' ' && code != 0;
    if (FT_Load_Char(face, visible ? code : ' ', FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) != 0) {
        LoadFallback(&g, c);
        return g;
    }
    FT_GlyphSlot slot = face->glyph;
    g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    if (!visible || slot->bitmap.pixel_mode != FT_PIXEL_MODE_GRAY) return g;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.width = static_cast<int>(slot->bitmap.width);
    g.rows = static_cast<int>(slot->bitmap.rows);
    g.alpha.resize(static_cast<size_t>(g.width) * g.rows);
    for (int y = 0; y < g.rows; ++y)
        std::copy_n(slot->bitmap.buffer + static_cast<ptrdiff_t>(y) * slot->bitmap.pitch, g.width,
                    g.alpha.begin() + static_cast<ptrdiff_t>(y) * g.width);
    return g;
}

uint32_t Blend(uint32_t under, uint32_t over, int alpha) {
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        int a = static_cast<int>((under >> shift) & 0xFF);
        int b = static_cast<int>((over >> shift) & 0xFF);
        out |= static_cast<uint32_t>((a * (255 - alpha) + b * alpha + 127) / 255) << shift;
    }
    return out;
}

void FillRect(const PixelTarget &t, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t xrgb) {
    x0 = std::max<int64_t>(x0, 0);
    y0 = std::max<int64_t>(y0, 0);
    x1 = std::min<int64_t>(x1, t.width);
    y1 = std::min<int64_t>(y1, t.height);
    for (int64_t y = y0; y < y1; ++y)
        for (int64_t x = x0; x < x1; ++x) t.pixels[y * t.pitch + x] = xrgb;
}

void DrawGlyph(const PixelTarget &t, const Glyph &g, int64_t penX, int64_t baseline,
               uint32_t xrgb) {
    int64_t left = penX + g.left;
    int64_t top = baseline - g.top;
    if (left >= t.width || left + g.width <= 0 || top >= t.height || top + g.rows <= 0) return;
    for (int y = 0; y < g.rows; ++y) {
        int64_t ty = top + y;
        if (ty < 0 || ty >= t.height) continue;
        for (int x = 0; x < g.width; ++x) {
            int64_t tx = left + x;
            int alpha = g.alpha[static_cast<size_t>(y) * g.width + x];
            if (tx < 0 || tx >= t.width || alpha == 0) continue;
            uint32_t &p = t.pixels[ty * t.pitch + tx];
            p = Blend(p, xrgb, alpha);
        }
    }
}

int64_t TextWidth(Font &font, LPCSTR text, int count) {
    int64_t width = 0;
    for (int i = 0; i < count; ++i)
        width += GetGlyph(font, static_cast<unsigned char>(text[i])).advance;
    return width;
}

}  // namespace

extern "C" {

BOOL WINAPI GetTextExtentPoint32A(HDC dc, LPCSTR text, int count, LPSIZE size) {
    if (!size || count < 0 || (count > 0 && !text)) return FALSE;
    std::lock_guard<std::mutex> fontGuard(fontMutex);
    {
        std::lock_guard<std::recursive_mutex> guard(DcLock());
        if (!FindDC(dc)) return FALSE;
    }
    Font &font = TheFont();
    size->cx = static_cast<LONG>(std::min<int64_t>(TextWidth(font, text, count), INT32_MAX));
    size->cy = font.cellHeight;
    return TRUE;
}

BOOL WINAPI TextOutA(HDC dc, int x, int y, LPCSTR text, int count) {
    if (count < 0 || (count > 0 && !text)) return FALSE;
    CallTextHook(text, count);
    // Font first, then the DCs and windows: the same order everywhere.
    std::lock_guard<std::mutex> fontGuard(fontMutex);
    Font &font = TheFont();
    DrawLock lock;
    DeviceContext *state = FindDC(dc);
    PixelTarget target;
    if (!state || !ResolveTarget(dc, &target)) return FALSE;
    if (state->bkMode == OPAQUE)
        FillRect(target, x, y, x + TextWidth(font, text, count), int64_t(y) + font.cellHeight,
                 ColorRefToXrgb(state->bkColor));
    const uint32_t colour = ColorRefToXrgb(state->textColor);
    int64_t penX = x;
    const int64_t baseline = int64_t(y) + font.ascent;
    // Advances are never negative: a cell past the right edge shows nothing more.
    for (int i = 0; i < count && penX < int64_t(target.width) + kPixelSize; ++i) {
        const Glyph &g = GetGlyph(font, static_cast<unsigned char>(text[i]));
        DrawGlyph(target, g, penX, baseline, colour);
        penX += g.advance;
    }
    if (state->kind == DcKind::Window) NotifyWindowChanged(state->window);
    return TRUE;
}

}  // extern "C"
