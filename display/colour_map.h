// The spectrogram's colour map. Toolkit-free; any thread.
#pragma once

#include <cstdint>

namespace vurma::display {

// Colour of a level between floorDb (darkest) and topDb (brightest):
// black through violet, red and orange to pale yellow, brightness rising
// throughout so that it also reads in grey. 0xRRGGBB.
std::uint32_t SpectrogramColour(double db, double floorDb, double topDb);

}  // namespace vurma::display
