/* Zqs5162.h: the user-mode library of the QIO-5162 counter/timer and DIO board.
 *
 * The board has two 16-bit counter/timers (counter 0 and counter 1) with
 * programmable clock generators, and 24 TTL digital I/O channels in three
 * 8-bit ports: port 0 = A, 1 = B, 2 = C. A line is named by its port and bit
 * (B1) or by its channel 0 to 23: channel = port x 8 + bit (B1 is channel 9).
 * DI events and their types count channels. Every function turns into one or two
 * device-control requests on the board's stream driver (Zqs5162s); the library
 * itself never touches hardware.
 *
 * Devices and handles
 *   DeviceOpen(n, &h) opens device number n (0 to 254, the number under which
 *   the driver registered the board) and gives a driver handle: an opaque,
 *   nonzero 32-bit value. Every open of one device number in the process gives
 *   the same value; each open must be matched by one DeviceClose, and the last
 *   close tears the device down. Every function that takes a handle validates
 *   it: a null, closed or made-up handle returns ZQS_ERROR_HANDLE (3) and
 *   touches nothing.
 *
 * Error convention
 *   Every function returns a 32-bit result code, ZQS_SUCCESS (0) on success.
 *   A few codes are plain numbers (2, 3, 10, 27); all others are device codes:
 *   ZQS_ERROR_BASE(n) + a low code, where n is the device number (0x1000 for
 *   device 0, 0x2000 for device 1). The low codes are ZQS_LOW_* below; a
 *   request refused by the driver yields the driver's own low code (for
 *   example ZQS_LOW_BUSY, 0x032, for a start on a busy counter). Arguments
 *   are checked before anything is sent, in a fixed order; output references
 *   are written only on success, except where a function says otherwise.
 *
 * Thread safety
 *   All functions may be called from any thread. Opens and closes are
 *   serialised by the library. Calls on one handle from several threads each
 *   run as their own request; the read-modify-write writers (DioWritePort*,
 *   DioWriteBit, DioSetPortMode) make their read-back and their write under
 *   a lock of the open device, as do the whole-port writers, so that threads
 *   writing different lines (or the modes of different ports) of one device
 *   at once do not undo each other's changes.
 *   Several threads may block in CheckEvent on one device; the last
 *   DeviceClose wakes all of them with ZQS_EVENT_DEVICE_CLOSED and waits for
 *   them to leave before the device's handles are closed; a shutdown of the
 *   hosted target with the device still open wakes them the same way. A call
 *   made after the last close returns ZQS_ERROR_HANDLE.
 *
 * Hosted target
 *   In a process where no hosted target has been booted (see target.h), the
 *   first DeviceOpen boots the default one. */
#ifndef QIO5162_ZQS5162_H
#define QIO5162_ZQS5162_H

#include <stdint.h>

#if defined(__GNUC__)
#define ZQS5162_API __attribute__((visibility("default")))
#else
#define ZQS5162_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- result codes ------------------------------------------------------ */

#define ZQS_SUCCESS 0u
#define ZQS_ERROR_CONFIGURATION 2u /* DeviceOpen: registry settings incomplete, or not this board */
#define ZQS_ERROR_HANDLE 3u        /* null, closed or made-up driver handle */
#define ZQS_ERROR_PORT_WINDOW 10u  /* raw port address outside the board's port window */
#define ZQS_ERROR_FUNCTION 27u     /* DriverProc: function number not in its table */

/* Device codes: ZQS_ERROR_BASE(device number) + low code. */
#define ZQS_ERROR_BASE(deviceNumber) ((uint32_t)(deviceNumber) * 0x1000u + 0x1000u)
#define ZQS_LOW_CODE(result) ((uint32_t)(result) & 0xFFFu)

