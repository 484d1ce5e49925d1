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
#define QIO_TARGET_E_RESOURCE 7     /* out of memory, events, threads or registry space; nothing was changed */

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
/* Stops every driver, unplugs the boards, joins every platform thread and
 * closes every handle. */
QIO_TARGET_API int qio_target_shutdown(QioTarget* target);
/* The target booted in this process, or NULL. */
QIO_TARGET_API QioTarget* qio_target_current(void);

/* Writes the registry as text (NUL-terminated) into buffer; *needed (may be
 * NULL) receives the size including the terminator. A NULL buffer or too
 * small a capacity gives QIO_TARGET_E_SPACE. */
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

#ifdef __cplusplus
}
#endif

#endif /* QIO5162_TARGET_H */
