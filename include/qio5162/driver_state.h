/* driver_state.h: the Zqs5162s driver's state of one board, as a plain C
 * record.
 *
 * A read-only view of what the driver keeps for a board, like a debugfs
 * file: which function owns each counter block and with what settings, what
 * owns each clock generator, the enabled event sources with their counts, the
 * port directions and output latches, and where the open/close cycle stands.
 * The driver fills it under its per-board lock in one go, so the record is
 * one consistent picture; filling it neither opens the device nor touches a
 * register of the board. target.h reads it with qio_target_driver_state().
 *
 * The record grows at its end only. The caller sets `size` to the size of
 * the record it knows (sizeof(QioDriverState)); the driver writes no more
 * than that, and sets `size` to the bytes it wrote and `version` to its
 * QIO_DRIVER_STATE_VERSION. Register values are those the driver last wrote
 * (the registers are write-only or read back something else). */
#ifndef QIO5162_DRIVER_STATE_H
#define QIO5162_DRIVER_STATE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QIO_DRIVER_STATE_VERSION 1u

#define QIO_STATE_COUNTERS 2u
#define QIO_STATE_EVENT_SOURCES 26u /* DI channels 0-23, terminal counts of counters 0 (24) and 1 (25) */
#define QIO_STATE_PORTS 3u          /* A, B, C */

/* QioCounterState.function: what owns counter block n (the driver's own
 * codes). Any start on a counter that is not idle fails as busy (0x32). */
#define QIO_FUNCTION_IDLE 0x00u
#define QIO_FUNCTION_EVENT_COUNT 0x01u
#define QIO_FUNCTION_FREQUENCY 0x02u   /* also borrows block n + 1 (QIO_COUNTER_HAS_PARTNER) */
#define QIO_FUNCTION_PULSE 0x04u
#define QIO_FUNCTION_PWM 0x08u         /* a counted run marks both counters */
#define QIO_FUNCTION_PWM_MEASURE 0x28u /* marks both counters while it runs */

/* QioCounterState.flags */
#define QIO_COUNTER_HAS_PARTNER 0x01u /* a frequency measurement on n borrows block n + 1 */
#define QIO_COUNTER_IS_PARTNER 0x02u  /* block n is borrowed by a frequency measurement on n - 1 */
#define QIO_COUNTER_PWM_LOADED 0x04u  /* a PWM setting is loaded (it can be enabled, or it runs) */
#define QIO_COUNTER_PWM_COUNTED 0x08u /* the loaded setting is a counted run: counter n - 1 is its prescaler */
#define QIO_COUNTER_PRESCALER 0x10u   /* block n is the prescaler of the counted PWM loaded on n + 1 */
#define QIO_COUNTER_RAW_CONFIG 0x20u  /* a raw configuration waits for the next event-counting start */
#define QIO_COUNTER_INTERRUPT 0x40u   /* its terminal-count interrupt is enabled for its function */

/* QioGeneratorState.owner: what owns ClockGenerator n. */
#define QIO_GENERATOR_IDLE 0x00u
#define QIO_GENERATOR_GATE 0x02u        /* time base of a frequency measurement */
#define QIO_GENERATOR_PULSE 0x04u       /* time base of a pulse output */
#define QIO_GENERATOR_PWM 0x08u         /* time base of a PWM setting (or of a counted run's prescaler) */
#define QIO_GENERATOR_FREQOUT 0x0Au     /* a frequency output on FOUTn */
#define QIO_GENERATOR_PWM_MEASURE 0x28u /* time base of a PWM measurement */

/* QioFrequencyState.stage: what the frequency measurement on the counter
 * found the signal to need, as last decided. */
#define QIO_FREQ_NONE 0u         /* no measurement since the last reset */
#define QIO_FREQ_GATE_EDGES 1u   /* 5 MHz and up: the edges of the 2 ms gate */
#define QIO_FREQ_MEDIUM 2u       /* the 2 ms estimate, published; gate clock from generator n */
#define QIO_FREQ_LONG_GATE_1S 3u /* 10 to 50 kHz: 1 s gates in a thread, every 2 s */
#define QIO_FREQ_LONG_GATE_2S 4u /* 5 to 10 kHz: 2 s gates in a thread, every 4 s */
#define QIO_FREQ_PERIOD_BASE 5u  /* below 5 kHz: both phases timed on the 20 MHz base clock */
#define QIO_FREQ_PERIOD_SLOW 6u  /* phases too long for it: a 1.3 s pass on 100 kHz in a thread */
#define QIO_FREQ_FIXED_GATE 7u   /* the caller's gate, in a thread */

/* QioFrequencyState.flags */
#define QIO_FREQ_PUBLISHED 0x01u  /* a result was published since the measurement started */
#define QIO_FREQ_OVER_RANGE 0x02u /* the published result is over range (a lower bound) */
#define QIO_FREQ_PASS_RUNNING 0x04u /* a measurement pass is under way (a thread, or a request's pass) */