#define ZQS_LOW_CREATE 0x001u         /* DeviceOpen: the device's record or an event could not be created */
#define ZQS_LOW_RANGE 0x007u          /* port, port range or counter outside what the board or call allows */
#define ZQS_LOW_ARGUMENT 0x00Au       /* missing or short buffer, bit above 7, direction not allowed, ... */
#define ZQS_LOW_BOARD_ID 0x018u       /* DeviceGetFeatures: not a QIO-5162 */
#define ZQS_LOW_STREAM 0x01Au         /* DeviceOpen: the driver's stream device could not be opened */
#define ZQS_LOW_PARAMETER 0x020u      /* a counter parameter outside its range */
#define ZQS_LOW_EVENT_TYPE 0x028u     /* an event type the device does not have */
#define ZQS_LOW_BUSY 0x032u           /* from the driver: the counter is busy */
#define ZQS_LOW_PROPERTY 0x03Eu       /* a property identifier the device does not have */
#define ZQS_LOW_WAIT 0x03Fu           /* CheckEvent: waiting on the events failed */
#define ZQS_LOW_OUTSIDE_WINDOW 0x040u /* from the driver: register access outside the port window */
#define ZQS_LOW_DI_CHANNEL 0x068u     /* from the driver: DI event channel above 23 */
#define ZQS_LOW_NOT_FOUND 101u        /* platform: file not found */
#define ZQS_LOW_INVALID_HANDLE 102u   /* platform: invalid handle */
#define ZQS_LOW_UNKNOWN 100u          /* platform: unspecified failure */

/* ---- event types and time-outs ----------------------------------------- */

#define ZQS_EVENT_NONE 0x0000u            /* a source no longer enabled, or an unexpected wake-up */
#define ZQS_EVENT_DI(channel) (0x3400u + (uint16_t)(channel)) /* DI channel 0 to 23 = port x 8 + bit */
#define ZQS_EVENT_DI_FIRST 0x3400u
#define ZQS_EVENT_DI_LAST 0x3417u
#define ZQS_EVENT_TERMINAL_COUNT0 0x5000u /* counter 0 reached its terminal count */
#define ZQS_EVENT_TERMINAL_COUNT1 0x5001u /* counter 1 reached its terminal count */
#define ZQS_EVENT_DEVICE_CLOSED 0xFFFEu   /* the device's last DeviceClose ran */
#define ZQS_EVENT_TIMEOUT 0xFFFFu         /* CheckEvent: nothing within the time-out */

#define ZQS_INFINITE 0xFFFFFFFFu          /* CheckEvent: wait without limit */

/* ---- DIO direction codes (one per port) -------------------------------- */

#define ZQS_DIR_INPUT 0u          /* all 8 lines input */
#define ZQS_DIR_OUTPUT 1u         /* all 8 lines output */
#define ZQS_DIR_LOW_IN_HIGH_OUT 3u /* port C only: lines 0-3 input, 4-7 output */
#define ZQS_DIR_LOW_OUT_HIGH_IN 4u /* port C only: lines 0-3 output, 4-7 input */

/* ---- counter arguments -------------------------------------------------- */

/* FreqOutStart sources, the generator's source code already in bits 8-10:
 * 3 = 10 MHz, 4 = 1 MHz, 5 = 100 kHz, 6 = 10 kHz, 7 = 1 kHz (1 and 2 are
 * passed to the generator unchanged). */
#define ZQS_FREQOUT_SOURCE(code) ((uint16_t)((code) << 8))

/* ---- features and properties ------------------------------------------- */

#define ZQS_FEATURES_SIZE 800u /* DeviceGetFeatures copies this many bytes */

