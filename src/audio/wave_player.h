// WavePlayer: double-buffered PCM output pulled from the host.
#pragma once

#include <cstdint>

#include "kestra/kestra.h"

namespace kestra {

class WavePlayer {
public:
    WavePlayer();
    ~WavePlayer();
    WavePlayer(const WavePlayer &) = delete;
    WavePlayer &operator=(const WavePlayer &) = delete;

    void SetWaveFormat(const tWAVEFORMATEX *format, uint32_t size);
    void SetWriteCallback(void *user, KestraWriteWaveCallback callback);
    void Play();
    void Stop();
    void Pause(int32_t pause);
    void SetVolume(uint32_t volume);
    // Stops, then destroys and frees the player.
    static void Close(WavePlayer *player);
};

}  // namespace kestra
