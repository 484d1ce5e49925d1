#include "Waveform.h"

#include <algorithm>
#include <cmath>

namespace qio::tool {

WaveformPicture RenderWaveform(double hz, double highSeconds, int periods, int columns) {
  if (!(hz > 0) || !(highSeconds > 0)) return RenderLevel(0, periods * columns);
  columns = std::max(columns, 4);
  const double duty = std::clamp(highSeconds * hz, 0.0, 1.0);
  // Each period is: rising edge, high part, falling edge, low part.
  const int body = columns - 2;
  int high = static_cast<int>(std::lround(duty * body));
  high = std::clamp(high, 1, body - 1);
  const int low = body - high;
  WaveformPicture picture;
  std::string top;
  std::string bottom;
  for (int p = 0; p < periods; ++p) {
    top += ' ' + std::string(static_cast<std::size_t>(high), '_') + ' ' + std::string(static_cast<std::size_t>(low), ' ');
    bottom += '|' + std::string(static_cast<std::size_t>(high), ' ') + '|' +
              std::string(static_cast<std::size_t>(low), '_');
  }
  picture.rows = {top, bottom};
  return picture;
}

WaveformPicture RenderLevel(int level, int width) {
  WaveformPicture picture;
  const std::size_t w = static_cast<std::size_t>(std::max(width, 1));
  if (level != 0) {
    picture.rows = {std::string(w, '_'), std::string(w, ' ')};
  } else {
    picture.rows = {std::string(w, ' '), std::string(w, '_')};
  }
  return picture;
}

std::vector<std::string> LabelWaveform(const WaveformPicture& picture, const std::string& label,
                                       const std::string& note) {
  std::vector<std::string> lines;
  const std::size_t pad = label.size() + 4;
  for (std::size_t i = 0; i < picture.rows.size(); ++i) {
    std::string line = i + 1 == picture.rows.size() ? "  " + label + "  " : std::string(pad, ' ');
    line += picture.rows[i];
    if (i + 1 == picture.rows.size() && !note.empty()) line += "   " + note;
    // keep trailing blanks out of the upper rows
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

}  // namespace qio::tool
