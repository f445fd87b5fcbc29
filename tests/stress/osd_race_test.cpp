// One thread draws frames while two others change the OSD slots, the play
// rect, the mirror mode and the window at random. Every line the text renderer is asked
// to draw names the value it belongs to, so a slot drawn half-updated, or
// drawn from two values at once, shows up as a line that is not whole.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/display_fixture.h"

namespace {

using namespace kestra_test;

// Each side's share: the drawer keeps drawing until both are done, however
// the threads were scheduled; the bound only stops a run that cannot finish.
constexpr int kFramesWithText = 10000;
constexpr uint32_t kValuesSet = 1000;
constexpr int kMaxFrames = 1000000;
constexpr int kFrameWidth = 32;
constexpr int kFrameHeight = 24;
constexpr int kMaxText = 511;

uint32_t Mix(uint32_t a, uint32_t b) {
    uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u);
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    return h ^ (h >> 12);
}

// The alphabet over and over, long enough for any line from any letter.
const std::string &Alphabet() {
    static const std::string letters = [] {
        std::string text;
        while (text.size() < kMaxText + 26) text += "abcdefghijklmnopqrstuvwxyz";
        return text;
    }();
    return letters;
}

// Value `serial` of slot `slot`: empty now and then, else 1 to 6 lines, each
// opening with "s<slot>.<serial>.<line>/<lines>:" and padded with letters
// that depend on all four; one value in seven is exactly 511 characters.
std::string SlotText(int slot, uint32_t serial) {
    if (serial % 11 == 0) return "";
    const uint32_t h = Mix(uint32_t(slot), serial);
    const int lines = 1 + int(h % 6);
    const size_t total = serial % 7 == 0 ? kMaxText : 24 + (h >> 8) % 200;
    const size_t perLine = (total - (lines - 1)) / lines;
    std::string text;
    for (int line = 0; line < lines; ++line) {
        if (line) text += '\n';
        char head[40];
        std::snprintf(head, sizeof(head), "s%d.%u.%d/%d:", slot, serial, line, lines);
        std::string part = head;
        const size_t rest = total > text.size() ? total - text.size() : 0;
        const size_t want = line == lines - 1 ? rest : perLine;
        if (part.size() < want) {
            // Letters running on from one that depends on slot, serial and line.
            const size_t from = (slot * 7 + serial * 13 + line * 5) % 26;
            part.append(Alphabet().c_str() + from, want - part.size());
        }
        text += part;
    }
    return text.size() > kMaxText ? text.substr(0, kMaxText) : text;
}

std::vector<std::string> SplitLines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t feed; (feed = text.find('\n', start)) != std::string::npos; start = feed + 1)
        lines.push_back(text.substr(start, feed - start));
    lines.push_back(text.substr(start));
    return lines;
}

struct DrawnLine {
    int slot, line, lines;
    uint32_t serial;
};

// Checks one drawn line against the value its opening names; `value` keeps
// the lines of the last value looked at, since a slot's lines come together.
bool ParseWholeLine(const std::string &drawn, DrawnLine *out, std::vector<std::string> *value,
                    DrawnLine *valueKey, std::string *error) {
    int used = 0;
    if (std::sscanf(drawn.c_str(), "s%d.%u.%d/%d:%n", &out->slot, &out->serial, &out->line,
                    &out->lines, &used) != 4 ||
        used == 0 || out->slot < 0 || out->slot > 5 || out->line < 0 || out->line >= out->lines) {
        *error = "a line that opens no value: \"" + drawn + "\"";
        return false;
    }
    if (valueKey->slot != out->slot || valueKey->serial != out->serial) {
        *value = SplitLines(SlotText(out->slot, out->serial));
        *valueKey = *out;
    }
    if (int(value->size()) != out->lines || (*value)[size_t(out->line)] != drawn) {
        *error = "torn line \"" + drawn + "\"";
        return false;
    }
    return true;
}

// One frame's lines: slots in index order, each slot all the lines of one value.
std::string CheckFrame(const std::vector<std::string> &drawn, size_t *checked) {
    int lastSlot = -1;
    DrawnLine open{-1, 0, 0, 0};
    DrawnLine valueKey{-1, 0, 0, 0};
    std::vector<std::string> value;
    std::string error;
    for (const std::string &text : drawn) {
        DrawnLine line;
        if (!ParseWholeLine(text, &line, &value, &valueKey, &error)) return error;
        ++*checked;
        bool continues =
            open.slot == line.slot && open.serial == line.serial && line.line == open.line + 1;
        if (continues) {
            open = line;
            continue;
        }
        if (open.slot >= 0 && open.line != open.lines - 1)
            return "slot " + std::to_string(open.slot) + " stopped after line " +
                   std::to_string(open.line) + " of " + std::to_string(open.lines);
        if (line.line != 0 || line.slot <= lastSlot)
            return "slot " + std::to_string(line.slot) + " mixes values at \"" + text + "\"";
        lastSlot = line.slot;
        open = line;
    }
    if (open.slot >= 0 && open.line != open.lines - 1)
        return "slot " + std::to_string(open.slot) + " ends early";
    return "";
}

