// Placeholder until the wave player lands.
#include "audio/wave_player.h"

namespace kestra {

WavePlayer::WavePlayer() {}
WavePlayer::~WavePlayer() {}
void WavePlayer::SetWaveFormat(const tWAVEFORMATEX *, uint32_t) {}
void WavePlayer::SetWriteCallback(void *, KestraWriteWaveCallback) {}
void WavePlayer::Play() {}
void WavePlayer::Stop() {}
void WavePlayer::Pause(int32_t) {}
void WavePlayer::SetVolume(uint32_t) {}
void WavePlayer::Close(WavePlayer *player) { delete player; }

}  // namespace kestra
