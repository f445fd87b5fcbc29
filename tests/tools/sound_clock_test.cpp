// kestra-play's clock from the library's count of frames heard.
#include <gtest/gtest.h>

#include "sound_clock.h"

namespace {

// 48 kHz, counter at 10 MHz: 4800 frames were heard at tick 1,000,000, and
// 9600 had been handed over.
TEST(SoundClock, CarriesTheCountOnButNotPastWhatWasHandedOver) {
    struct Case {
        int64_t now;
        double seconds;
    } const cases[] = {
        {1000000, 0.1},    // at the count's own moment
        {1250000, 0.125},  // 25 ms on
        {900000, 0.1},     // a reading taken before the count adds nothing
        {3000000, 0.2},    // the device stalled: only what was handed over
    };
    for (const Case &c : cases)
        EXPECT_DOUBLE_EQ(c.seconds,
                         kplay::HeardSeconds(4800, 1000000, c.now, 10000000, 48000, 9600))
            << "now " << c.now;
}

}  // namespace
