/* A small test harness written against target.h and Zqs5162.h: it boots the
 * hosted target itself, drives the simulated board behind device 0 and
 * reads the result through the library. Exits 0 when every step gave what
 * the board should give. */
#include <stdio.h>
#include <string.h>

#include <qio5162/Zqs5162.h>
#include <qio5162/target.h>

static int failures = 0;

static void expect(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "FAILED: %s (%s)\n", what, qio_target_last_message());
    ++failures;
  }
}

int main(void) {
  QioTarget* target = NULL;
  expect(qio_target_boot(NULL, &target) == QIO_TARGET_OK, "qio_target_boot");
  if (target == NULL) return 1;

  QioSimBoard* board = NULL;
  expect(qio_target_board_of_device(target, 0, &board) == QIO_TARGET_OK && board != NULL,
         "qio_target_board_of_device(0)");
  expect(board == qio_target_board(target, 0x300), "device 0 is the board at 0x300");
  expect(qio_sim_set_di(board, 2, 0xA5) == QIO_TARGET_OK, "qio_sim_set_di");

  uint32_t h = 0;
  uint32_t r = DeviceOpen(0, &h);
  expect(r == ZQS_SUCCESS, "DeviceOpen(0)");
  uint8_t value = 0;
  r = DioReadPortByte(h, 2, &value);
  expect(r == ZQS_SUCCESS && value == 0xA5, "DioReadPortByte(C) sees the driven pins");
  r = CounterFreqStart(h, 1, 0, 0);
  expect(strcmp(qio_target_result_text(r), "port, port range or counter out of range") == 0,
         "qio_target_result_text of CounterFreqStart(1)");
  expect(strcmp(qio_target_result_text(0x1032), "counter busy") == 0, "qio_target_result_text(0x1032)");

  /* The driver's own view of the device, from driver_state.h beside target.h. */
  expect(CounterEventStart(h, 1, 0) == ZQS_SUCCESS, "CounterEventStart(1)");
  QioDriverState state;
  memset(&state, 0, sizeof state);
  state.size = sizeof state;
  expect(qio_target_driver_state(target, 0, &state) == QIO_TARGET_OK, "qio_target_driver_state(0)");
  expect(state.version == QIO_DRIVER_STATE_VERSION && state.size == sizeof state, "the state's version and size");
  expect(state.openCount == 1 && state.counters[1].function == QIO_FUNCTION_EVENT_COUNT &&
             state.counters[0].function == QIO_FUNCTION_IDLE,
         "the state shows the open device and counter 1 counting events");
  DeviceClose(&h);

  expect(qio_target_shutdown(target) == QIO_TARGET_OK, "qio_target_shutdown");
  if (failures == 0) printf("qio5162 harness application: all steps passed\n");
  return failures == 0 ? 0 : 1;
}