#define ZQS_PROPERTY_DEVICE_NUMBER 0x0000u      /* uint32 */
#define ZQS_PROPERTY_BOARD_ID 0x0001u           /* uint32, 166 */
#define ZQS_PROPERTY_BASE_ADDRESS 0x0003u       /* uint32 */
#define ZQS_PROPERTY_IRQ 0x0004u                /* uint32 */
#define ZQS_PROPERTY_DIO_OUTPUT_MASKS 0x3004u   /* uint32 per port, bits set are outputs; settable */
#define ZQS_PROPERTY_DIO_PORT_GROUPS 0x3005u    /* one byte per port: 3, 3, 4 */
#define ZQS_PROPERTY_DIO_OUTPUT_MASKS2 0x3006u  /* as 0x3004; settable */
#define ZQS_PROPERTY_DI_CHANNELS 0x3C83u        /* uint32, 24 */
#define ZQS_PROPERTY_DI_PORTS 0x3C84u           /* uint32, 3 */
#define ZQS_PROPERTY_DO_CHANNELS 0x4807u        /* uint32, 24 */
#define ZQS_PROPERTY_DO_PORTS 0x4808u           /* uint32, 3 */
#define ZQS_PROPERTY_COUNTER_EVENT_TYPES 0x5006u /* two uint16: 0x5000, 0x5001 */
#define ZQS_PROPERTY_PWM_LIMITS 0x5008u         /* four floats, seconds: period min/max, high time min/max */
/* Constant identifiers of the board family, returned as stored: 0x3C82,
 * 0x3C85, 0x3C86, 0x3C87, 0x3C8C, 0x4806, 0x5001 to 0x5005, 0x5009, 0x5010,
 * 0x5011. */

/* ---- device ------------------------------------------------------------ */

/* Opens device DeviceNumber; *DriverHandle receives the handle, or 0 on any
 * failure. 2: no complete registry configuration for the number, or not this
 * board; ERROR_BASE + 0x001: resources; ERROR_BASE + 0x01A: the driver's
 * stream device could not be opened. */
ZQS5162_API uint32_t DeviceOpen(uint32_t DeviceNumber, uint32_t* DriverHandle);
/* Drops one open of the device *DriverHandle and sets *DriverHandle to 0. */
ZQS5162_API uint32_t DeviceClose(uint32_t* DriverHandle);
/* Copies the 800-byte features record; Size must be at least 800. */
ZQS5162_API uint32_t DeviceGetFeatures(uint32_t DriverHandle, void* Buffer, uint16_t Size);
/* *Length: in, the buffer's size; out, the property's size. A null Buffer
 * asks for the size only. A given buffer is cleared up to *Length first,
 * also when the call fails. */
ZQS5162_API uint32_t DeviceGetProperty(uint32_t DriverHandle, uint16_t Id, void* Buffer, uint32_t* Length);
ZQS5162_API uint32_t DeviceSetProperty(uint32_t DriverHandle, uint16_t Id, const void* Data, uint32_t Length);

/* The configuration dialog for device DeviceNumber (0 to 254): base address,
 * IRQ and DIO directions, written on OK as the device's registry keys (they
 * take effect at the next boot). Modal: returns when the dialog closes, with
 * ZQS_DIALOG_OK, ZQS_DIALOG_CANCEL (nothing written), ZQS_DIALOG_NO_MEMORY,
 * or ZQS_DIALOG_FAILED when it could not be shown (no display, the dialog
 * module libZqs5162Dialog.so missing, another dialog open, a device number
 * above 254); nothing is written then. Reserved is ignored; ParentWindow is a
 * QWidget* of the calling application, or NULL. DeviceConfig is the same
 * call. */
#define ZQS_DIALOG_NO_MEMORY 0u
#define ZQS_DIALOG_OK 1u
#define ZQS_DIALOG_CANCEL 2u
#define ZQS_DIALOG_FAILED 0xFFFFFFFFu
ZQS5162_API uint32_t DeviceConfigExt(uint32_t DeviceNumber, uint32_t Reserved, void* ParentWindow);
ZQS5162_API uint32_t DeviceConfig(uint32_t DeviceNumber, uint32_t Reserved, void* ParentWindow);

/* The generic entry: calls the function of number Function (low 16 bits)
 * with the record Parameter refers to (ZQS_FN_* and the records below). */
