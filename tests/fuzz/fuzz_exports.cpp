// Turns input bytes into a sequence of export calls on one display and one
// wave player, the way a careless host might make them.
#include <windows.h>
#include <mmsystem.h>
#include <kestra/kestra.h>
#include <kestra/platform_test.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Reader {
    const uint8_t *data;
    size_t size;
    bool empty() const { return size == 0; }
    uint32_t Byte() {
        if (!size) return 0;
        --size;
        return *data++;
    }
    int32_t Int(int32_t lo, int32_t hi) {
        uint32_t v = Byte() << 8 | Byte();
        return lo + static_cast<int32_t>(v % static_cast<uint32_t>(hi - lo + 1));
    }
};

struct Session {
    KestraDisplay display = nullptr;
    KestraWave wave = nullptr;
    HWND window = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> y, u, v;
};

int32_t KESTRA_CALLBACK WriteSome(uint8_t *buffer, uint32_t size, void *user) {
    int32_t count = *static_cast<int32_t *>(user);
    if (count > 0) std::memset(buffer, 0x11, count < int32_t(size) ? count : size);
    return count;
}

void KESTRA_CALLBACK Draw(int32_t, HDC dc, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                          int32_t, void *) {
    SetPixel(dc, 0, 0, 0xFF);
}

void Frame(Session &s, Reader &in) {
    if (s.width <= 0 || s.height <= 0 || s.width > 512 || s.height > 512) {
        KESTRA_DWDrawYUV420(s.display, nullptr, 0, nullptr, nullptr, 0, 0, 0, 0);
        return;
    }
    int32_t yStride = s.width + in.Int(0, 33);
    int32_t uvStride = (s.width + 1) / 2 + in.Int(0, 17);
    s.y.assign(size_t(yStride) * s.height, uint8_t(in.Byte()));
    s.u.assign(size_t(uvStride) * ((s.height + 1) / 2), uint8_t(in.Byte()));
    s.v.assign(s.u.size(), uint8_t(in.Byte()));
    bool nulls = in.Byte() == 7;
    KESTRA_DWDrawYUV420(s.display, nulls ? nullptr : s.y.data(), yStride, s.u.data(), s.v.data(),
                        uvStride, 0, in.Int(-5, 5), 0);
}

void Step(Session &s, Reader &in, int32_t *writeCount) {
    switch (in.Byte() % 20) {
        case 0: {
            // Mostly drawable sizes; now and then one no buffer can be made for.
            static const int32_t kExtremes[] = {INT32_MIN, -1, 0, 1 << 20, 46341, INT32_MAX};
            const bool extreme = in.Byte() % 8 == 0;
            s.width = extreme ? kExtremes[in.Byte() % 6] : in.Int(-4, 700);
            s.height = extreme ? kExtremes[in.Byte() % 6] : in.Int(-4, 500);
            KESTRA_DWInitDraw(s.display, s.width, s.height);
            break;
        }
        case 1:
            Frame(s, in);
            break;
        case 2:
            KESTRA_DWFreeDraw(s.display);
            break;
        case 3: {
            char text[600];
            size_t n = in.Int(0, 599);
            for (size_t i = 0; i < n; ++i) text[i] = char(in.Byte() | 1);
            text[n] = '\0';
            KESTRA_DWSetOSDText(s.display, in.Int(-2, 8), in.Byte() & 1 ? text : nullptr,
                                in.Int(-50, 700), in.Int(-50, 500), in.Int(0, 2),
                                in.Int(0, 0xFFFFFF));
            break;
        }
        case 4: {
            RECT r{in.Int(-5, 700), in.Int(-5, 500), in.Int(-5, 700), in.Int(-5, 500)};
            KESTRA_DWSetPlayRect(s.display, in.Byte() & 1 ? &r : nullptr);
            break;
        }
        case 5:
            KESTRA_DWSetMirrorMode(s.display, in.Int(-1, 3));
            KESTRA_DWSetScaling(s.display, in.Int(-1, 2));
            break;
        case 6:
            KESTRA_DWSetHwnd(s.display, in.Byte() & 1 ? s.window : nullptr);
            break;
        case 7:
            KESTRA_DWAdjustedWnd(s.display);
            break;
        case 8:
            KESTRA_DWSetDisplayCB(s.display, nullptr, in.Byte() & 1 ? Draw : nullptr);
            break;
        case 9:
            kplat_resize_window(s.window, in.Int(1, 400), in.Int(1, 300));
            break;
        case 10: {
            WAVEFORMATEX f{};
            f.wFormatTag = static_cast<WORD>(in.Byte() & 1 ? WAVE_FORMAT_PCM : in.Byte());
            f.nChannels = static_cast<WORD>(in.Int(0, 9));
            f.nSamplesPerSec = static_cast<DWORD>(in.Int(0, 200000));
            f.wBitsPerSample = static_cast<WORD>(in.Byte() & 1 ? 16 : in.Byte());
            f.nBlockAlign = static_cast<WORD>(f.nChannels * f.wBitsPerSample / 8);
            f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
            f.cbSize = static_cast<WORD>(in.Byte());
            KESTRA_WVSetWaveFormat(s.wave, &f, static_cast<uint32_t>(in.Int(0, 70000)));
            break;
        }
        case 11:
            KESTRA_WVPlayWave(s.wave);
            break;
        case 12:
            KESTRA_WVStopWave(s.wave);
            break;
        case 13:
            KESTRA_WVPauseWave(s.wave, in.Int(-1, 2));
            break;
        case 14:
            KESTRA_WVSetVolume(s.wave, static_cast<uint32_t>(in.Int(0, 70000)) * 7u);
            break;
        case 15:
            *writeCount = in.Int(-100, 100000);
            KESTRA_WVSetWriteWaveCB(s.wave, writeCount, in.Byte() & 1 ? WriteSome : nullptr);
            break;
        case 16:
            // Plays up to three buffers of the newest device; -1 when none is queued.
            for (int32_t n = in.Int(0, 3); n > 0; --n) kplat_audio_manual_step(nullptr, nullptr, 0);
            {
                int64_t frames = 0, stamp = 0;
                KESTRA_WVGetPosition(s.wave, in.Byte() & 1 ? &frames : nullptr, &stamp);
            }
            break;
        case 17:
            // The window goes away under the display; a new one may follow.
            kplat_destroy_window(s.window);
            s.window = kplat_create_window("fuzz", 0, 0, in.Int(1, 400), in.Int(1, 300), 1);
            if (in.Byte() & 1) KESTRA_DWSetHwnd(s.display, s.window);
            break;
        case 18:
            KESTRA_DWCloseDraw(s.display);
            if (KESTRA_DWOpenDraw(&s.display) != 0) std::abort();
            KESTRA_DWSetHwnd(s.display, s.window);
            s.width = s.height = 0;
            break;
        default:
            KESTRA_WVCloseWave(s.wave);
            KESTRA_WVOpenWave(&s.wave);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    setenv("KPLAT_AUDIO_SINK", "manual", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Reader in{data, size};
    Session s;
    int32_t writeCount = 0;
    s.window = kplat_create_window("fuzz", 0, 0, 320, 240, 1);
    if (KESTRA_DWOpenDraw(&s.display) != 0 || KESTRA_WVOpenWave(&s.wave) != 0) std::abort();
    KESTRA_DWSetHwnd(s.display, s.window);
    for (int steps = 0; !in.empty() && steps < 64; ++steps) Step(s, in, &writeCount);
    KESTRA_WVCloseWave(s.wave);
    KESTRA_DWCloseDraw(s.display);
    kplat_destroy_window(s.window);
    return 0;
}
