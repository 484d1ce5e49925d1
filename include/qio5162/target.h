/* target.h: the hosted QIO-5162 target as a C API.
 *
 * Boots the whole target in this process (registry, device manager, the
 * Zqs5162s driver for each configured board, the board model on the port bus
 * and its interrupt line), lets tests, tools and language bindings drive the
 * simulated board's pins and read its outputs, and shuts everything down.
 *
 * Conventions: every function returning int returns 0 on success and a
 * nonzero code otherwise; qio_target_last_message() then gives a readable
 * reason (thread-local, valid until the next call on the same thread).
 * Only one target is booted at a time in a process. Functions accept NULL
 * for object arguments and fail cleanly. Thread-safe unless stated. */
#ifndef QIO5162_TARGET_H
#define QIO5162_TARGET_H

#include <stddef.h>
#include <stdint.h>

#include "driver_state.h"

#if defined(__GNUC__)
#define QIO_TARGET_API __attribute__((visibility("default")))
#else
#define QIO_TARGET_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct QioTarget QioTarget;
typedef struct QioStream QioStream;
typedef struct QioSimBoard QioSimBoard;

/* Error codes of this header. */
#define QIO_TARGET_OK 0
#define QIO_TARGET_E_ARGUMENT 1     /* a null or out-of-range argument */
#define QIO_TARGET_E_STATE 2        /* booted twice, or not booted */
#define QIO_TARGET_E_REGISTRY 3     /* malformed registry text */
#define QIO_TARGET_E_DEVICE 4       /* no such stream device, or the driver refused */
#define QIO_TARGET_E_SPACE 5        /* a buffer too small; *needed says how large */
#define QIO_TARGET_E_BUS 6          /* a port range already in use */
#define QIO_TARGET_E_FILE 7         /* a registry file that cannot be read */
#define QIO_TARGET_E_RESOURCE 8     /* out of memory, events, threads or registry space; nothing was changed */

/* Flags of qio_target_boot_ex. */
#define QIO_TARGET_BARE 0x1u        /* import only the base system keys, not the shipped board */
#define QIO_TARGET_NO_BOARDS 0x2u   /* plug no simulated board for the built-in keys */

/* Boots from the shipped default registry (one board at 0x300, IRQ 5), with
 * `registryText` (may be NULL) merged over it, as the image build merges a
 * component's script. */
QIO_TARGET_API int qio_target_boot(const char* registryText, QioTarget** target);
/* As qio_target_boot, with QIO_TARGET_* flags. With QIO_TARGET_BARE the text
 * replaces the shipped board (e.g. a script written by the plug-in). */
QIO_TARGET_API int qio_target_boot_ex(const char* registryText, unsigned flags, QioTarget** target);
/* As qio_target_boot_ex, from registry text given as `length` bytes at `data`
 * (NULL with length 0: no text). The bytes may be UTF-16LE after its
 * byte-order mark FF FE (regedit's own files), UTF-8 with or without a mark,
 * or 8-bit ANSI text (code page 1252, as in REGEDIT4 files); they may hold
 * NUL bytes. Under a "REGEDIT4" first line the bytes of hex(1), hex(2) and
 * hex(7) values are ANSI text as well, under "Windows Registry Editor Version
 * 5.00" (or none) UTF-16LE. */
QIO_TARGET_API int qio_target_boot_data(const void* data, size_t length, unsigned flags, QioTarget** target);
/* As qio_target_boot_data, from `count` registry files merged in this order,
 * each read on its own (its own encoding, header line and line numbers). A
 * file that cannot be read (missing, a directory, no permission) gives
 * QIO_TARGET_E_FILE, malformed text QIO_TARGET_E_REGISTRY; the message names
 * the file (and the line). Nothing is booted then. */
QIO_TARGET_API int qio_target_boot_files(const char* const* paths, size_t count, unsigned flags,
                                         QioTarget** target);
/* Stops every driver, unplugs the boards, joins every platform thread and
 * closes every handle. */
QIO_TARGET_API int qio_target_shutdown(QioTarget* target);
/* The target booted in this process, or NULL. */
QIO_TARGET_API QioTarget* qio_target_current(void);