/* QioDriverState.openState */
#define QIO_OPEN_CLOSED 0u
#define QIO_OPEN_OPENING 1u /* the first open's work is under way */
#define QIO_OPEN_OPEN 2u
#define QIO_OPEN_CLOSING 3u /* the last close's work is under way */

/* QioDriverState.interruptService */
#define QIO_INTERRUPT_THREAD 0x01u /* the interrupt service thread runs */
#define QIO_INTERRUPT_BOUND 0x02u  /* this board holds the binding of its interrupt line */

/* QioDriverState.flags */
#define QIO_STATE_CONFIGURED 0x01u /* ioBase .. portConfig are valid (not so while a first open applies them) */
#define QIO_STATE_DIRECTIONS 0x02u /* the direction register has been written since the driver started */

typedef struct QioFrequencyState {
  uint16_t method;    /* of the last start: 0 automatic ranging, else the fixed gate in ms */
  uint16_t stage;     /* QIO_FREQ_* */
  uint16_t flags;     /* QIO_FREQ_PUBLISHED, ... */
  uint16_t gateMs;    /* the stage's gate: 2, a medium-range row's 10..2000, or the fixed gate */
  uint16_t gateEdges; /* edges counted in the last 2 ms gate (automatic ranging) */
  uint16_t highTicks; /* the last phase pass: ticks of the high phase */
  uint16_t lowTicks;  /* and of the low phase */
  uint16_t gateClock; /* the generator word of the stage's time base; 0 for the 20 MHz base clock */
  float timebaseHz;   /* what the stage counts: the gate's or the phases' time base */
  float hz;           /* the published result, what CounterFreqRead returns */
  uint32_t sequence;  /* moves on at every publication; never goes back */
} QioFrequencyState;

typedef struct QioCounterState {
  uint16_t function;  /* QIO_FUNCTION_* */
  uint16_t flags;     /* QIO_COUNTER_* */
  uint16_t mode;      /* the block's mode, load and hold registers as last written */
  uint16_t load;
  uint16_t hold;
  uint16_t tally;     /* terminal-count interrupts (since the event-counting start) */
  uint32_t pwmPulses; /* periods of the loaded PWM setting; 0 continuous */
  QioFrequencyState frequency;
} QioCounterState;

typedef struct QioGeneratorState {
  uint16_t owner; /* QIO_GENERATOR_* */
  uint16_t word;  /* as last written: (divisor - 1) | source code << 8 | 0x1000; 0 stopped */
} QioGeneratorState;

typedef struct QioEventSourceState {
  uint32_t triggerCount;   /* the event is signalled on every N-th interrupt; 0 while disabled */
  uint32_t interruptCount; /* interrupts since the event was last signalled */
  uint16_t startPort;      /* DI channels: the first port latched (0 A, 1 B, 2 C) */
  uint16_t portCount;      /* and how many (0 when never set) */
  uint8_t snapshot[4];     /* the ports latched at the channel's latest counted interrupt */
} QioEventSourceState;

typedef struct QioDriverState {
  uint32_t size;    /* in: the caller's sizeof(QioDriverState); out: the bytes written */
  uint32_t version; /* out: QIO_DRIVER_STATE_VERSION of the driver */
  uint32_t flags;   /* QIO_STATE_* */
  int32_t deviceNumber;
  char streamName[12]; /* "Q621:", NUL-terminated */
  uint32_t ioBase;
  uint32_t ioLength;
  uint32_t irq;
  int32_t openCount;
  uint8_t openState;        /* QIO_OPEN_* */
  uint8_t interruptService; /* QIO_INTERRUPT_* */
  uint8_t directionControl; /* the direction register as last written (a set bit makes lines inputs) */
  uint8_t outputsWritten;   /* bit p: port p's data register has been written */
  uint8_t portConfig[3];    /* direction codes of A, B, C from the registry, applied at each first open */
  uint8_t reserved0;
  uint8_t outputLatch[3];   /* the port data registers as last written (DIO requests and raw writes) */
  uint8_t reserved1;
  uint8_t outputRecord[3];  /* what DioReadDoPorts reports: the last DIO request's bytes */
  uint8_t reserved2;
  uint8_t diLatched[3];     /* the DI ports as read at the last DI interrupt */
  uint8_t reserved3;
  uint16_t interruptEnable;   /* the interrupt-enable register as last written */
  uint16_t eventInterrupts;   /* its bits for the enabled event sources */
  uint16_t counterInterrupts; /* its bits for the running counter functions */
  uint16_t reserved4;
  uint32_t eventEnableMask;   /* bit i: event source i is enabled */
  uint32_t lastError;         /* the low part of the last error the device reported */
  QioCounterState counters[QIO_STATE_COUNTERS];
  QioGeneratorState generators[QIO_STATE_COUNTERS];
  QioEventSourceState events[QIO_STATE_EVENT_SOURCES];
  float pwmHighUs;        /* the last PWM measurement: high phase, microseconds */
  float pwmLowUs;         /* low phase */
  uint32_t pwmTimebaseHz; /* the time base it timed the phases on */
} QioDriverState;

#ifdef __cplusplus
}
#endif

#endif /* QIO5162_DRIVER_STATE_H */
