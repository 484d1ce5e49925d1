/* The stream-driver interface of the hosted device manager: the entry points a
 * driver module exports, with C linkage, under its three-letter prefix
 * (XXX_Init, XXX_Open, ...). Device and open contexts are pointer-sized values
 * chosen by the driver; 0 means failure. Results typed int are TRUE (1) or
 * FALSE (0). */
#ifndef QIO_PLATFORM_STREAM_DRIVER_H
#define QIO_PLATFORM_STREAM_DRIVER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uintptr_t (*QioStreamInit)(const char* activeKey, const void* busContext);
typedef int (*QioStreamDeinit)(uintptr_t deviceContext);
typedef uintptr_t (*QioStreamOpen)(uintptr_t deviceContext, uint32_t accessCode, uint32_t shareMode);
typedef int (*QioStreamClose)(uintptr_t openContext);
typedef uint32_t (*QioStreamRead)(uintptr_t openContext, void* buffer, uint32_t count);
typedef uint32_t (*QioStreamWrite)(uintptr_t openContext, const void* buffer, uint32_t count);
typedef uint32_t (*QioStreamSeek)(uintptr_t openContext, int32_t amount, uint32_t method);
typedef void (*QioStreamPower)(uintptr_t deviceContext);
typedef int (*QioStreamIoControl)(uintptr_t openContext, uint32_t code, const uint8_t* inBuffer,
                                  uint32_t inLength, uint8_t* outBuffer, uint32_t outLength,
                                  uint32_t* bytesReturned);
/* An optional query entry point (XXX_QueryState): fills at most `size` bytes
 * of a record the driver defines, for the instance of the device context,
 * without an open; TRUE or FALSE. */
typedef int (*QioStreamQuery)(uintptr_t deviceContext, void* record, uint32_t size);

/* Access and share modes passed to XXX_Open (the target's values). */
#define QIO_GENERIC_READ 0x80000000u
#define QIO_GENERIC_WRITE 0x40000000u
#define QIO_FILE_SHARE_READ 0x00000001u
#define QIO_FILE_SHARE_WRITE 0x00000002u

#ifdef __cplusplus
}
#endif

#endif
