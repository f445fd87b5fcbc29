// OSD text slots and the host's display callback.
#include "display/draw_window.h"

#include <cstdint>
#include <cstring>

namespace kestra {

namespace {

// A line whose top lies outside the int range is far outside any frame.
void DrawLine(HDC dc, int32_t x, int64_t top, const char *text, int count) {
    if (top < INT32_MIN || top > INT32_MAX) return;
    TextOutA(dc, x, static_cast<int>(top), text, count);
}

}  // namespace

void DrawWindow::SetOsdText(int32_t index, const char *text, int32_t x, int32_t y, int32_t anchor,
                            COLORREF colour) {
    AutoLock lock(osdLock);
    if (index < 0 || index >= kOsdSlotCount) return;
    OsdSlot &slot = osdSlots[index];
    // A null text empties the slot, like "".
    std::strncpy(slot.text, text ? text : "", kOsdTextBytes - 1);
    slot.anchor = anchor;
    slot.x = x;
    slot.y = y;
    slot.colour = colour;
}

int DrawWindow::HasOsdText() const {
    for (const OsdSlot &slot : osdSlots)
        if (slot.text[0] != '\0') return 1;
    return 0;
}

void DrawWindow::DrawOsd(HDC dc, int32_t /*width*/, int32_t height) {
    AutoLock lock(osdLock);
    if (!HasOsdText()) return;
    int oldMode = SetBkMode(dc, TRANSPARENT);
    for (const OsdSlot &slot : osdSlots) {
        int n = static_cast<int>(strnlen(slot.text, kOsdTextBytes - 1));
        if (n == 0) continue;
        COLORREF oldColour = SetTextColor(dc, slot.colour);
        // 64 bits: y near either end of the int range plus the height or a
        // few line advances would overflow.
        int64_t lineY = slot.anchor == 1 ? int64_t(height) - slot.y : slot.y;
        SIZE extent{0, 0};
        GetTextExtentPoint32A(dc, slot.text, n, &extent);
        const char *line = slot.text;
        const char *end = slot.text + n;
        for (const char *feed;
             (feed = static_cast<const char *>(std::memchr(line, '\n', end - line))) != nullptr;) {
            DrawLine(dc, slot.x, lineY, line, static_cast<int>(feed - line));
            lineY += extent.cy;
            line = feed + 1;
        }
        DrawLine(dc, slot.x, lineY, line, static_cast<int>(end - line));
        SetTextColor(dc, oldColour);
    }
    SetBkMode(dc, oldMode);
}

void DrawWindow::CallDisplayCallback(HDC dc, int32_t windowWidth, int32_t windowHeight,
                                     int32_t value7, int32_t value8, int32_t mode) {
    AutoLock lock(callbackLock);
    if (!displayCallback) return;
    displayCallback(static_cast<int32_t>(drawIndex), dc, frameWidth, frameHeight, value7, value8,
                    windowWidth, windowHeight, mode, callbackUser);
}

}  // namespace kestra
