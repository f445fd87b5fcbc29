// OSD slots: the bounded copy, line layout and anchoring (against the same
// lines drawn by hand), what the DC is left with, and OSD text carried
// through the GDI path with the picture.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "display/presenter.h"
#include "support/display_fixture.h"
#include "support/png_writer.h"

namespace {

using kestra::OsdPainter;
using kestra_test::DrawnText;
using kestra_test::TestDisplay;
using kestra_test::YuvFrame;
using Lines = std::vector<std::string>;

// What the host's OSD calls leave to be drawn: the strings the text renderer
// is asked for, and in the YV12 mode whether the frame goes through the aux
// surface, which only text sends it to.
class OsdSlotTest : public ::testing::Test {
protected:
    Lines DrawnInAFrame() {
        const KestraResult drawn = d.Draw(frame);
        Lines lines = text.Take();
        if (drawn != 0) lines.push_back("draw answered " + std::to_string(drawn));
        return lines;
    }
    TestDisplay d{kestra_test::ModeYV12Surface, 64, 48};
    const YuvFrame frame{64, 48};
    DrawnText text;
};

TEST_F(OsdSlotTest, TextIsCutAt511CharactersAndReplacedWhole) {
    std::string longText;
    for (int i = 0; i < 600; ++i) longText += static_cast<char>('a' + i % 26);
    ASSERT_EQ(d.Osd(2, longText.c_str(), 1, 2), 0);
    EXPECT_EQ(DrawnInAFrame(), Lines{longText.substr(0, 511)});
    ASSERT_EQ(d.Osd(2, "short", 1, 2), 0);
    EXPECT_EQ(DrawnInAFrame(), Lines{"short"}) << "nothing of the longer text stays";
}

TEST_F(OsdSlotTest, EmptyOrNullTextEmptiesTheSlot) {
    for (const char *empty : {"", static_cast<const char *>(nullptr)}) {
        d.Osd(5, "old", 1, 1, 1);
        ASSERT_EQ(d.Osd(5, empty, 11, 22, 2, RGB(1, 2, 3)), 0);
        const char *name = empty ? "empty" : "null";
        EXPECT_EQ(DrawnInAFrame(), Lines{}) << name;
        EXPECT_EQ(kestra_test::ShownFormat(), kestra_test::kYv12) << name << ": no text to compose";
    }
}

TEST_F(OsdSlotTest, IndexesOutsideTheSlotsChangeNothing) {
    d.Osd(0, "keep", 1, 2);
    ASSERT_EQ(DrawnInAFrame(), Lines{"keep"});
    const std::vector<uint32_t> picture = d.Pixels();
    for (int32_t index : {6, -1, 1 << 30, INT32_MIN}) {
        EXPECT_EQ(d.Osd(index, "x", 9, 9, 1, 9), 0) << "index " << index;
        EXPECT_EQ(DrawnInAFrame(), Lines{"keep"}) << "index " << index;
        EXPECT_TRUE(d.Pixels() == picture) << "index " << index;
    }
}

// A frame-sized memory DC on a black bitmap.
class Canvas {
public:
    Canvas(int w, int h)
        : width(w),
          height(h),
          dc(CreateCompatibleDC(nullptr)),
          bitmap(CreateCompatibleBitmap(dc, w, h)),
          previous(SelectObject(dc, bitmap)) {}
    ~Canvas() {
        SelectObject(dc, previous);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    std::vector<COLORREF> Pixels() const {
        std::vector<COLORREF> out;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) out.push_back(GetPixel(dc, x, y));
        return out;
    }
    int width, height;
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ previous;
};

struct Line {
    const char *text;
    int x;
    int advances;  // line advances below the first line's top
};

struct LayoutCase {
    const char *name;
    const char *text;
    int32_t x, y, anchor;
    int firstTop;  // where the first line must start
    std::vector<Line> lines;
};

void PrintTo(const LayoutCase &c, std::ostream *os) { *os << c.name; }

class OsdLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(OsdLayoutTest, MatchesTheLinesDrawnByHand) {
    const LayoutCase &c = GetParam();
    const COLORREF colour = RGB(250, 200, 40);
    OsdPainter painter;
    painter.slots[3].Set(c.text, c.x, c.y, c.anchor, colour);
    Canvas osd(120, 480), expected(120, 480);
    painter.Paint(osd.dc, 480);

    SIZE extent{};
    GetTextExtentPoint32A(expected.dc, c.text, static_cast<int>(strlen(c.text)), &extent);
    SetBkMode(expected.dc, TRANSPARENT);
    SetTextColor(expected.dc, colour);
    for (const Line &line : c.lines)
        TextOutA(expected.dc, line.x, c.firstTop + line.advances * extent.cy, line.text,
                 static_cast<int>(strlen(line.text)));
    std::vector<COLORREF> got = osd.Pixels(), want = expected.Pixels();
    int inked = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i], want[i]) << c.name << " at " << i % 120 << "," << i / 120;
        inked += got[i] != 0;
    }
    EXPECT_GT(inked, 0) << c.name << ": something must be drawn";
}

