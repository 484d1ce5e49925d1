// A small text picture of a rectangular signal, a few periods wide:
//
//    ____            ____            ____
//   |    |__________|    |__________|    |__________   25 % high, period 10 ms
#pragma once

#include <string>
#include <vector>

namespace qio::tool {

struct WaveformPicture {
  std::vector<std::string> rows;  // two rows of equal width
};

// `periods` periods of `columns` characters each; the high part takes its
// share of the period (at least one column, and at least one column low).
WaveformPicture RenderWaveform(double hz, double highSeconds, int periods = 3, int columns = 16);
// A signal at a constant level.
WaveformPicture RenderLevel(int level, int width = 48);

// The picture with a label in front of each row:
// "  OUT1  " on the lower row, spaces on the upper.
std::vector<std::string> LabelWaveform(const WaveformPicture& picture, const std::string& label,
                                       const std::string& note);

}  // namespace qio::tool
