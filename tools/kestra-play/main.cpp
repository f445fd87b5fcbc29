// kestra-play: plays a video file (through FFmpeg's libraries where the
// build has them), a YUV4MPEG2 clip and a WAV file, or a built-in test clip
// and tone, through libkestra.
#include <cstdio>
#include <string>

#include "media.h"
#include "options.h"
#include "player.h"

namespace {

#ifdef _WIN32
constexpr bool kStandIn = false;
#else
constexpr bool kStandIn = true;
#endif

}  // namespace

int main(int argc, char **argv) {
    kplay::Options options;
    std::string error;
    switch (kplay::ParseOptions(argc, argv, kStandIn, &options, &error)) {
        case kplay::ParseResult::Help:
            std::fputs(kplay::UsageText(kStandIn, kplay::MediaReader::Available()), stdout);
            return 0;
        case kplay::ParseResult::Error:
            std::fprintf(stderr, "kestra-play: %s\n", error.c_str());
            return 2;
        case kplay::ParseResult::Run:
            break;
    }
    int result = 0;
    {
        kplay::Player player(options);
        result = player.Run(&error);
    }
    if (result != 0) std::fprintf(stderr, "kestra-play: %s\n", error.c_str());
    return result;
}
