// The board model behind a QioSimBoard: created, plugged and unplugged by
// target_boards.cpp, driven by the qio_sim_* functions (board_model.cpp).
// Internal to libqio5162target.
#pragma once

#include <cstdint>
#include <memory>
#include <string>


struct QioSimBoard;

namespace qio::sim {
class Board;
}

namespace qio::target {

// A new board for the base and line, not yet on the bus; null with *why when
// no board can be made.
std::shared_ptr<QioSimBoard> CreateBoardModel(std::uint16_t ioBase, unsigned irq, std::string* why);
// Maps the board's window on the port bus; false when the ports are taken.
bool AttachBoardModel(QioSimBoard& board);
// Unmaps it; returns once no bus access to the board is running.
void DetachBoardModel(QioSimBoard& board);
std::uint16_t BoardBase(const QioSimBoard& board);
qio::sim::Board& BoardModel(QioSimBoard& board);

// The board if it is plugged in the running target, else null.
std::shared_ptr<QioSimBoard> FindLiveBoard(const QioSimBoard* board);

}  // namespace qio::target
