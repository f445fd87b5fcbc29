// kestra-play built without FFmpeg's libraries: every clip goes to the Y4M
// reader and every sound file to the WAV reader.
#include "media.h"

namespace kplay {

struct MediaReader::Impl {
    MediaInfo info;
    std::string error = "this kestra-play was built without FFmpeg's libraries";
};

bool MediaReader::Available() { return false; }

MediaReader::MediaReader() : impl_(new Impl) {}
MediaReader::~MediaReader() = default;

bool MediaReader::Open(const std::string &, bool) { return false; }
const MediaInfo &MediaReader::info() const { return impl_->info; }
const std::string &MediaReader::error() const { return impl_->error; }
bool MediaReader::ReadFrame(YuvFrame *, double *) { return false; }
void MediaReader::FeedSound() {}
size_t MediaReader::TakeSound(uint8_t *, size_t) { return 0; }
bool MediaReader::SoundFinished() const { return true; }

}  // namespace kplay
