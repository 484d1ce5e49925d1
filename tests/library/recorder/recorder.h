/* A stream driver (prefix "REC") that records every device-control request
 * it is sent, answers with canned responses and fails on demand. The library
 * tests open it through the registry like the real driver ("CallName"
 * "REC1:"), so the request records the library builds can be checked byte
 * for byte, and a call that must send nothing can be seen to send nothing.
 *
 * The test links this library; the device manager loads the same file by its
 * name "ZqsRecorder.dll", so both see one journal. */
#ifndef QIO_TESTS_LIBRARY_RECORDER_H
#define QIO_TESTS_LIBRARY_RECORDER_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define REC_API __attribute__((visibility("default")))
#else
#define REC_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define REC_MAX_INPUT 64u

typedef struct {
  uint32_t code;
  uint32_t inLength;
  uint8_t in[REC_MAX_INPUT]; /* the first bytes of the input, as received */
  uint32_t outLength;
  int outGiven;              /* the output pointer was not null */
} RecRequest;

/* Requests recorded since the last rec_clear, oldest first. */
REC_API size_t rec_count(void);
REC_API int rec_get(size_t index, RecRequest* request);
REC_API void rec_clear(void);

/* The bytes written to the output of every later request with `code` (at
 * most the output length); without one the output is left as it is. */
REC_API void rec_set_response(uint32_t code, const void* bytes, uint32_t length);
/* Every later request with `code` (0: any code) fails: FALSE with the last
 * error `lastError` (0: FALSE without setting an error). */
REC_API void rec_fail(uint32_t code, uint32_t lastError);
/* Forgets requests, responses and failures. */
REC_API void rec_reset(void);

/* Opens minus closes of the stream device, and the number of closes. */
REC_API int rec_open_count(void);
REC_API int rec_close_count(void);

#ifdef __cplusplus
}
#endif

#endif
