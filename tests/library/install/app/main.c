/* A small application written only against Zqs5162.h: the first DeviceOpen
 * boots the default hosted target. Exits 0 when every step gave what the
 * board should give. */
#include <stdio.h>
#include <string.h>

#include <qio5162/Zqs5162.h>

static int failures = 0;

static void expect(int ok, const char* what, uint32_t result) {
  if (!ok) {
    fprintf(stderr, "FAILED: %s (result 0x%X)\n", what, (unsigned)result);
    ++failures;
  }
}

int main(void) {
  uint32_t h = 0;
  uint32_t r = DeviceOpen(0, &h);
  expect(r == ZQS_SUCCESS && h != 0, "DeviceOpen(0)", r);
  if (r != ZQS_SUCCESS) return 1;

  uint8_t features[ZQS_FEATURES_SIZE];
  r = DeviceGetFeatures(h, features, sizeof features);
  expect(r == ZQS_SUCCESS && features[48] == 166, "DeviceGetFeatures", r);

  uint32_t channels = 0, length = sizeof channels;
  r = DeviceGetProperty(h, ZQS_PROPERTY_DI_CHANNELS, &channels, &length);
  expect(r == ZQS_SUCCESS && channels == 24 && length == 4, "DeviceGetProperty(0x3C83)", r);

  r = DioSetPortMode(h, 1, ZQS_DIR_OUTPUT);
  expect(r == ZQS_SUCCESS, "DioSetPortMode", r);
  r = DioWritePortByte(h, 1, 0xFF, 0xA5);
  expect(r == ZQS_SUCCESS, "DioWritePortByte", r);
  uint8_t current = 0;
  r = DioGetCurrentDOByte(h, 1, &current);
  expect(r == ZQS_SUCCESS && current == 0xA5, "DioGetCurrentDOByte", r);

  uint16_t type = 0;
  r = CheckEvent(h, &type, 0);
  expect(r == ZQS_SUCCESS && type == ZQS_EVENT_TIMEOUT, "CheckEvent", r);

  r = DeviceClose(&h);
  expect(r == ZQS_SUCCESS && h == 0, "DeviceClose", r);
  expect(DioReadPortByte(0x1001, 0, &current) == ZQS_ERROR_HANDLE, "stale handle", 0);

  if (failures == 0) printf("qio5162 application: all steps passed\n");
  return failures == 0 ? 0 : 1;
}