ZQS5162_API uint32_t DriverProc(uint32_t Reserved1, uint32_t Reserved2, uint32_t Function, uintptr_t Handle,
                                uintptr_t Parameter);

/* ---- digital I/O --------------------------------------------------------
 * Ports are indices (0 = A, 1 = B, 2 = C). The Word and Dword variants cover
 * up to 2 or 4 ports from Port on, as many as the board has; ValidMask (may
 * be NULL) tells which bytes of the value are real ports and is written even
 * when the read fails. Byte variants write exactly one byte at Value. */
ZQS5162_API uint32_t DioReadDiPorts(uint32_t h, uint32_t FirstPort, uint32_t PortCount, uint8_t* Buffer);
ZQS5162_API uint32_t DioReadPortByte(uint32_t h, uint16_t Port, uint8_t* Value);
ZQS5162_API uint32_t DioReadPortWord(uint32_t h, uint16_t Port, uint16_t* ValidMask, uint16_t* Value);
ZQS5162_API uint32_t DioReadPortDword(uint32_t h, uint16_t Port, uint32_t* ValidMask, uint32_t* Value);
ZQS5162_API uint32_t DioReadBit(uint32_t h, uint16_t Port, uint16_t Bit, uint16_t* Value);

/* The last values written to the output ports, as the driver recorded them. */
ZQS5162_API uint32_t DioGetCurrentDoPortsState(uint32_t h, uint32_t FirstPort, uint32_t PortCount, uint8_t* Buffer);
ZQS5162_API uint32_t DioGetCurrentDOByte(uint32_t h, uint16_t Port, uint8_t* Value);
ZQS5162_API uint32_t DioGetCurrentDOWord(uint32_t h, uint16_t Port, uint16_t* ValidMask, uint16_t* Value);
ZQS5162_API uint32_t DioGetCurrentDODword(uint32_t h, uint16_t Port, uint32_t* ValidMask, uint32_t* Value);
ZQS5162_API uint32_t DioGetCurrentDOBit(uint32_t h, uint16_t Port, uint16_t Bit, uint16_t* Value);

/* Writers. The masked ones change only the bits set in Mask:
 * new = (current AND NOT Mask) OR (State AND Mask). */
ZQS5162_API uint32_t DioWriteDoPorts(uint32_t h, uint32_t FirstPort, uint32_t PortCount, const uint8_t* Data);
ZQS5162_API uint32_t DioWritePortByte(uint32_t h, uint16_t Port, uint16_t Mask, uint16_t State);
ZQS5162_API uint32_t DioWritePortWord(uint32_t h, uint16_t Port, uint16_t Mask, uint16_t State);
ZQS5162_API uint32_t DioWritePortDword(uint32_t h, uint16_t Port, uint32_t Mask, uint32_t State);
ZQS5162_API uint32_t DioWriteBit(uint32_t h, uint16_t Port, uint16_t Bit, uint16_t State);

/* Directions (ZQS_DIR_*): codes 3 and 4 only on port C. DioGetConfig stores
 * up to Count codes (at most one per port). */
ZQS5162_API uint32_t DioSetPortMode(uint32_t h, uint16_t Port, uint16_t Direction);
ZQS5162_API uint32_t DioGetConfig(uint32_t h, uint16_t* Codes, uint16_t Count);

/* ---- raw register access ------------------------------------------------
 * Port is an absolute I/O address inside the board's window. */
ZQS5162_API uint32_t ReadPortByte(uint32_t h, uint16_t Port, uint16_t* Value);
ZQS5162_API uint32_t ReadPortWord(uint32_t h, uint16_t Port, uint16_t* Value);
ZQS5162_API uint32_t ReadPortDword(uint32_t h, uint16_t Port, uint32_t* Value);
ZQS5162_API uint32_t WritePortByte(uint32_t h, uint16_t Port, uint8_t Value);
ZQS5162_API uint32_t WritePortWord(uint32_t h, uint16_t Port, uint16_t Value);
ZQS5162_API uint32_t WritePortDword(uint32_t h, uint16_t Port, uint32_t Value);

