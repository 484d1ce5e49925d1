// Export control of the platform library, the hosted stand-in for the
// target's core system library. Everything declared with QIO_PLATFORM_API is
// shared by the driver, the library, the board model and the target, so a
// process has exactly one registry, one handle table and one namespace of
// named objects.
#pragma once

#define QIO_PLATFORM_API __attribute__((visibility("default")))
