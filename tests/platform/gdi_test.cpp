// The stand-in GDI: DIB transfers (orientation, padding, mirror, stretch,
// clipping), GetDIBits' row layout, and text metrics and output.
#include <windows.h>
#include <kestra/platform_test.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int Stride(int width) { return (width * 3 + 3) & ~3; }

// A distinct colour for every image pixel (x, y counted from the top).
uint32_t Colour(int x, int y) { return (uint32_t(x + 1) << 16) | (uint32_t(y + 1) << 8) | 0x21u; }

BITMAPINFO Info(int width, int height) {
    BITMAPINFO info;
    std::memset(&info, 0, sizeof(info));
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// A padded DIB of Colour(); pad bytes hold 0xEE so a reader that ignores
// padding shears visibly.
std::vector<uint8_t> MakeDib(int width, int rows, bool bottomUp) {
    std::vector<uint8_t> bits(static_cast<size_t>(Stride(width)) * rows, 0xEE);
    for (int y = 0; y < rows; ++y) {
        uint8_t *row =
            bits.data() + static_cast<size_t>(bottomUp ? rows - 1 - y : y) * Stride(width);
        for (int x = 0; x < width; ++x) {
            uint32_t c = Colour(x, y);
            row[3 * x] = c & 0xFF;
            row[3 * x + 1] = (c >> 8) & 0xFF;
            row[3 * x + 2] = (c >> 16) & 0xFF;
        }
    }
    return bits;
}

class GdiTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = kplat_create_window("gdi", 0, 0, 16, 12, 0);
        ASSERT_NE(window, nullptr);
        dc = GetDC(window);
        ASSERT_NE(dc, nullptr);
        kplat_fill_window(window, kCanvas);
    }
    void TearDown() override {
        ReleaseDC(window, dc);
        DestroyWindow(window);
    }
    int Blit(int xd, int yd, int wd, int hd, int xs, int ys, int ws, int hs, int width, int rows,
             bool bottomUp) {
        dib = MakeDib(width, rows, bottomUp);
        BITMAPINFO info = Info(width, bottomUp ? rows : -rows);
        return StretchDIBits(dc, xd, yd, wd, hd, xs, ys, ws, hs, dib.data(), &info, DIB_RGB_COLORS,
                             SRCCOPY);
    }
    static constexpr uint32_t kCanvas = 0x123456;
    HWND window = nullptr;
    HDC dc = nullptr;
    std::vector<uint8_t> dib;
};

// Each case: the transfer, and the image column and row each window pixel of
// the destination shows (-1: none, the canvas stays, as outside it). A
// negative extent counts back from its origin and covers it, as Windows
// does: (4, -5) is 0 to 4.
struct BlitCase {
    const char *name;
    int xd, yd, wd, hd, xs, ys, ws, hs;
    int width, rows;
    int (*srcX)(int x);
    int (*srcY)(int y);
};

void PrintTo(const BlitCase &c, std::ostream *os) { *os << c.name; }

class StretchDIBitsTest : public GdiTest, public ::testing::WithParamInterface<BlitCase> {};

TEST_P(StretchDIBitsTest, LandsWhereGdiPutsIt) {
    const BlitCase &c = GetParam();
    for (bool bottomUp : {true, false}) {
        kplat_fill_window(window, kCanvas);
        // A bottom-up DIB measures the source y from its last row.
        int ys = bottomUp ? c.rows - c.ys - c.hs : c.ys;
        Blit(c.xd, c.yd, c.wd, c.hd, c.xs, ys, c.ws, c.hs, c.width, c.rows, bottomUp);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 16; ++x) {
                const int left = c.wd < 0 ? c.xd + c.wd + 1 : c.xd;
                const bool inside =
                    x >= left && x < left + std::abs(c.wd) && y >= c.yd && y < c.yd + c.hd;
                const int sx = inside ? c.srcX(x) : -1, sy = inside ? c.srcY(y) : -1;
                ASSERT_EQ(kplat_window_pixel(window, x, y),
                          sx < 0 || sy < 0 ? kCanvas : Colour(sx, sy))
                    << c.name << (bottomUp ? " bottom-up" : " top-down") << " at " << x << "," << y;
            }
    }
}

int Same(int v) { return v; }
int Mirrored(int x) { return 4 - x; }