/* ---- counters -----------------------------------------------------------
 * Counter 0 or 1. Frequency measurement runs on counter 0 only; PWM
 * measurement uses both (Counter 0). Times are in seconds, except the PWM
 * phases that PWMStartRead reports, in microseconds.
 *
 * Each counter runs one function at a time; a start on a counter that runs
 * one returns ZQS_LOW_BUSY (0x032). Some functions use more than their own
 * counter: a frequency measurement on counter 0 also uses counter 1 (its gate
 * and edge counter), from its start until counter 0's reset, so that starts on
 * counter 1 return busy meanwhile and CounterReset of counter 1 ends the
 * measurement too; a counted PWM on counter 1 uses counter 0 as its
 * prescaler, and the reset of either counter ends it; a PWM measurement holds
 * both counters while it runs. Each counter has a clock generator that only
 * one function (or FreqOutStart) has at a time: a pulse or PWM output whose
 * time base needs it, or the frequency measurement of counter 0, which keeps
 * generator 0 for itself while it runs. CounterEventRead of a counter that
 * runs a PWM output returns busy (latching its count would change the
 * output). */
ZQS5162_API uint32_t CounterEventStart(uint32_t h, uint16_t Counter, uint16_t Reserved);
ZQS5162_API uint32_t CounterEventRead(uint32_t h, uint16_t Counter, uint16_t* Tally, uint32_t* Count);
/* Gate: 0 automatic ranging, 1 to 2000 a fixed gate time in milliseconds.
 * A start forgets the previous measurement's value, and so does CounterReset.
 * With automatic ranging the start counts edges in a 2 ms gate first; the
 * first result is there when the start returns for 50 kHz and up (that
 * estimate) and for about 150 Hz to 5 kHz (the signal's period, timed on the
 * base clock); 10 kHz to 50 kHz come from a 1 s gate, about 2 s after the
 * start and every 2 s after, 5 kHz to 10 kHz from a 2 s gate, after about
 * 4 s; below about 150 Hz the period is timed on a slow time base, about
 * 1.3 s to 2 s after the start. With a fixed gate the first result comes
 * 2 x gate + 1 ms after the start. Until then CounterFreqRead gives 0 Hz:
 * a frequency of 0 means "no result yet, or no signal". Each read keeps the
 * measurement going (it starts the next pass when the last one has ended). */
ZQS5162_API uint32_t CounterFreqStart(uint32_t h, uint16_t Counter, uint16_t Gate, uint16_t Reserved);
ZQS5162_API uint32_t CounterFreqRead(uint32_t h, uint16_t Counter, float* Frequency);
/* Period 0.001 to 50 s. */
ZQS5162_API uint32_t CounterPulseStart(uint32_t h, uint16_t Counter, float Period, uint32_t Reserved1,
                                       uint16_t Reserved2);
ZQS5162_API uint32_t CounterReset(uint32_t h, uint16_t Counter);
/* Divisor 1 to 16; Source one of ZQS_FREQOUT_SOURCE(1) to ZQS_FREQOUT_SOURCE(7). */
ZQS5162_API uint32_t FreqOutStart(uint32_t h, uint16_t Counter, uint16_t Divisor, uint16_t Source);
ZQS5162_API uint32_t FreqOutReset(uint32_t h, uint16_t Counter);
/* 0.0005 < Period <= 60, 0.0005 <= HighTime < 60, HighTime < Period;
 * PulseCount 0 runs continuously (the only choice on counter 0). A run of
 * PulseCount periods ends with OUT low after exactly that many; it is refused
 * with ZQS_LOW_PARAMETER when PulseCount x Period is outside 0.5 ms to 60 s,
 * or when no time base can end it between its last period and the next (a
 * low time of a few ticks in a long run: 20000 periods of 1 ms with 0.1 ms
 * low). */
