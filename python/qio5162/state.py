"""The driver's view of one board (``qio5162/driver_state.h``), read with
:meth:`qio5162.Target.driver_state`: the record as ctypes structures, and its decoding into plain
Python values."""

import ctypes

u8 = ctypes.c_uint8
u16 = ctypes.c_uint16
u32 = ctypes.c_uint32
i32 = ctypes.c_int32
f32 = ctypes.c_float

STATE_VERSION = 1
COUNTERS = 2
EVENT_SOURCES = 26
PORTS = 3

FUNCTIONS = {0x00: "idle", 0x01: "event counting", 0x02: "frequency", 0x04: "pulse", 0x08: "pwm",
             0x28: "pwm measurement"}
GENERATOR_OWNERS = {0x00: "idle", 0x02: "frequency gate", 0x04: "pulse", 0x08: "pwm", 0x0A: "frequency output",
                    0x28: "pwm measurement"}
FREQUENCY_STAGES = {0: "none", 1: "gate edges", 2: "medium range", 3: "long gate 1 s", 4: "long gate 2 s",
                    5: "period, base clock", 6: "period, slow pass", 7: "fixed gate"}
OPEN_STATES = {0: "closed", 1: "opening", 2: "open", 3: "closing"}
COUNTER_FLAGS = {0x01: "has partner", 0x02: "is partner", 0x04: "pwm loaded", 0x08: "pwm counted",
                 0x10: "prescaler", 0x20: "raw configuration", 0x40: "interrupt"}
FREQUENCY_FLAGS = {0x01: "published", 0x02: "over range", 0x04: "pass running"}


class FrequencyState(ctypes.Structure):
    """``QioFrequencyState``."""

    _fields_ = [("method", u16), ("stage", u16), ("flags", u16), ("gateMs", u16), ("gateEdges", u16),
                ("highTicks", u16), ("lowTicks", u16), ("gateClock", u16), ("timebaseHz", f32), ("hz", f32),
                ("sequence", u32)]


class CounterState(ctypes.Structure):
    """``QioCounterState``."""

    _fields_ = [("function", u16), ("flags", u16), ("mode", u16), ("load", u16), ("hold", u16), ("tally", u16),
                ("pwmPulses", u32), ("frequency", FrequencyState)]


class GeneratorState(ctypes.Structure):
    """``QioGeneratorState``."""

    _fields_ = [("owner", u16), ("word", u16)]


class EventSourceState(ctypes.Structure):
    """``QioEventSourceState``."""

    _fields_ = [("triggerCount", u32), ("interruptCount", u32), ("startPort", u16), ("portCount", u16),
                ("snapshot", u8 * 4)]


class DriverState(ctypes.Structure):
    """``QioDriverState``: set ``size`` to ``ctypes.sizeof(DriverState)`` before the call."""

    _fields_ = [("size", u32), ("version", u32), ("flags", u32), ("deviceNumber", i32),
                ("streamName", ctypes.c_char * 12), ("ioBase", u32), ("ioLength", u32), ("irq", u32),
                ("openCount", i32), ("openState", u8), ("interruptService", u8), ("directionControl", u8),
                ("outputsWritten", u8), ("portConfig", u8 * 3), ("reserved0", u8), ("outputLatch", u8 * 3),
                ("reserved1", u8), ("outputRecord", u8 * 3), ("reserved2", u8), ("diLatched", u8 * 3),
                ("reserved3", u8), ("interruptEnable", u16), ("eventInterrupts", u16),
                ("counterInterrupts", u16), ("reserved4", u16), ("eventEnableMask", u32), ("lastError", u32),
                ("counters", CounterState * COUNTERS), ("generators", GeneratorState * COUNTERS),
                ("events", EventSourceState * EVENT_SOURCES), ("pwmHighUs", f32), ("pwmLowUs", f32),
                ("pwmTimebaseHz", u32)]


def _flags(value, names):
    return [name for bit, name in names.items() if value & bit]


def _named(value, names):
    return names.get(value, "0x%02X" % value)


def decode(record):
    """A :class:`DriverState` as a dict of plain values: names for the codes, lists for the arrays."""
    counters = []
    for counter in record.counters:
        frequency = counter.frequency
        counters.append({
            "function": _named(counter.function, FUNCTIONS),
            "flags": _flags(counter.flags, COUNTER_FLAGS),
            "mode": counter.mode,
            "load": counter.load,
            "hold": counter.hold,
            "tally": counter.tally,
            "pwm_pulses": counter.pwmPulses,
            "frequency": {
                "method": frequency.method,
                "stage": _named(frequency.stage, FREQUENCY_STAGES),
                "flags": _flags(frequency.flags, FREQUENCY_FLAGS),
                "gate_ms": frequency.gateMs,
                "gate_edges": frequency.gateEdges,
                "high_ticks": frequency.highTicks,
                "low_ticks": frequency.lowTicks,
                "gate_clock": frequency.gateClock,
                "timebase_hz": frequency.timebaseHz,
                "hz": frequency.hz,
                "sequence": frequency.sequence,
            },
        })
    events = {}
    for source, event in enumerate(record.events):
        if record.eventEnableMask & (1 << source):
            events[source] = {"trigger_count": event.triggerCount, "interrupt_count": event.interruptCount,
                              "start_port": event.startPort, "port_count": event.portCount,
                              "snapshot": bytes(event.snapshot)}
    return {
        "version": record.version,
        "configured": bool(record.flags & 0x01),
        "device_number": record.deviceNumber,
        "stream_name": record.streamName.decode("ascii", "replace"),
        "io_base": record.ioBase,
        "io_length": record.ioLength,
        "irq": record.irq,
        "open_count": record.openCount,
        "open_state": _named(record.openState, OPEN_STATES),
        "interrupt_thread": bool(record.interruptService & 0x01),
        "interrupt_bound": bool(record.interruptService & 0x02),
        "direction_control": record.directionControl,
        "port_config": list(record.portConfig),
        "output_latch": list(record.outputLatch),
        "output_record": list(record.outputRecord),
        "di_latched": list(record.diLatched),
        "interrupt_enable": record.interruptEnable,
        "event_interrupts": record.eventInterrupts,
        "counter_interrupts": record.counterInterrupts,
        "events": events,
        "last_error": record.lastError,
        "counters": counters,
        "generators": [{"owner": _named(g.owner, GENERATOR_OWNERS), "word": g.word} for g in record.generators],
        "pwm_high_us": record.pwmHighUs,
        "pwm_low_us": record.pwmLowUs,
        "pwm_timebase_hz": record.pwmTimebaseHz,
    }
