#include "colour_map.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace vurma::display {

std::uint32_t SpectrogramColour(double db, double floorDb, double topDb) {
    // Samples of a perceptual map whose lightness rises monotonically.
    static constexpr std::uint8_t kStops[][3] = {{0, 0, 4},      {31, 12, 72},   {85, 15, 109},
                                                 {136, 34, 106}, {186, 54, 85},  {227, 89, 51},
                                                 {249, 140, 10}, {249, 201, 50}, {252, 255, 164}};
    constexpr int kLast = static_cast<int>(std::size(kStops)) - 1;
    double t = topDb > floorDb ? (db - floorDb) / (topDb - floorDb) : 0.0;
    if (!(t > 0)) t = 0;  // NaN and -inf too
    if (t > 1) t = 1;
    const double x = t * kLast;
    const int i = std::min(static_cast<int>(x), kLast - 1);
    const double f = x - i;
    std::uint32_t rgb = 0;
    for (int ch = 0; ch < 3; ++ch) {
        const double v = kStops[i][ch] + f * (kStops[i + 1][ch] - kStops[i][ch]);
        rgb = (rgb << 8) | static_cast<std::uint32_t>(std::lround(v));
    }
    return rgb;
}

}  // namespace vurma::display