void ChangeAtRandom(KestraDisplay display, const HWND *windows, uint32_t seed,
                    std::atomic<uint32_t> *serials, const std::atomic<bool> *done) {
    std::minstd_rand random(seed);
    while (!done->load()) {
        const unsigned pick = random() % 64;
        if (pick >= 62) {
            // A host moving the picture to another window, as its UI thread does.
            if (pick == 62)
                KESTRA_DWSetHwnd(display, windows[random() % 2]);
            else
                KESTRA_DWAdjustedWnd(display);
        } else if (pick % 8 < 5) {
            const int slot = int(random() % 6);
            const std::string text = SlotText(slot, serials->fetch_add(1));
            KESTRA_DWSetOSDText(display, slot, text.c_str(), int(random() % 40) - 8,
                                int(random() % 36) - 8, int(random() % 3), random() & 0xFFFFFF);
        } else if (pick % 8 < 7) {
            RECT rect{LONG(random() % 38) - 3, LONG(random() % 28) - 3, LONG(random() % 38) - 3,
                      LONG(random() % 28) - 3};
            KESTRA_DWSetPlayRect(display, random() % 5 ? &rect : nullptr);
        } else {
            KESTRA_DWSetMirrorMode(display, int(random() % 3));
        }
        // Paced so the drawing thread keeps a core: still several changes a frame.
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 64));
    }
}

class OsdRace : public ::testing::TestWithParam<int> {};

TEST_P(OsdRace, NoSlotIsEverDrawnTorn) {
    TestDisplay d(GetParam(), kFrameWidth, kFrameHeight, 48, 36);
    ASSERT_EQ(GetParam(), d.Mode()) << "adapter set-up missed the mode";
    DrawnText recorder;
    const uint32_t seed = 7001u + uint32_t(GetParam());
    std::printf("mode %s, seeds %u and %u\n", ModeName(GetParam()), seed, seed + 1);
    Frame frame(kFrameWidth, kFrameHeight);
    frame.Paint(120, 90, 160);
    std::atomic<uint32_t> serials{1};
    std::atomic<bool> done{false};
    const HWND windows[2] = {d.window, kplat_create_window("other", 100, 60, 48, 36, 1)};
    std::thread first(ChangeAtRandom, d.handle, windows, seed, &serials, &done);
    std::thread second(ChangeAtRandom, d.handle, windows, seed + 1, &serials, &done);

    std::string error;
    int frames = 0, badResults = 0, framesWithText = 0;
    size_t linesChecked = 0;
    auto bothDone = [&] {
        return framesWithText >= kFramesWithText && serials.load() - 1 >= kValuesSet;
    };
    for (; frames < kMaxFrames && error.empty() && !bothDone(); ++frames) {
        // Now and then set up again, as a host does for a new clip, while the
        // setters change the crop against the frame size.
        if (frames % 1000 == 999) KESTRA_DWInitDraw(d.handle, kFrameWidth, kFrameHeight);
        if (d.Draw(frame) != 0) ++badResults;
        std::vector<std::string> drawn = recorder.Take();
        framesWithText += !drawn.empty();
        error = CheckFrame(drawn, &linesChecked);
        if (!error.empty()) error = "frame " + std::to_string(frames) + ": " + error;
    }
    done = true;
    first.join();
    second.join();
    KESTRA_DWSetHwnd(d.handle, d.window);
    DestroyWindow(windows[1]);

    ASSERT_EQ("", error);
    EXPECT_EQ(0, badResults) << "draws that did not answer 0";
    EXPECT_TRUE(bothDone()) << framesWithText << " frames with text and " << serials.load() - 1
                            << " values set in " << frames << " frames";
    std::printf("%d frames, %d with text, %zu whole lines, %u values set\n", frames, framesWithText,
                linesChecked, serials.load() - 1);
}

INSTANTIATE_TEST_SUITE_P(EveryMode, OsdRace, ::testing::ValuesIn(kAllModes), ModeParamName);

TEST(OsdRaceChecker, CatchesTornAndPartialSlots) {
    size_t checked = 0;
    uint32_t serial = 1;
    while (SplitLines(SlotText(2, serial)).size() < 3) ++serial;
    std::vector<std::string> whole = SplitLines(SlotText(2, serial));
    EXPECT_EQ("", CheckFrame(whole, &checked));
    EXPECT_EQ(kMaxText, int(SlotText(3, 14).size())) << "every seventh value is at the bound";

    std::vector<std::string> partial(whole.begin(), whole.end() - 1);
    EXPECT_NE("", CheckFrame(partial, &checked)) << "a slot missing its last line";
    std::vector<std::string> mixed = whole;
    mixed.back() = SplitLines(SlotText(2, serial + 1)).back();
    EXPECT_NE("", CheckFrame(mixed, &checked)) << "lines of two values in one slot";
    std::vector<std::string> torn = whole;
    torn[0][torn[0].size() - 1] ^= 1;
    EXPECT_NE("", CheckFrame(torn, &checked)) << "a line changed under the drawing";
}

}  // namespace