ZQS5162_API uint32_t CounterPWMSetting(uint32_t h, uint16_t Counter, float Period, float HighTime,
                                       uint32_t PulseCount, uint16_t Reserved);
/* Only after a successful CounterPWMSetting on the counter. A setting that
 * fails loads nothing and leaves the last good one. The driver refuses with
 * ZQS_LOW_ARGUMENT an enable whose setting is no longer loaded: another
 * function has programmed the counter (or, for a counted PWM, counter 0)
 * since, or a reset stopped the generator its time base ran on (a setting on
 * the 20 MHz base clock, periods up to about 6.5 ms, survives a reset). */
ZQS5162_API uint32_t CounterPWMEnable(uint32_t h, uint16_t Counter);
ZQS5162_API uint32_t PWMStartRead(uint32_t h, uint16_t Counter, float* First, float* Second);

/* ---- events -------------------------------------------------------------
 * EnableEvent(type, 1, N) signals the event on every N-th interrupt of its
 * source; CheckEvent waits for the next event of any enabled source of the
 * device and stores its type (or ZQS_EVENT_TIMEOUT, ZQS_EVENT_DEVICE_CLOSED,
 * ZQS_EVENT_NONE).
 *
 * A DI event (ZQS_EVENT_DI(channel), channel = port x 8 + bit) fires on a
 * rising edge, low to high, of its line while the line is an input; a falling
 * edge fires nothing. A line configured as output raises no DI interrupt: a
 * DI event enabled on an output line is accepted (the call returns 0) but
 * never fires until the port is made an input. With several channels of one
 * port enabled, a rising edge fires the event of each channel that rose.
 * A terminal-count event (ZQS_EVENT_TERMINAL_COUNT0/1) fires only while its
 * counter runs a function that reaches terminal counts; on an idle counter it
 * never fires. */
ZQS5162_API uint32_t EnableEvent(uint32_t h, uint16_t EventType, uint16_t Enable, uint16_t Count);
ZQS5162_API uint32_t CheckEvent(uint32_t h, uint16_t* EventType, uint32_t Milliseconds);
/* Enables a DI event (trigger count 1) that latches PortCount ports from
 * FirstPort on when it fires; DioGetLatestEventDiPortsState fetches them. */
ZQS5162_API uint32_t DioEnableEventAndSpecifyDiPorts(uint32_t h, uint32_t EventType, uint32_t FirstPort,
                                                     uint32_t PortCount);
ZQS5162_API uint32_t DioDisableEvent(uint32_t h, uint32_t EventType);
ZQS5162_API uint32_t DioGetLatestEventDiPortsState(uint32_t h, uint32_t EventType, uint8_t* Buffer, uint32_t Length);

/* ---- DriverProc function numbers and parameter records -----------------
 * Functions 35, 85, 105 and 132 take the counter or event type itself as
 * Parameter; function 0 takes the device number as Handle and a uint32_t*
 * (the handle variable) as Parameter; function 1 takes the uint32_t* as
 * Handle. All others take a pointer to the record named beside them. */