/* Writes the registry as text (NUL-terminated) into buffer; *needed (may be
 * NULL) receives the size including the terminator. A NULL buffer or too
 * small a capacity gives QIO_TARGET_E_SPACE. The text is "Windows Registry
 * Editor Version 5.00" in UTF-8 (hex(2) and hex(7) bytes UTF-16LE); regedit
 * reads it losslessly once it is stored as UTF-16LE with its mark. */
QIO_TARGET_API int qio_target_export_registry(QioTarget* target, char* buffer, size_t capacity, size_t* needed);

/* What the device manager loaded at boot, one line per driver or failure,
 * NUL-terminated, same size rule as qio_target_export_registry. */
QIO_TARGET_API int qio_target_boot_report(QioTarget* target, char* buffer, size_t capacity, size_t* needed);

/* Stream devices by name ("Q621:"). */
QIO_TARGET_API int qio_target_device_open(QioTarget* target, const char* streamName, QioStream** stream);
/* Returns the driver's result (0 = FALSE); the thread's last error after the
 * request goes to *lastError (may be NULL), the bytes returned to
 * *bytesReturned (may be NULL). */
QIO_TARGET_API int qio_target_device_ioctl(QioStream* stream, uint32_t code, const void* in, uint32_t inLength,
                                           void* out, uint32_t outLength, uint32_t* bytesReturned,
                                           uint32_t* lastError);
QIO_TARGET_API int qio_target_device_close(QioStream* stream);

/* The calling thread's message. When it is empty (the last call succeeded)
 * and the virtual clock has made a report since this thread last read one
 * (see "virtual time" below), that report, once. */
QIO_TARGET_API const char* qio_target_last_message(void);

/* ---- the simulated board ---------------------------------------------- */

typedef struct {
  uint64_t timeNs; /* platform clock */
  uint16_t offset; /* from the board's I/O base */
  uint8_t width;   /* 1, 2 or 4 */
  uint8_t isWrite;
  uint32_t value;
} QioPortAccess;

/* The board plugged at ioBase, or NULL if none there. */
QIO_TARGET_API QioSimBoard* qio_target_board(QioTarget* target, uint16_t ioBase);
/* Plugs a board at a chosen base and IRQ line (e.g. after booting with
 * QIO_TARGET_NO_BOARDS). */
QIO_TARGET_API int qio_target_plug_board(QioTarget* target, uint16_t ioBase, unsigned irq, QioSimBoard** board);

/* CLK0/CLK1: a square wave of hz (duty in percent, 1 to 99); hz 0: held low. */
QIO_TARGET_API int qio_sim_set_counter_input(QioSimBoard* board, unsigned counter, double hz, double dutyPercent);
/* As above with a phase (0 to 1 of a period) at the moment of the call. */
QIO_TARGET_API int qio_sim_set_counter_input_ex(QioSimBoard* board, unsigned counter, double hz,
                                                double dutyPercent, double phase);
/* CLKn held at a constant level (0 or 1). */
QIO_TARGET_API int qio_sim_set_counter_level(QioSimBoard* board, unsigned counter, int level);
/* CLKn wired to another output pin: source 0/1 = OUT0/OUT1, 2/3 = FOUT0/FOUT1. */
#define QIO_SIM_WIRE_OUT0 0u
#define QIO_SIM_WIRE_OUT1 1u
#define QIO_SIM_WIRE_FOUT0 2u
#define QIO_SIM_WIRE_FOUT1 3u
QIO_TARGET_API int qio_sim_wire_counter_input(QioSimBoard* board, unsigned counter, unsigned source);

/* Drives the 8 DI pins of port 0..2 (A, B, C) at constant levels. */
QIO_TARGET_API int qio_sim_set_di(QioSimBoard* board, unsigned port, uint8_t levels);
/* A square wave (50 % duty) on DI channel 0..23; 0 stops it (the pin then holds its level). */
QIO_TARGET_API int qio_sim_set_di_square(QioSimBoard* board, unsigned channel, double hz);
/* Port `toPort`'s pins follow the output latch of port `fromPort` (loopback
 * wiring, pin for pin); fromPort -1 removes the wiring. */
QIO_TARGET_API int qio_sim_set_loopback(QioSimBoard* board, int fromPort, unsigned toPort);

