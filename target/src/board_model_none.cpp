// The target built without the board model: no board is ever plugged, and
// the qio_sim_* functions refuse every board argument.
#include "board_model.h"

#include "hosted_target.h"

struct QioSimBoard {
  std::uint16_t ioBase = 0;
};

namespace qio::target {

std::shared_ptr<QioSimBoard> CreateBoardModel(std::uint16_t, unsigned, std::string* why) {
  *why = "the board model is not part of this build";
  return nullptr;
}
bool AttachBoardModel(QioSimBoard&) { return false; }
void DetachBoardModel(QioSimBoard&) {}
std::uint16_t BoardBase(const QioSimBoard& board) { return board.ioBase; }

}  // namespace qio::target

using namespace qio::target;

namespace {

int NoBoard(const char* function) {
  return Result(QIO_TARGET_E_ARGUMENT, std::string(function) + ": no such board (this build has no board model)");
}

}  // namespace

extern "C" {

int qio_sim_set_counter_input(QioSimBoard*, unsigned, double, double) { return NoBoard(__func__); }
int qio_sim_set_counter_input_ex(QioSimBoard*, unsigned, double, double, double) { return NoBoard(__func__); }
int qio_sim_set_counter_level(QioSimBoard*, unsigned, int) { return NoBoard(__func__); }
int qio_sim_wire_counter_input(QioSimBoard*, unsigned, unsigned) { return NoBoard(__func__); }
int qio_sim_set_di(QioSimBoard*, unsigned, uint8_t) { return NoBoard(__func__); }
int qio_sim_set_di_square(QioSimBoard*, unsigned, double) { return NoBoard(__func__); }
int qio_sim_set_loopback(QioSimBoard*, int, unsigned) { return NoBoard(__func__); }
int qio_sim_get_pins(QioSimBoard*, unsigned, uint8_t*) { return NoBoard(__func__); }
int qio_sim_get_output(QioSimBoard*, unsigned, double*, double*) { return NoBoard(__func__); }
int qio_sim_get_output_level(QioSimBoard*, unsigned, int*) { return NoBoard(__func__); }
int qio_sim_get_freqout(QioSimBoard*, unsigned, double*) { return NoBoard(__func__); }
int qio_sim_trace_enable(QioSimBoard*, int) { return NoBoard(__func__); }
int qio_sim_trace_read(QioSimBoard*, QioPortAccess*, size_t, size_t* count) {
  if (count != nullptr) *count = 0;
  return NoBoard(__func__);
}

}  // extern "C"
