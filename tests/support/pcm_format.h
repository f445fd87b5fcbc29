// A plain PCM wave format, for tests that open players and devices.
#pragma once

#include <windows.h>
#include <mmsystem.h>

namespace kestra_test {

inline WAVEFORMATEX PcmFormat(WORD channels, DWORD rate, WORD bits) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

}  // namespace kestra_test