const LayoutCase kLayouts[] = {
    {"top anchored", "Hi", 7, 40, 0, 40, {{"Hi", 7, 0}}},
    {"anchor 2 counts from the top", "Hi", 7, 40, 2, 40, {{"Hi", 7, 0}}},
    {"bottom anchor 30 on 480 rows", "Hi", 7, 30, 1, 450, {{"Hi", 7, 0}}},
    {"blank line between", "A\n\nB", 3, 100, 0, 100, {{"A", 3, 0}, {"B", 3, 2}}},
    {"trailing line feed", "AB\n", 3, 100, 0, 100, {{"AB", 3, 0}}},
    {"carriage return stays on its line", "A\r\nB", 3, 100, 0, 100, {{"A\r", 3, 0}, {"B", 3, 1}}},
    {"bottom anchor lower lines fall off",
     "A\nB\nC",
     3,
     20,
     1,
     460,
     {{"A", 3, 0}, {"B", 3, 1}, {"C", 3, 2}}},
    {"negative x clipped", "WIDE", -10, 5, 0, 5, {{"WIDE", -10, 0}}},
};

INSTANTIATE_TEST_SUITE_P(Cases, OsdLayoutTest, ::testing::ValuesIn(kLayouts));

TEST(OsdDraw, LaterSlotsDrawOverEarlierOnesAndTheDcIsRestored) {
    OsdPainter painter;
    Canvas canvas(64, 32);
    SetBkMode(canvas.dc, OPAQUE);
    SetTextColor(canvas.dc, RGB(9, 8, 7));
    painter.slots[0].Set("MM", 4, 4, 0, RGB(255, 0, 0));
    painter.slots[4].Set("MM", 4, 4, 0, RGB(0, 0, 255));
    painter.Paint(canvas.dc, 32);
    EXPECT_EQ(GetBkMode(canvas.dc), OPAQUE);
    EXPECT_EQ(GetTextColor(canvas.dc), RGB(9, 8, 7));
    int blue = 0;
    for (COLORREF p : canvas.Pixels()) {
        ASSERT_NE(p, RGB(255, 255, 255)) << "the background must stay transparent";
        ASSERT_NE(p, RGB(255, 0, 0)) << "slot 4 lies over slot 0";
        blue += p == RGB(0, 0, 255);
    }
    EXPECT_GT(blue, 0);
}

TEST(OsdDraw, AllSlotsEmptyLeavesTheDcAlone) {
    OsdPainter painter;
    painter.slots[1].Set("", 4, 4, 0, RGB(255, 0, 0));
    Canvas canvas(32, 32);
    SetPixel(canvas.dc, 5, 5, RGB(1, 2, 3));
    SetBkMode(canvas.dc, OPAQUE);
    SetTextColor(canvas.dc, RGB(9, 8, 7));
    std::vector<COLORREF> before = canvas.Pixels();
    painter.Paint(canvas.dc, 32);
    EXPECT_EQ(GetBkMode(canvas.dc), OPAQUE);
    EXPECT_EQ(GetTextColor(canvas.dc), RGB(9, 8, 7));
    EXPECT_TRUE(canvas.Pixels() == before);
}

// OSD text is part of the frame before the stretch: cropped, mirrored and
// scaled with the picture. The same frame and text unscaled, uncropped show
// the composed frame. Also writes the picture a person can check.
TEST(OsdGdi, TextTravelsWithThePicture) {
    const COLORREF orange = RGB(255, 128, 0), azure = RGB(0, 128, 255);
    TestDisplay whole(kestra_test::ModeGdi, 160, 120),
        display(kestra_test::ModeGdi, 160, 120, 160, 140);
    for (const TestDisplay *d : {&whole, &display}) {
        d->Osd(0, "OSD 42\nline 2", 26, 16, 0, orange);
        d->Osd(1, "cut", 110, 20, 1, azure);  // below the crop
    }
    const RECT crop{20, 10, 100, 80};
    KESTRA_DWSetPlayRect(display.handle, &crop);
    KESTRA_DWSetMirrorMode(display.handle, 1);
    const YuvFrame frame = YuvFrame::Bars(160, 120);
    ASSERT_EQ(whole.Draw(frame), 0);
    ASSERT_EQ(display.Draw(frame), 0);

    const std::vector<uint32_t> composed = whole.Pixels();
    int orangeInFrame = 0, azureInFrame = 0;
    for (uint32_t p : composed) {
        orangeInFrame += p == 0xFF8000u;
        azureInFrame += p == 0x0080FFu;
    }
    EXPECT_GT(orangeInFrame, 0);
    EXPECT_GT(azureInFrame, 0) << "the second slot is drawn, only cropped away later";

    std::vector<uint32_t> window = display.Pixels();
    int orangeInWindow = 0;
    for (int y = 0; y < 140; ++y)
        for (int x = 0; x < 160; ++x) {
            uint32_t p = window[static_cast<size_t>(y) * 160 + x];
            ASSERT_EQ(p, composed[static_cast<size_t>(10 + y / 2) * 160 + 99 - x / 2])
                << "window " << x << "," << y;
            ASSERT_NE(p, 0x0080FFu) << "text outside the crop shows at " << x << "," << y;
            if (p == 0xFF8000u) {
                ++orangeInWindow;
                // Text starting at frame x 26 runs leftward from window x 2*(99-26)+1.
                EXPECT_LE(x, 2 * (99 - 26) + 1);
                EXPECT_GE(y, 2 * (16 - 10));
            }
        }
    EXPECT_EQ(orangeInWindow, 4 * orangeInFrame) << "every text pixel, scaled 2 x 2";
    EXPECT_TRUE(kestra_test::WritePng(KESTRA_TEST_OUTPUT_DIR "/gdi_frame.png", window.data(), 160,
                                      140, 160));
}

}  // namespace