#define ZQS_FN_DEVICE_OPEN 0u
#define ZQS_FN_DEVICE_CLOSE 1u
#define ZQS_FN_DEVICE_GET_FEATURES 2u             /* ZqsGetFeaturesParams */
#define ZQS_FN_DIO_SET_PORT_MODE 18u              /* ZqsSetPortModeParams */
#define ZQS_FN_DIO_GET_CONFIG 19u                 /* ZqsGetConfigParams */
#define ZQS_FN_DIO_READ_PORT_BYTE 20u             /* ZqsPortByteRefParams */
#define ZQS_FN_DIO_WRITE_PORT_BYTE 21u            /* ZqsPortMaskParams */
#define ZQS_FN_DIO_READ_BIT 22u                   /* ZqsPortBitRefParams */
#define ZQS_FN_DIO_WRITE_BIT 23u                  /* ZqsPortBitStateParams */
#define ZQS_FN_DIO_GET_CURRENT_DO_BYTE 24u        /* ZqsPortByteRefParams */
#define ZQS_FN_DIO_GET_CURRENT_DO_BIT 25u         /* ZqsPortBitRefParams */
#define ZQS_FN_WRITE_PORT_WORD 27u                /* ZqsWritePortWordParams */
#define ZQS_FN_READ_PORT_WORD 29u                 /* ZqsReadPortWordParams */
#define ZQS_FN_COUNTER_EVENT_START 30u            /* ZqsCounterEventStartParams */
#define ZQS_FN_COUNTER_EVENT_READ 31u             /* ZqsCounterEventReadParams */
#define ZQS_FN_COUNTER_FREQ_START 32u             /* ZqsCounterFreqStartParams */
#define ZQS_FN_COUNTER_FREQ_READ 33u              /* ZqsCounterFreqReadParams */
#define ZQS_FN_COUNTER_PULSE_START 34u            /* ZqsCounterPulseStartParams */
#define ZQS_FN_COUNTER_RESET 35u                  /* Parameter = counter */
#define ZQS_FN_ENABLE_EVENT 77u                   /* ZqsEnableEventParams */
#define ZQS_FN_CHECK_EVENT 78u                    /* ZqsCheckEventParams */
#define ZQS_FN_COUNTER_PWM_SETTING 84u            /* ZqsCounterPwmSettingParams */
#define ZQS_FN_COUNTER_PWM_ENABLE 85u             /* Parameter = counter */
#define ZQS_FN_PWM_START_READ 100u                /* ZqsPwmStartReadParams */
#define ZQS_FN_FREQOUT_START 104u                 /* ZqsFreqOutStartParams */
#define ZQS_FN_FREQOUT_RESET 105u                 /* Parameter = counter */
#define ZQS_FN_COUNTER_CONFIG 106u                /* ZqsCounterConfigParams */
#define ZQS_FN_DEVICE_SET_PROPERTY 108u           /* ZqsSetPropertyParams */
#define ZQS_FN_DEVICE_GET_PROPERTY 109u           /* ZqsGetPropertyParams */
#define ZQS_FN_WRITE_PORT_WORD_ALT 110u           /* ZqsWritePortWordAltParams */
#define ZQS_FN_READ_PORT_DWORD 111u               /* ZqsReadPortDwordParams */
#define ZQS_FN_DIO_READ_PORT_WORD 122u            /* ZqsPortWordRefParams */
#define ZQS_FN_DIO_WRITE_PORT_WORD 123u           /* ZqsPortMaskParams */
#define ZQS_FN_DIO_READ_PORT_DWORD 124u           /* ZqsPortDwordRefParams */
#define ZQS_FN_DIO_WRITE_PORT_DWORD 125u          /* ZqsPortDwordMaskParams */
#define ZQS_FN_DIO_GET_CURRENT_DO_WORD 126u       /* ZqsPortWordRefParams */
#define ZQS_FN_DIO_GET_CURRENT_DO_DWORD 127u      /* ZqsPortDwordRefParams */
#define ZQS_FN_DIO_ENABLE_EVENT_DI_PORTS 131u     /* ZqsEnableEventDiPortsParams */
#define ZQS_FN_DIO_DISABLE_EVENT 132u             /* Parameter = event type */
#define ZQS_FN_DIO_GET_LATEST_EVENT_DI_PORTS 133u /* ZqsLatestEventDiPortsParams */
#define ZQS_FN_DIO_READ_DI_PORTS 134u             /* ZqsPortsBufferParams */
#define ZQS_FN_DIO_WRITE_DO_PORTS 135u            /* ZqsPortsDataParams */
#define ZQS_FN_DIO_GET_CURRENT_DO_PORTS 136u      /* ZqsPortsBufferParams */

/* Natural alignment: on a 32-bit target every field sits at the offset of
 * the function table (references 4 bytes wide); on 64-bit hosts the
 * references are 8 bytes wide and aligned. */