const BlitCase kBlits[] = {
    // 5 wide: rows padded by one byte.
    {"one to one, odd width", 0, 0, 5, 3, 0, 0, 5, 3, 5, 3, Same, Same},
    {"source width negative mirrors", 0, 0, 5, 3, 4, 0, -5, 3, 5, 3, Mirrored, Same},
    {"destination width negative mirrors", 4, 0, -5, 3, 0, 0, 5, 3, 5, 3, Mirrored, Same},
    {"both negative cancel", 4, 0, -5, 3, 4, 0, -5, 3, 5, 3, Same, Same},
    {"sub-rectangle at an offset", 2, 1, 3, 2, 1, 2, 3, 2, 6, 5, [](int x) { return x - 1; },
     [](int y) { return y + 1; }},
    {"stretched twice", 0, 0, 14, 6, 0, 0, 7, 3, 7, 3, [](int x) { return x / 2; },
     [](int y) { return y / 2; }},
    {"shrunk by half keeps every other pixel", 0, 0, 4, 2, 0, 0, 8, 4, 8, 4,
     [](int x) { return 2 * x + 1; }, [](int y) { return 2 * y + 1; }},
    {"clipped by the target's edges", -2, -1, 20, 14, 0, 0, 20, 14, 20, 14,
     [](int x) { return x + 2; }, [](int y) { return y + 1; }},
    {"source beyond the bitmap draws nothing there", 0, 0, 6, 3, 2, 0, 6, 3, 5, 3,
     [](int x) { return x < 3 ? x + 2 : -1; }, Same},
};

INSTANTIATE_TEST_SUITE_P(Cases, StretchDIBitsTest, ::testing::ValuesIn(kBlits));

TEST_F(GdiTest, StretchDIBitsRefusesWhatItCannotRead) {
    std::vector<uint8_t> bits = MakeDib(4, 4, true);
    BITMAPINFO info = Info(4, 4);
    EXPECT_EQ(StretchDIBits(dc, 0, 0, 4, 4, 0, 0, 4, 4, nullptr, &info, DIB_RGB_COLORS, SRCCOPY),
              0);
    info.bmiHeader.biBitCount = 16;
    EXPECT_EQ(StretchDIBits(dc, 0, 0, 4, 4, 0, 0, 4, 4, bits.data(), &info, 0, SRCCOPY), 0);
    info = Info(4, 4);
    EXPECT_EQ(StretchDIBits(dc, 0, 0, 0, 4, 0, 0, 4, 4, bits.data(), &info, 0, SRCCOPY), 0);
    EXPECT_EQ(kplat_window_pixel(window, 0, 0), kCanvas) << "nothing may be drawn";
    EXPECT_EQ(StretchDIBits(dc, 0, 0, 4, 4, 0, 0, 4, 4, bits.data(), &info, 0, SRCCOPY), 4);
}

class MemoryDcTest : public ::testing::Test {
protected:
    void SetUp() override {
        dcs = kplat_live_objects(KPLAT_OBJ_DC);
        bitmaps = kplat_live_objects(KPLAT_OBJ_BITMAP);
        screen = GetDC(nullptr);
        memory = CreateCompatibleDC(nullptr);
        bitmap = CreateCompatibleBitmap(screen, 5, 4);
        previous = SelectObject(memory, bitmap);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x) {
                uint32_t c = Colour(x, y);
                SetPixel(memory, x, y, RGB(c >> 16, c >> 8, c));
            }
    }
    void TearDown() override {
        SelectObject(memory, previous);
        EXPECT_TRUE(DeleteDC(memory));
        EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
        EXPECT_TRUE(DeleteObject(bitmap));
        EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_DC), dcs) << "device contexts leaked";
        EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_BITMAP), bitmaps) << "bitmaps leaked";
    }
    int dcs = 0, bitmaps = 0;
    HDC screen = nullptr, memory = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
};

