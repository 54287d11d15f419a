#include "sensor/fir_coefficients.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace orvane {
namespace {

// Gain at f (in units of the sample rate), in dB. The taps are symmetric about tap 59, so the
// response is real once the delay of 59 samples is taken out.
double gainDb(double f) {
    double sum = 0.0;
    for (int i = 0; i < kFirTaps; ++i)
        sum += firCoefficients[i] * std::cos(2.0 * std::numbers::pi * f * (i - 59));
    return 20.0 * std::log10(std::fabs(sum));
}

TEST(FirCoefficients, SymmetricAndSumToTheDcGain) {
    double sum = 0.0;
    for (int i = 0; i < kFirTaps; ++i) {
        EXPECT_EQ(firCoefficients[i], firCoefficients[kFirTaps - 1 - i]) << i;
        sum += firCoefficients[i];
    }
    EXPECT_NEAR(sum, 1.000012789975, 1e-12);
    EXPECT_EQ(firCoefficients[0], -0.001386929009);
    EXPECT_EQ(firCoefficients[59], 0.030101665693);
}

TEST(FirCoefficients, PassBandGains) {
    struct Case {
        double f, db;
    };
    const Case cases[] = {
        {0.0, 20.0 * std::log10(1.0000128)},
        {0.006, -0.25},
        {0.0125, -3.2},
        {0.015, -5.9},
        {0.02, -15.6},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(gainDb(c.f), c.db, 0.05) << "f = " << c.f;
}

TEST(FirCoefficients, PassBandIsMonotone) {
    double previous = gainDb(0.0);
    for (double f = 0.0005; f <= 0.024; f += 0.0005) {
        const double g = gainDb(f);
        EXPECT_LT(g, previous) << "f = " << f;
        previous = g;
    }
}

// Equal ripple: every peak from 0.028 fs up to half the sample rate is close to -53 dB.
TEST(FirCoefficients, StopBandPeaksNearMinus53Db) {
    const double step = 0.00005;
    double before = gainDb(0.028 - step), here = gainDb(0.028);
    int peaks = 0;
    double highest = here, lowestPeak = 0.0;
    for (double f = 0.028 + step; f <= 0.5; f += step) {
        const double after = gainDb(f);
        highest = std::max(highest, after);
        if (here >= before && here >= after) {
            ++peaks;
            lowestPeak = std::min(lowestPeak, here);
        }
        before = here;
        here = after;
    }
    EXPECT_GT(peaks, 40);
    EXPECT_LT(highest, -52.5);
    EXPECT_GT(lowestPeak, -53.5);
}

} // namespace
} // namespace orvane
