// MediaReader on FFmpeg's libraries. One thread (the player's) demuxes and
// decodes; the device's thread only takes decoded sound out of SoundQueue.
#include "media.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "options.h"

namespace kplay {

namespace {

constexpr double kMaxStep = 10.0;    // longest gap between two frames taken as the file states it
constexpr double kMaxLead = 2.0;     // longest head start of one stream over the other
constexpr double kSoundAhead = 0.5;  // decoded sound kept waiting for the device
// Pictures read past while sound is decoded ahead wait here, up to this many
// bytes; a file whose sound lies further away plays with gaps instead.
constexpr size_t kMaxQueuedPackets = size_t(8) << 20;
constexpr size_t kMaxQueuedSound = size_t(4) << 20;
constexpr int kMinRate = 8000, kMaxRate = 192000;
constexpr int kMaxDecodeErrors = 1000;  // in a row, before a stream counts as ended
// A decoder checks its frames' width rounded up to its row alignment (at most
// 64) against max_pixels, so the player's own limit goes to it with that slack
// and the exact one is checked on the picture itself.
constexpr int64_t kDecoderMaxPixels = kMaxFrameArea + int64_t(64) * kMaxMediaSide;

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string TooLarge(int width, int height) {
    return "the picture is " + std::to_string(width) + "x" + std::to_string(height) +
           ", more than " + std::to_string(kMaxFrameArea) + " pixels";
}

// The library knows BT.601 and BT.709; any other matrix is shown with the
// nearer of the two by its luma weights (BT.2020's Kr 0.263 and Kb 0.059 lie
// nearer BT.709's 0.213 and 0.072 than BT.601's 0.299 and 0.114).
int NearestMatrix(AVColorSpace space, bool *exact) {
    *exact = space == AVCOL_SPC_BT709 || space == AVCOL_SPC_BT470BG || space == AVCOL_SPC_SMPTE170M;
    switch (space) {
        case AVCOL_SPC_BT709:
        case AVCOL_SPC_SMPTE240M:
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
        case AVCOL_SPC_CHROMA_DERIVED_NCL:
        case AVCOL_SPC_CHROMA_DERIVED_CL:
        case AVCOL_SPC_ICTCP:
            return 1;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
        case AVCOL_SPC_FCC:
        case AVCOL_SPC_YCGCO:
            return 0;
        default:
            return -1;  // unspecified or reserved: the player's auto rule decides
    }
}

bool IsJpegFormat(int format) {
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
           format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
           format == AV_PIX_FMT_YUVJ411P;
}

// swscale reads the yuvj formats as a range conversion; the range is set apart.
AVPixelFormat WithoutJpeg(AVPixelFormat format) {
    switch (format) {
        case AV_PIX_FMT_YUVJ420P:
            return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P:
            return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P:
            return AV_PIX_FMT_YUV444P;
        case AV_PIX_FMT_YUVJ440P:
            return AV_PIX_FMT_YUV440P;
        case AV_PIX_FMT_YUVJ411P:
            return AV_PIX_FMT_YUV411P;
        default:
            return format;
    }
}

// RGB pictures become YV12 through swscale's default: BT.601 studio range.
bool IsRgbFormat(int format) {
    const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    return d && (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) != 0;
}

// Decoded sound between the player's thread and the device's: silence owed
// at the start, then samples, dropped past the cap.
class SoundQueue {
public:
    void Push(const uint8_t *data, size_t size) {
        std::lock_guard<std::mutex> guard(mutex_);
        size = std::min(size, kMaxQueuedSound - std::min(kMaxQueuedSound, bytes_.size()));
        bytes_.insert(bytes_.end(), data, data + size);
    }
    void PushSilence(size_t size) {
        std::lock_guard<std::mutex> guard(mutex_);
        silence_ += size;
    }
    size_t Take(uint8_t *dst, size_t size) {
        std::lock_guard<std::mutex> guard(mutex_);
        const size_t quiet = std::min(size, silence_);
        std::memset(dst, 0, quiet);
        silence_ -= quiet;
        const size_t n = std::min(size - quiet, bytes_.size());
        std::copy_n(bytes_.begin(), n, dst + quiet);
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
        return quiet + n;
    }
    size_t Queued() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return silence_ + bytes_.size();
    }

private:
    mutable std::mutex mutex_;
    std::deque<uint8_t> bytes_;
    size_t silence_ = 0;
};

struct PacketFree {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

}  // namespace

struct MediaReader::Impl {
    ~Impl();
    bool Open(const std::string &path, bool wantSound);
    bool Fail(const std::string &reason);
    bool FindStreams(bool wantSound);
    AVCodecContext *OpenDecoder(int index, std::string *reason);
    bool OpenPicture();
    void OpenSound();
    bool DescribePicture();
    void StartTimeline();
    bool ReadPacket();
    PacketPtr NextPicturePacket();
    bool DecodePicture();
    void DecodeSound(const AVPacket *packet);
    void PushSound(const AVFrame *sound);
    bool ConfigureResampler(const AVFrame *sound);
    void DrainSound();
    bool ToYv12(const AVFrame *picture, YuvFrame *out);
    bool Scale(const AVFrame *picture, YuvFrame *out);
    double RawTime(const AVFrame *frame, int index) const;
    double NextTime(const AVFrame *picture);
    bool ReadFrame(YuvFrame *frame, double *time);
    void FeedSound();