typedef struct { void* Buffer; uint16_t Size; } ZqsGetFeaturesParams;
typedef struct { uint16_t Port; uint16_t Direction; } ZqsSetPortModeParams;
typedef struct { uint16_t* Codes; uint16_t Count; } ZqsGetConfigParams;
typedef struct { uint16_t Port; uint8_t* Value; } ZqsPortByteRefParams;
typedef struct { uint16_t Port; uint16_t Mask; uint16_t State; } ZqsPortMaskParams;
typedef struct { uint16_t Port; uint16_t Bit; uint16_t* Value; } ZqsPortBitRefParams;
typedef struct { uint16_t Port; uint16_t Bit; uint16_t State; } ZqsPortBitStateParams;
typedef struct { uint16_t Port; uint16_t Value; } ZqsWritePortWordParams;
typedef struct { uint16_t Port; uint16_t* Value; } ZqsReadPortWordParams;
typedef struct { uint16_t Counter; uint16_t Reserved; } ZqsCounterEventStartParams;
typedef struct { uint16_t Counter; uint16_t* Tally; uint32_t* Count; } ZqsCounterEventReadParams;
typedef struct { uint16_t Counter; uint16_t Gate; uint16_t Reserved; } ZqsCounterFreqStartParams;
typedef struct { uint16_t Counter; float* Frequency; } ZqsCounterFreqReadParams;
typedef struct { uint16_t Counter; float Period; uint32_t Reserved1; uint16_t Reserved2; } ZqsCounterPulseStartParams;
typedef struct { uint16_t EventType; uint16_t Enable; uint16_t Count; } ZqsEnableEventParams;
typedef struct { uint16_t* EventType; uint32_t Milliseconds; } ZqsCheckEventParams;
typedef struct {
  uint16_t Counter;
  float Period;
  float HighTime;
  uint32_t PulseCount;
  uint16_t Reserved;
} ZqsCounterPwmSettingParams;
typedef struct { uint16_t Counter; float* First; float* Second; } ZqsPwmStartReadParams;
typedef struct { uint16_t Counter; uint16_t Divisor; uint16_t Source; } ZqsFreqOutStartParams;
/* Raw counter configuration: the initial count goes to the load and hold
 * registers, the eight mode words are OR-ed into the counter's mode word. */
typedef struct { uint16_t Counter; uint16_t InitialCount; uint16_t Mode[8]; } ZqsCounterConfigParams;
typedef struct { uint16_t Id; uint32_t Length; const void* Data; } ZqsSetPropertyParams;
typedef struct { uint16_t Id; uint32_t* Length; void* Buffer; } ZqsGetPropertyParams;
typedef struct { uint16_t Port; uint16_t Reserved; uint16_t Value; } ZqsWritePortWordAltParams;
typedef struct { uint16_t Port; uint32_t* Value; } ZqsReadPortDwordParams;
typedef struct { uint16_t Port; uint16_t* Value; uint16_t* ValidMask; } ZqsPortWordRefParams;
typedef struct { uint16_t Port; uint32_t* Value; uint32_t* ValidMask; } ZqsPortDwordRefParams;
typedef struct { uint16_t Port; uint32_t Mask; uint32_t State; } ZqsPortDwordMaskParams;
typedef struct { uint32_t EventType; uint32_t FirstPort; uint32_t PortCount; } ZqsEnableEventDiPortsParams;
typedef struct { uint32_t EventType; uint8_t* Buffer; uint32_t Length; } ZqsLatestEventDiPortsParams;
typedef struct { uint32_t FirstPort; uint32_t PortCount; uint8_t* Buffer; } ZqsPortsBufferParams;
typedef struct { uint32_t FirstPort; uint32_t PortCount; const uint8_t* Data; } ZqsPortsDataParams;

#ifdef __cplusplus
}
#endif

#endif /* QIO5162_ZQS5162_H */
