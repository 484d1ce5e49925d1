"""Numbers of the library and the harness: result codes, event types, directions,
generator sources, dialog results, harness errors, pins and wiring sources."""

# ---- result codes -----------------------------------------------------------
SUCCESS = 0
ERROR_CONFIGURATION = 2  # DeviceOpen: no complete registry configuration, or not this board
ERROR_HANDLE = 3  # null, closed or made-up driver handle
ERROR_PORT_WINDOW = 10  # raw port address outside the board's port window
ERROR_FUNCTION = 27  # DriverProc: function number not in its table

LOW_CREATE = 0x001
LOW_RANGE = 0x007
LOW_ARGUMENT = 0x00A
LOW_BOARD_ID = 0x018
LOW_STREAM = 0x01A
LOW_PARAMETER = 0x020
LOW_EVENT_TYPE = 0x028
LOW_BUSY = 0x032
LOW_PROPERTY = 0x03E
LOW_WAIT = 0x03F
LOW_OUTSIDE_WINDOW = 0x040
LOW_DI_CHANNEL = 0x068


def error_base(device_number):
    """The first device code of a device number: ``0x1000`` for device 0, ``0x2000`` for device 1."""
    return device_number * 0x1000 + 0x1000


# ---- events -----------------------------------------------------------------
EVENT_NONE = 0x0000
EVENT_DI_FIRST = 0x3400
EVENT_DI_LAST = 0x3417
EVENT_TERMINAL_COUNT0 = 0x5000
EVENT_TERMINAL_COUNT1 = 0x5001
EVENT_DEVICE_CLOSED = 0xFFFE
EVENT_TIMEOUT = 0xFFFF
INFINITE = 0xFFFFFFFF  # check_event: wait without limit

# ---- DIO directions -----------------------------------------------------------
DIR_INPUT = 0
DIR_OUTPUT = 1
DIR_LOW_IN_HIGH_OUT = 3  # port C only: lines 0-3 input, 4-7 output ("in/out")
DIR_LOW_OUT_HIGH_IN = 4  # port C only: lines 0-3 output, 4-7 input ("out/in")

# ---- generator sources of freq_out_start (already shifted into bits 8-10) ---------
SOURCE_10MHZ = 0x0300
SOURCE_1MHZ = 0x0400
SOURCE_100KHZ = 0x0500
SOURCE_10KHZ = 0x0600
SOURCE_1KHZ = 0x0700

# ---- the dialog of device_config ------------------------------------------------
DIALOG_NO_MEMORY = 0
DIALOG_OK = 1
DIALOG_CANCEL = 2
DIALOG_FAILED = 0xFFFFFFFF

FEATURES_SIZE = 800

# ---- property identifiers ----------------------------------------------------
PROPERTY_DEVICE_NUMBER = 0x0000
PROPERTY_BOARD_ID = 0x0001
PROPERTY_BASE_ADDRESS = 0x0003
PROPERTY_IRQ = 0x0004
PROPERTY_DIO_OUTPUT_MASKS = 0x3004
PROPERTY_DIO_PORT_GROUPS = 0x3005
PROPERTY_DIO_OUTPUT_MASKS2 = 0x3006
PROPERTY_DI_CHANNELS = 0x3C83
PROPERTY_DI_PORTS = 0x3C84
PROPERTY_DO_CHANNELS = 0x4807
PROPERTY_DO_PORTS = 0x4808
PROPERTY_COUNTER_EVENT_TYPES = 0x5006
PROPERTY_PWM_LIMITS = 0x5008

# ---- DriverProc function numbers ---------------------------------------------------
FN_DEVICE_OPEN = 0
FN_DEVICE_CLOSE = 1
FN_DEVICE_GET_FEATURES = 2
FN_DIO_SET_PORT_MODE = 18
FN_DIO_GET_CONFIG = 19
FN_DIO_READ_PORT_BYTE = 20
FN_DIO_WRITE_PORT_BYTE = 21
FN_DIO_READ_BIT = 22
FN_DIO_WRITE_BIT = 23
FN_DIO_GET_CURRENT_DO_BYTE = 24
FN_DIO_GET_CURRENT_DO_BIT = 25
FN_WRITE_PORT_WORD = 27
FN_READ_PORT_WORD = 29
FN_COUNTER_EVENT_START = 30
FN_COUNTER_EVENT_READ = 31
FN_COUNTER_FREQ_START = 32
FN_COUNTER_FREQ_READ = 33
FN_COUNTER_PULSE_START = 34
FN_COUNTER_RESET = 35
FN_ENABLE_EVENT = 77
FN_CHECK_EVENT = 78
FN_COUNTER_PWM_SETTING = 84
FN_COUNTER_PWM_ENABLE = 85
FN_PWM_START_READ = 100
FN_FREQOUT_START = 104
FN_FREQOUT_RESET = 105
FN_COUNTER_CONFIG = 106
FN_DEVICE_SET_PROPERTY = 108
FN_DEVICE_GET_PROPERTY = 109
FN_WRITE_PORT_WORD_ALT = 110
FN_READ_PORT_DWORD = 111
FN_DIO_READ_PORT_WORD = 122
FN_DIO_WRITE_PORT_WORD = 123
FN_DIO_READ_PORT_DWORD = 124
FN_DIO_WRITE_PORT_DWORD = 125
FN_DIO_GET_CURRENT_DO_WORD = 126
FN_DIO_GET_CURRENT_DO_DWORD = 127
FN_DIO_ENABLE_EVENT_DI_PORTS = 131
FN_DIO_DISABLE_EVENT = 132
FN_DIO_GET_LATEST_EVENT_DI_PORTS = 133
FN_DIO_READ_DI_PORTS = 134
FN_DIO_WRITE_DO_PORTS = 135
FN_DIO_GET_CURRENT_DO_PORTS = 136

# ---- the harness ----------------------------------------------------------------
TARGET_OK = 0
TARGET_E_ARGUMENT = 1
TARGET_E_STATE = 2
TARGET_E_REGISTRY = 3
TARGET_E_DEVICE = 4
TARGET_E_SPACE = 5
TARGET_E_BUS = 6
TARGET_E_FILE = 7
TARGET_E_RESOURCE = 8

TARGET_BARE = 0x1
TARGET_NO_BOARDS = 0x2
TARGET_VIRTUAL_TIME = 0x4

# Sources of Board.wire_counter_input.
WIRE_OUT0 = 0
WIRE_OUT1 = 1
WIRE_FOUT0 = 2
WIRE_FOUT1 = 3

# Pins of Board.list_edges.
PIN_CLK0 = 0
PIN_CLK1 = 1
PIN_OUT0 = 2
PIN_OUT1 = 3
PIN_FOUT0 = 4
PIN_FOUT1 = 5
PIN_PORT_A = 6
PIN_PORT_B = 7
PIN_PORT_C = 8
PIN_COUNT = 9