    std::string path;
    MediaInfo info;
    std::string error;
    AVFormatContext *format = nullptr;
    int pictureIndex = -1, soundIndex = -1;
    AVCodecContext *pictureCodec = nullptr, *soundCodec = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *picture = nullptr;  // the latest decoded picture
    AVFrame *sound = nullptr;
    bool pending = false;  // `picture` holds the first frame, not yet handed out
    std::deque<PacketPtr> picturePackets;
    size_t pictureBytes = 0;
    bool demuxEnded = false, pictureDrained = false;
    bool pictureEnded = false;  // no picture packet is kept after this
    std::string endReason;      // why demuxing stopped before the end of the file

    SwsContext *scaler = nullptr;
    int scalerWidth = 0, scalerHeight = 0, scalerFormat = -1;
    uint8_t *scratch[4] = {};
    int scratchStride[4] = {};

    SwrContext *resampler = nullptr;
    int resamplerFormat = -1, resamplerRate = 0;
    AVChannelLayout resamplerLayout = {};
    std::vector<uint8_t> pcm;
    SoundQueue queue;
    size_t blockAlign = 0;

    // Playback times: one continuous line from the earlier stream's start.
    double origin = 0;
    double firstPicture = NAN, firstSound = NAN;
    double lastRaw = 0, lastTime = 0;
    bool timed = false;  // a picture has been given a time
};

MediaReader::Impl::~Impl() {
    av_freep(&scratch[0]);
    sws_freeContext(scaler);
    swr_free(&resampler);
    av_channel_layout_uninit(&resamplerLayout);
    av_frame_free(&picture);
    av_frame_free(&sound);
    av_packet_free(&packet);
    avcodec_free_context(&pictureCodec);
    avcodec_free_context(&soundCodec);
    avformat_close_input(&format);
}

bool MediaReader::Impl::Fail(const std::string &reason) {
    error = path + ": " + reason;
    return false;
}

bool MediaReader::Impl::Open(const std::string &p, bool wantSound) {
    path = p;
    // FFmpeg's own messages would break the one line a bad file ends with.
    av_log_set_level(AV_LOG_QUIET);
    packet = av_packet_alloc();
    picture = av_frame_alloc();
    sound = av_frame_alloc();
    if (!packet || !picture || !sound) return Fail("out of memory");
    // Local files only: a playlist inside a file must not reach the network.
    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    int r = avformat_open_input(&format, ("file:" + path).c_str(), nullptr, &options);
    av_dict_free(&options);
    if (r < 0) return Fail(ErrorText(r));
    if (!FindStreams(wantSound)) return false;
    if (pictureIndex >= 0 && !OpenPicture()) return false;
    if (soundIndex >= 0) OpenSound();
    if (!info.hasPicture && !info.hasSound)
        return Fail(info.soundNote.empty() ? "nothing to play" : info.soundNote);
    if (info.hasPicture && !DescribePicture()) return false;
    FeedSound();
    StartTimeline();
    return true;
}

bool MediaReader::Impl::FindStreams(bool wantSound) {
    // Probing decodes a few frames: no picture past the player's area limit.
    std::vector<AVDictionary *> probe(format->nb_streams, nullptr);
    for (AVDictionary *&d : probe) av_dict_set_int(&d, "max_pixels", kDecoderMaxPixels, 0);
    const int r = avformat_find_stream_info(format, probe.empty() ? nullptr : probe.data());
    for (AVDictionary *&d : probe) av_dict_free(&d);
    if (r < 0) return Fail(ErrorText(r));
    pictureIndex = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    // Cover art is one still, not a picture stream.
    if (pictureIndex >= 0 &&
        (format->streams[pictureIndex]->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0)
        pictureIndex = -1;
    if (wantSound)
        soundIndex = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, pictureIndex, nullptr, 0);
    if (pictureIndex < 0 && soundIndex < 0)
        return Fail(wantSound ? "no picture or sound stream" : "no picture stream");
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (int(i) != pictureIndex && int(i) != soundIndex)
            format->streams[i]->discard = AVDISCARD_ALL;
    return true;
}

AVCodecContext *MediaReader::Impl::OpenDecoder(int index, std::string *reason) {
    const AVStream *stream = format->streams[index];
    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    const std::string name = avcodec_get_name(stream->codecpar->codec_id);
    if (!codec) {
        *reason = "no decoder for its " + name + " stream";
        return nullptr;
    }
    AVCodecContext *c = avcodec_alloc_context3(codec);
    int r = c ? avcodec_parameters_to_context(c, stream->codecpar) : AVERROR(ENOMEM);
    if (r >= 0) {
        c->pkt_timebase = stream->time_base;
        c->max_pixels = kDecoderMaxPixels;
        c->thread_count = 0;  // as many as the machine has
        r = avcodec_open2(c, codec, nullptr);
    }
    if (r >= 0) return c;
    *reason = "cannot decode its " + name + " stream: " + ErrorText(r);
    avcodec_free_context(&c);
    return nullptr;
}

bool MediaReader::Impl::OpenPicture() {
    const AVCodecParameters *par = format->streams[pictureIndex]->codecpar;
    if (par->width > kMaxMediaSide || par->height > kMaxMediaSide)
        return Fail("the picture is " + std::to_string(par->width) + "x" +
                    std::to_string(par->height) + ", larger than " + std::to_string(kMaxMediaSide) +
                    " on a side");
    if (int64_t(par->width) * par->height > kMaxFrameArea)
        return Fail(TooLarge(par->width, par->height));
    std::string reason;
    pictureCodec = OpenDecoder(pictureIndex, &reason);
    if (!pictureCodec) return Fail(reason);
    info.hasPicture = true;
    return true;
}

// Sound that cannot play leaves the picture to play alone, with a note.
void MediaReader::Impl::OpenSound() {
    const AVCodecParameters *par = format->streams[soundIndex]->codecpar;
    const int rate = par->sample_rate;
    if (rate < kMinRate || rate > kMaxRate) {
        info.soundNote = "its sound at " + std::to_string(rate) + " Hz is not played";
        return;
    }
    soundCodec = OpenDecoder(soundIndex, &info.soundNote);
    if (!soundCodec) return;
    info.hasSound = true;
    info.sampleRate = rate;
    info.channels = par->ch_layout.nb_channels == 1 ? 1 : 2;
    blockAlign = static_cast<size_t>(info.channels) * 2;
}

// Size, shape and colours from the first picture, which must decode.
bool MediaReader::Impl::DescribePicture() {
    if (!DecodePicture())
        return Fail("no picture could be decoded" + (endReason.empty() ? "" : ": " + endReason));
    pending = true;
    const int w = picture->width, h = picture->height;
    if (w < 2 || h < 2 || w > kMaxMediaSide || h > kMaxMediaSide)
        return Fail("unsupported picture size " + std::to_string(w) + "x" + std::to_string(h));
    if (int64_t(w) * h > kMaxFrameArea) return Fail(TooLarge(w, h));
    info.width = w;
    info.height = h;
    AVStream *stream = format->streams[pictureIndex];
    const AVRational sar = av_guess_sample_aspect_ratio(format, stream, picture);
    double aspect = sar.num > 0 && sar.den > 0 ? av_q2d(sar) : 1.0;
    if (!(aspect >= 0.25 && aspect <= 4.0)) aspect = 1.0;
    info.displayWidth = std::min<int>(kMaxMediaSide, std::max(1L, std::lround(w * aspect)));
    info.displayHeight = h;
    const AVRational rate = stream->avg_frame_rate;
    const double period = rate.num > 0 && rate.den > 0 ? av_q2d(av_inv_q(rate)) : 0.0;
    if (period >= 0.001 && period <= kMaxStep) info.frameDuration = period;
    if (stream->nb_frames > 0)
        info.estimatedFrames = stream->nb_frames;
    else if (format->duration > 0)
        info.estimatedFrames =
            std::llround(double(format->duration) / AV_TIME_BASE / info.frameDuration);
    bool exact = false;
    if (IsRgbFormat(picture->format)) {
        info.matrix = info.range = 0;
        info.colourNote = "rgb as bt601";
    } else {
        info.matrix = NearestMatrix(picture->colorspace, &exact);
        if (info.matrix >= 0 && !exact)
            info.colourNote = std::string(av_color_space_name(picture->colorspace)) + " as " +
                              kMatrixNames[info.matrix];
        info.range = picture->color_range == AVCOL_RANGE_JPEG   ? 1
                     : picture->color_range == AVCOL_RANGE_MPEG ? 0
                     : IsJpegFormat(picture->format)            ? 1
                                                                : -1;
    }
    return true;
}

// NAN for a frame without a usable time (a damaged time base counts as none).
double MediaReader::Impl::RawTime(const AVFrame *frame, int index) const {
    if (frame->best_effort_timestamp == AV_NOPTS_VALUE) return NAN;
    const double t =
        double(frame->best_effort_timestamp) * av_q2d(format->streams[index]->time_base);
    return std::isfinite(t) ? t : NAN;
}

// Both streams start on one line from the earlier of their first times; the
// later one waits, by at most kMaxLead (sound waits as silence).
void MediaReader::Impl::StartTimeline() {
    if (pending) firstPicture = RawTime(picture, pictureIndex);
    if (std::isnan(firstPicture) && std::isnan(firstSound)) return;
    origin = std::isnan(firstPicture) ? firstSound
             : std::isnan(firstSound) ? firstPicture
                                      : std::min(firstPicture, firstSound);
    if (std::isnan(firstSound)) return;
    const double wait = std::min(firstSound - origin, kMaxLead);
    queue.PushSilence(static_cast<size_t>(wait * info.sampleRate) * blockAlign);
}

// One continuous line however the file's times jump: a step back, a repeat
// or a gap past kMaxStep counts as one nominal frame.
double MediaReader::Impl::NextTime(const AVFrame *frame) {
    double raw = RawTime(frame, pictureIndex);
    if (std::isnan(raw)) raw = lastRaw + info.frameDuration;
    if (!timed) {
        lastTime = std::isnan(firstPicture) ? 0.0 : std::clamp(raw - origin, 0.0, kMaxLead);
        timed = true;
    } else {
        const double step = raw - lastRaw;
        lastTime += step > 0 && step <= kMaxStep ? step : info.frameDuration;
    }
    lastRaw = raw;
    return lastTime;
}

// Reads one packet: pictures wait in their queue, sound is decoded at once.
// False at the end of the file or the first error, which ends it too.
bool MediaReader::Impl::ReadPacket() {
    if (demuxEnded) return false;
    const int r = av_read_frame(format, packet);
    if (r < 0) {
        demuxEnded = true;
        if (r != AVERROR_EOF) endReason = ErrorText(r);
        DrainSound();
        return false;
    }
    if (packet->stream_index == pictureIndex && pictureCodec && !pictureEnded) {
        PacketPtr queued(av_packet_alloc());
        if (queued) {
            av_packet_move_ref(queued.get(), packet);
            pictureBytes += static_cast<size_t>(queued->size);
            picturePackets.push_back(std::move(queued));
        }
    } else if (packet->stream_index == soundIndex && soundCodec) {
        DecodeSound(packet);
    }
    av_packet_unref(packet);
    return true;
}

PacketPtr MediaReader::Impl::NextPicturePacket() {
    while (picturePackets.empty() && ReadPacket()) {
    }
    if (picturePackets.empty()) return nullptr;
    PacketPtr p = std::move(picturePackets.front());
    picturePackets.pop_front();
    pictureBytes -= static_cast<size_t>(p->size);
    return p;
}

// A packet the decoder refuses is skipped; the stream ends at the file's end
// or after kMaxDecodeErrors failures in a row.
bool MediaReader::Impl::DecodePicture() {
    for (int errors = 0; errors < kMaxDecodeErrors;) {
        int r = avcodec_receive_frame(pictureCodec, picture);
        if (r == 0) return true;
        if (r == AVERROR_EOF) break;
        if (r != AVERROR(EAGAIN)) ++errors;
        PacketPtr p = NextPicturePacket();
        if (!p) {
            if (pictureDrained) break;
            pictureDrained = true;  // hands over the frames the decoder still holds
            avcodec_send_packet(pictureCodec, nullptr);
            continue;
        }
        r = avcodec_send_packet(pictureCodec, p.get());
        errors = r < 0 ? errors + 1 : 0;
    }
    // The sound may go on: packets of a picture that ended must not pile up.
    pictureEnded = true;
    picturePackets.clear();
    pictureBytes = 0;
    return false;
}

void MediaReader::Impl::DecodeSound(const AVPacket *p) {
    // A refused packet is skipped; null drains the decoder at the end.
    if (avcodec_send_packet(soundCodec, p) < 0 && p) return;
    while (avcodec_receive_frame(soundCodec, sound) == 0) {
        PushSound(sound);
        av_frame_unref(sound);
    }
}

// The resampler follows the decoded frames: a stream may change its format,
// rate or channels on the way.
bool MediaReader::Impl::ConfigureResampler(const AVFrame *s) {
    if (resampler && s->format == resamplerFormat && s->sample_rate == resamplerRate &&
        av_channel_layout_compare(&s->ch_layout, &resamplerLayout) == 0)
        return true;
    swr_free(&resampler);
    av_channel_layout_uninit(&resamplerLayout);
    AVChannelLayout in = {};
    if (s->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&in, s->ch_layout.nb_channels);
    else if (av_channel_layout_copy(&in, &s->ch_layout) < 0)
        return false;
    AVChannelLayout out = {};
    av_channel_layout_default(&out, info.channels);
    // More than two channels mix down with swresample's default matrix.
    int r = swr_alloc_set_opts2(&resampler, &out, AV_SAMPLE_FMT_S16, info.sampleRate, &in,
                                static_cast<AVSampleFormat>(s->format), s->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    if (r < 0 || swr_init(resampler) < 0) {
        swr_free(&resampler);
        return false;
    }
    resamplerFormat = s->format;
    resamplerRate = s->sample_rate;
    return av_channel_layout_copy(&resamplerLayout, &s->ch_layout) >= 0;
}

void MediaReader::Impl::PushSound(const AVFrame *s) {
    const bool sane = s->sample_rate >= kMinRate && s->sample_rate <= kMaxRate &&
                      s->ch_layout.nb_channels > 0 && s->nb_samples > 0 &&
                      s->format > AV_SAMPLE_FMT_NONE && s->format < AV_SAMPLE_FMT_NB;
    if (!sane || !ConfigureResampler(s)) return;
    if (std::isnan(firstSound)) {
        firstSound = RawTime(s, soundIndex);
        if (std::isnan(firstSound)) firstSound = 0;
    }
    const int room = swr_get_out_samples(resampler, s->nb_samples);
    if (room <= 0) return;
    pcm.resize(static_cast<size_t>(room) * blockAlign);
    uint8_t *dst = pcm.data();
    const int got = swr_convert(resampler, &dst, room,
                                const_cast<const uint8_t **>(s->extended_data), s->nb_samples);
    if (got > 0) queue.Push(pcm.data(), static_cast<size_t>(got) * blockAlign);
}

// The decoder's and the resampler's last samples, at the end of the file.
void MediaReader::Impl::DrainSound() {
    if (!soundCodec) return;
    DecodeSound(nullptr);
    if (!resampler) return;
    const int room = swr_get_out_samples(resampler, 0);
    if (room <= 0) return;
    pcm.resize(static_cast<size_t>(room) * blockAlign);
    uint8_t *dst = pcm.data();
    const int got = swr_convert(resampler, &dst, room, nullptr, 0);
    if (got > 0) queue.Push(pcm.data(), static_cast<size_t>(got) * blockAlign);
}

void MediaReader::Impl::FeedSound() {
    if (!soundCodec) return;
    const size_t want = static_cast<size_t>(kSoundAhead * info.sampleRate) * blockAlign;
    while (queue.Queued() < want && pictureBytes < kMaxQueuedPackets && ReadPacket()) {
    }
}

// Planar 4:2:0 in 8 bits is copied; anything else goes through swscale, at
// the first picture's size, keeping its YUV values in their own range.
bool MediaReader::Impl::ToYv12(const AVFrame *p, YuvFrame *out) {
    if (out->width != info.width || out->height != info.height)
        out->Allocate(info.width, info.height);
    const bool direct = p->width == info.width && p->height == info.height &&
                        (p->format == AV_PIX_FMT_YUV420P || p->format == AV_PIX_FMT_YUVJ420P);
    if (!direct && !Scale(p, out)) return false;
    const uint8_t *const *planes = direct ? p->data : scratch;
    const int *strides = direct ? p->linesize : scratchStride;
    uint8_t *dst[3] = {out->Y(), out->U(), out->V()};
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane == 0 ? out->width : out->UvStride();
        const int h = plane == 0 ? out->height : out->height / 2;
        for (int y = 0; y < h; ++y)
            std::memcpy(dst[plane] + static_cast<size_t>(y) * w,
                        planes[plane] + static_cast<std::ptrdiff_t>(y) * strides[plane],
                        static_cast<size_t>(w));
    }
    return true;
}

bool MediaReader::Impl::Scale(const AVFrame *p, YuvFrame *out) {
    if (!av_pix_fmt_desc_get(static_cast<AVPixelFormat>(p->format))) return false;
    if (!scaler || p->width != scalerWidth || p->height != scalerHeight ||
        p->format != scalerFormat) {
        sws_freeContext(scaler);
        const AVPixelFormat from = WithoutJpeg(static_cast<AVPixelFormat>(p->format));
        scaler =
            sws_getContext(p->width, p->height, from, out->width, out->height, AV_PIX_FMT_YUV420P,
                           SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
        if (!scaler) return false;
        // Equal ranges: YUV values pass in their own range; RGB comes out studio.
        const int *table = sws_getCoefficients(SWS_CS_DEFAULT);
        const int range = IsRgbFormat(p->format) ? 1 : 0;
        sws_setColorspaceDetails(scaler, table, range, table, 0, 0, 1 << 16, 1 << 16);
        scalerWidth = p->width;
        scalerHeight = p->height;
        scalerFormat = p->format;
    }
    if (!scratch[0] && av_image_alloc(scratch, scratchStride, out->width, out->height,
                                      AV_PIX_FMT_YUV420P, 32) < 0) {
        scratch[0] = nullptr;
        return false;
    }
    return sws_scale(scaler, p->data, p->linesize, 0, p->height, scratch, scratchStride) > 0;
}

bool MediaReader::Impl::ReadFrame(YuvFrame *frame, double *time) {
    if (!pictureCodec) return false;
    while (pending || DecodePicture()) {
        pending = false;
        const double t = NextTime(picture);
        const bool ok = ToYv12(picture, frame);
        av_frame_unref(picture);
        if (!ok) continue;  // a picture swscale cannot take is skipped
        *time = t;
        return true;
    }
    return false;
}

bool MediaReader::Available() { return true; }

MediaReader::MediaReader() : impl_(new Impl) {}
MediaReader::~MediaReader() = default;

bool MediaReader::Open(const std::string &path, bool wantSound) {
    return impl_->Open(path, wantSound);
}
const MediaInfo &MediaReader::info() const { return impl_->info; }
const std::string &MediaReader::error() const { return impl_->error; }
bool MediaReader::ReadFrame(YuvFrame *frame, double *time) { return impl_->ReadFrame(frame, time); }
void MediaReader::FeedSound() { impl_->FeedSound(); }
size_t MediaReader::TakeSound(uint8_t *dst, size_t size) {
    size -= size % std::max<size_t>(1, impl_->blockAlign);
    return impl_->queue.Take(dst, size);
}
bool MediaReader::SoundFinished() const {
    return !impl_->soundCodec || (impl_->demuxEnded && impl_->queue.Queued() == 0);
}

}  // namespace kplay
