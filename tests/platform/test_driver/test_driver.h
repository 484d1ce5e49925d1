/* The test stream driver (prefix "TST"): its control codes and its journal.
 *
 * The driver reads its behaviour from its built-in key (the "Key" of the
 * active key it is given):
 *   "FailInit"   dword, nonzero: TST_Init refuses, last error = the value
 *   "RefuseOpen" dword, nonzero: TST_Open refuses, last error = the value
 *                (1: refuses without setting an error)
 * Each device keeps a 256-byte store that TST_Read and TST_Write use at the
 * open's position (TST_Seek: 0 from the start, 1 from the position, 2 from the
 * end of the written data).
 *
 * The journal records every entry-point call, one line each ("Init
 * Drivers\Active\01", "Open TST1:", "IOControl TST1: 0x1", "Close TST1:",
 * "Deinit TST1:", "PowerDown TST1:", "PowerUp TST1:", "QueryState TST1:"), and
 * outlives the
 * device manager as long as the test holds its own reference to the module.
 * TST_QueryState (not in the minimal variant) gives the stream name. */
#ifndef QIO_TESTS_TEST_DRIVER_H
#define QIO_TESTS_TEST_DRIVER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Control codes. */
#define TST_IOCTL_ECHO 0x1u        /* out := in; FALSE/122 when out is shorter */
#define TST_IOCTL_FAIL 0x2u        /* FALSE, last error = the dword in */
#define TST_IOCTL_STATUS 0x3u      /* returns the dword in as the result */
#define TST_IOCTL_NAME 0x4u        /* out := the stream name read from "Name", NUL-terminated */
#define TST_IOCTL_BLOCK 0x5u       /* waits (up to 10 s) for the event handle in the dword in */
#define TST_IOCTL_KEY 0x6u         /* out := the "Key" value read at Init, NUL-terminated */

#define TST_STORE_SIZE 256u

/* The journal as text, lines ending in '\n'; returns the length (the text is
 * cut to capacity - 1 characters and always terminated). */
typedef size_t (*TstJournalReadFn)(char* buffer, size_t capacity);
typedef void (*TstJournalClearFn)(void);

#ifdef __cplusplus
}
#endif

#endif
