// Bitmap 155 of the Device page: a 205 x 198 pixel, 24-bit colour picture of
// the board, drawn rather than stored.
#pragma once

#include <QPixmap>

namespace qio::config::qt {

inline constexpr int kBoardPictureWidth = 205;
inline constexpr int kBoardPictureHeight = 198;

QPixmap BoardPicture();

}  // namespace qio::config::qt