/* What the connector shows on port 0..2: inputs as driven, outputs as latched. */
QIO_TARGET_API int qio_sim_get_pins(QioSimBoard* board, unsigned port, uint8_t* levels);
/* OUTn: frequency and high time when periodic; 0, 0 when not periodic. */
QIO_TARGET_API int qio_sim_get_output(QioSimBoard* board, unsigned counter, double* hz, double* highSeconds);
/* The present level of OUTn (0 or 1). */
QIO_TARGET_API int qio_sim_get_output_level(QioSimBoard* board, unsigned counter, int* level);
/* FOUTn: the generator's frequency, 0 when stopped. */
QIO_TARGET_API int qio_sim_get_freqout(QioSimBoard* board, unsigned generator, double* hz);

/* Register-access trace: switched on and off; read returns and clears what was
 * recorded, oldest first (at most capacity entries; *count the number given). */
QIO_TARGET_API int qio_sim_trace_enable(QioSimBoard* board, int on);
QIO_TARGET_API int qio_sim_trace_read(QioSimBoard* board, QioPortAccess* out, size_t capacity, size_t* count);

/* Raw bus access through the platform's port bus (width 1, 2 or 4). */
QIO_TARGET_API uint32_t qio_target_port_in(QioTarget* target, uint16_t port, unsigned width);
QIO_TARGET_API int qio_target_port_out(QioTarget* target, uint16_t port, unsigned width, uint32_t value);

/* ---- devices, result codes, pin changes ---------------------------------- */

/* The simulated board behind device number deviceNumber (0 to 254): the
 * board plugged at the base address the driver recorded for that device.
 * QIO_TARGET_E_DEVICE when the device number is not registered, or its board
 * is not simulated (*board is then NULL). */
QIO_TARGET_API int qio_target_board_of_device(QioTarget* target, unsigned deviceNumber, QioSimBoard** board);

/* What a result code of the Zqs5162 library means, in a few words: "counter
 * busy" for 0x1032 (or 0x2032 on device 1), "invalid driver handle" for 3.
 * Covers the plain codes 0, 2, 3, 10 and 27 and the device codes
 * (device number + 1) * 0x1000 + a low code, for device numbers 0 to 254;
 * any other code gives "unknown result code". The text is static and never
 * NULL; it does not name the device. Needs no target. */
QIO_TARGET_API const char* qio_target_result_text(uint32_t result);

/* Pins whose changes can be listed. The counter and generator pins have the
 * value 0 or 1; a port has the levels of its 8 pins as the value (bit n =
 * line n), inputs as driven and outputs as latched. */
#define QIO_SIM_PIN_CLK0 0u
#define QIO_SIM_PIN_CLK1 1u
#define QIO_SIM_PIN_OUT0 2u
#define QIO_SIM_PIN_OUT1 3u
#define QIO_SIM_PIN_FOUT0 4u
#define QIO_SIM_PIN_FOUT1 5u
#define QIO_SIM_PIN_PORT_A 6u
#define QIO_SIM_PIN_PORT_B 7u
#define QIO_SIM_PIN_PORT_C 8u
#define QIO_SIM_PIN_COUNT 9u

typedef struct {
  uint64_t timeNs; /* platform clock */
  uint32_t value;  /* the pin's value from then on */
} QioPinChange;

typedef struct {
  uint32_t valueAtFrom;     /* the value at fromNs, changes at fromNs included */
  size_t count;             /* changes written to out */
  uint64_t notListed;       /* changes of the span left out (for a port, line edges) */
  uint64_t firstNotListedNs; /* the first of them; UINT64_MAX when none */
} QioPinListing;

/* Switches the board's pin history on from now, keeping at most
 * maxChangesPerPin changes per pin (later ones are only counted); 0 switches
 * it off and frees it. Switching it on again starts afresh. */
QIO_TARGET_API int qio_sim_record_pins(QioSimBoard* board, size_t maxChangesPerPin);

/* Lists the changes of `pin` in the span (fromNs, toNs] of the platform
 * clock, oldest first, into out (at most capacity; out may be NULL with
 * capacity 0 to count only). The board computes them from its closed-form
 * state, never by sampling: the present configuration (since the last
 * register write or stimulus change) always, earlier ones only while the pin
 * history records, back to the instant it was switched on. A span starting
 * before that gives QIO_TARGET_E_STATE. Changes on one nanosecond are merged
 * into the last value. When changes are left out (capacity, or the history's
 * cap), nothing after firstNotListedNs is listed: the caller knows the pin up
 * to there. A span reaching past now lists the changes ahead as things stand. */