TEST_F(MemoryDcTest, GetDIBitsWritesPaddedRowsInTheAskedOrder) {
    struct Case {
        const char *name;
        int height;  // biHeight: positive bottom-up, negative top-down
        UINT start, lines;
        int expectLines;
        int (*imageRow)(int i);  // image row (from the top) of output row i
    } cases[] = {
        {"bottom-up, all rows", 4, 0, 4, 4, [](int i) { return 3 - i; }},
        {"bottom-up, two rows from scan line 1", 4, 1, 2, 2, [](int i) { return 2 - i; }},
        {"top-down, all rows", -4, 0, 4, 4, [](int i) { return i; }},
        {"more lines than the bitmap has", 4, 2, 9, 2, [](int i) { return 1 - i; }},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> out(static_cast<size_t>(Stride(5)) * 5, 0xCC);
        BITMAPINFO info = Info(5, c.height);
        SelectObject(memory, previous);
        int got = GetDIBits(memory, bitmap, c.start, c.lines, out.data(), &info, DIB_RGB_COLORS);
        SelectObject(memory, bitmap);
        ASSERT_EQ(got, c.expectLines) << c.name;
        for (int i = 0; i < got; ++i) {
            const uint8_t *row = out.data() + static_cast<size_t>(i) * Stride(5);
            for (int x = 0; x < 5; ++x) {
                uint32_t c24 = row[3 * x] | (row[3 * x + 1] << 8) | (row[3 * x + 2] << 16);
                ASSERT_EQ(c24, Colour(x, c.imageRow(i))) << c.name << " row " << i << " x " << x;
            }
            EXPECT_EQ(row[15], 0) << c.name << ": pad byte of row " << i;
        }
        EXPECT_EQ(out[static_cast<size_t>(got) * Stride(5)], 0xCC)
            << c.name << ": wrote past the lines it reported";
    }
}

class TextTest : public GdiTest {};

TEST_F(TextTest, ExtentIsAMonospaceCellNearTheSystemFont) {
    SIZE one{}, four{}, thin{}, none{};
    ASSERT_TRUE(GetTextExtentPoint32A(dc, "M", 1, &one));
    ASSERT_TRUE(GetTextExtentPoint32A(dc, "MMMM", 4, &four));
    ASSERT_TRUE(GetTextExtentPoint32A(dc, "i\ni.", 4, &thin));
    ASSERT_TRUE(GetTextExtentPoint32A(dc, "", 0, &none));
    EXPECT_GE(one.cy, 14);
    EXPECT_LE(one.cy, 18);
    EXPECT_GE(one.cx, 6);
    EXPECT_LE(one.cx, 10);
    EXPECT_EQ(four.cx, 4 * one.cx);
    EXPECT_EQ(thin.cx, four.cx) << "every character, line feeds too, takes one cell";
    EXPECT_EQ(none.cx, 0);
    EXPECT_EQ(none.cy, one.cy);
    EXPECT_FALSE(GetTextExtentPoint32A(dc, "M", 1, nullptr));
}

TEST_F(TextTest, TransparentTextStaysInItsCellInItsColour) {
    HWND wide = kplat_create_window("text", 0, 0, 64, 32, 0);
    HDC wdc = GetDC(wide);
    kplat_fill_window(wide, 0);
    SetBkMode(wdc, TRANSPARENT);
    SetTextColor(wdc, RGB(0, 255, 0));
    SIZE cell{};
    GetTextExtentPoint32A(wdc, "HIH", 3, &cell);
    ASSERT_TRUE(TextOutA(wdc, 10, 8, "HIH", 3));
    int full = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) {
            DWORD p = kplat_window_pixel(wide, x, y);
            bool inside = x >= 10 && x < 10 + cell.cx && y >= 8 && y < 8 + cell.cy;
            if (!inside) {
                ASSERT_EQ(p, 0u) << "ink outside the cell at " << x << "," << y;
            }
            ASSERT_EQ(p & 0xFF00FFu, 0u) << "not the text colour at " << x << "," << y;
            full += p == 0x00FF00u;
        }
    EXPECT_GT(full, 10) << "the strokes of H must be fully covered somewhere";
    ReleaseDC(wide, wdc);
    DestroyWindow(wide);
}

TEST_F(TextTest, OpaqueTextFillsTheCellAndClipsAtTheEdge) {
    SIZE cell{};
    GetTextExtentPoint32A(dc, "ab", 2, &cell);
    ASSERT_EQ(GetBkMode(dc), OPAQUE) << "GDI's default background mode";
    ASSERT_TRUE(TextOutA(dc, 12, 2, "ab", 2));  // runs past the 16-pixel-wide window
    EXPECT_EQ(kplat_window_pixel(window, 12, 2), 0xFFFFFFu) << "default background white";
    EXPECT_EQ(kplat_window_pixel(window, 11, 2), kCanvas);
    EXPECT_TRUE(TextOutA(dc, -100, -100, "ab", 2));
    EXPECT_EQ(kplat_window_pixel(window, 0, 0), kCanvas);
}

}  // namespace