QIO_TARGET_API int qio_sim_list_edges(QioSimBoard* board, unsigned pin, uint64_t fromNs, uint64_t toNs,
                                      QioPinChange* out, size_t capacity, QioPinListing* listing);

/* Counter 0 or 1: *counting is 1 while its counter block is armed and has not
 * run to its final terminal count; *nextNs (may be NULL) receives the instant
 * of its next terminal count as things stand, UINT64_MAX when none will come
 * (an idle counter, or one whose input has no edges). */
QIO_TARGET_API int qio_sim_next_terminal_count(QioSimBoard* board, unsigned counter, int* counting, uint64_t* nextNs);

/* ---- virtual time ------------------------------------------------------- */

/* Boot flag (qio_target_boot_ex, _data, _files): run the whole target on a
 * virtual clock instead of the real one.
 *
 * In virtual time the platform clock starts at 0 and stands still while any
 * thread of the target runs; when every one of them waits in the target (a
 * time-out, an event, a sleep), the clock jumps to the earliest deadline and
 * releases that waiter. A 2 s gate then takes microseconds of real time, and
 * the board model's counts are exact: a 1 Hz input reads 1 Hz.
 *
 * Threads of the target are its own (the driver's, the board model's) and
 * every application thread from its first call into the target (a Zqs5162.h
 * export or a function of this header) until it ends or detaches. They run
 * one at a time, taking turns in a fixed order, so that the same calls give
 * the same register trace, order and time stamps, on every run. A thread
 * holds the turn from its call until it waits in the target; threads that
 * enter at the same moment queue in the order in which they call.
 *
 * The one rule for applications: in virtual time, wait with the target's
 * calls (CheckEvent with a time-out, qio_target_sleep), never with the OS's
 * sleep or a busy loop: time does not pass while a thread of the target runs,
 * so such a wait never ends and freezes the whole target meanwhile. A thread
 * that waits for something outside the target (a typed line, a window)
 * calls qio_target_detach_thread() first; while a thread is detached the
 * virtual clock runs no faster than real time. A thread that holds the turn
 * for more than about 3 s of real time is reported once, by name, on stderr
 * and through qio_target_last_message(); so is a target in which every
 * thread waits without a time-out. */
#define QIO_TARGET_VIRTUAL_TIME 0x4u

/* The platform clock in nanoseconds: virtual time since boot in virtual
 * time, else real time since the platform was loaded. 0 when target is not
 * the running target (message set). */
QIO_TARGET_API uint64_t qio_target_now_ns(QioTarget* target);
/* Waits `milliseconds` on the platform clock (in virtual time, virtual
 * milliseconds, taking no real time when nothing else runs); 0 lets the
 * other ready threads of the target run first. QIO_TARGET_E_STATE when the
 * target is shut down before the sleep ends (in virtual time the sleep then
 * ends early). */
QIO_TARGET_API int qio_target_sleep(QioTarget* target, uint32_t milliseconds);
/* The calling thread stops being a thread of the target until its next call
 * into it: the clock goes on without it. Does nothing in real time or on a
 * thread that never called into the target. */
QIO_TARGET_API void qio_target_detach_thread(void);

/* ---- the driver's state of a device --------------------------------------- */

/* What the Zqs5162s driver keeps for device deviceNumber (0 to 254): the
 * record of driver_state.h (function and settings of each counter, generator
 * owners, event sources with their counts, port directions and latches, the
 * open count), like a debugfs view. Read from the loaded driver without
 * opening the device: a device not yet opened shows the state after boot. The
 * driver fills it under its lock in one go; nothing on the board or in the
 * driver changes. Set state->size to sizeof(QioDriverState) first; on return
 * it holds the bytes written and state->version the driver's version.
 * QIO_TARGET_E_ARGUMENT for a NULL state or a size below 8,
 * QIO_TARGET_E_DEVICE when no loaded driver has the device number. */
QIO_TARGET_API int qio_target_driver_state(QioTarget* target, unsigned deviceNumber, QioDriverState* state);

#ifdef __cplusplus
}
#endif

#endif /* QIO5162_TARGET_H */
