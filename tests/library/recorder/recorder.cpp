// The recording stream driver; see recorder.h.
#include "recorder.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "qio/platform/errors.h"

namespace {

struct Journal {
  std::mutex mutex;
  std::vector<RecRequest> requests;
  std::map<std::uint32_t, std::vector<std::uint8_t>> responses;
  std::map<std::uint32_t, std::uint32_t> failures;  // code (0 = any) -> last error
  int opens = 0;
  int closes = 0;
};

Journal& TheJournal() {
  static Journal* journal = new Journal;
  return *journal;
}

constexpr uintptr_t kContext = 0x5EC0;

}  // namespace

extern "C" {

REC_API uintptr_t REC_Init(const char* /*activeKey*/, const void* /*busContext*/) { return kContext; }
REC_API int REC_Deinit(uintptr_t context) { return context == kContext; }

REC_API uintptr_t REC_Open(uintptr_t context, uint32_t /*access*/, uint32_t /*share*/) {
  Journal& j = TheJournal();
  std::scoped_lock lock(j.mutex);
  ++j.opens;
  return context;
}

REC_API int REC_Close(uintptr_t /*context*/) {
  Journal& j = TheJournal();
  std::scoped_lock lock(j.mutex);
  ++j.closes;
  return 1;
}

REC_API int REC_IOControl(uintptr_t /*context*/, uint32_t code, const uint8_t* in, uint32_t inLength, uint8_t* out,
                          uint32_t outLength, uint32_t* bytesReturned) {
  Journal& j = TheJournal();
  std::scoped_lock lock(j.mutex);
  RecRequest request{};
  request.code = code;
  request.inLength = inLength;
  if (in != nullptr) std::memcpy(request.in, in, std::min<std::uint32_t>(inLength, REC_MAX_INPUT));
  request.outLength = outLength;
  request.outGiven = out != nullptr;
  j.requests.push_back(request);
  if (bytesReturned != nullptr) *bytesReturned = 0;

  auto failure = j.failures.find(code);
  if (failure == j.failures.end()) failure = j.failures.find(0);
  if (failure != j.failures.end()) {
    if (failure->second != 0) qio::platform::SetLastError(failure->second);
    return 0;
  }
  auto response = j.responses.find(code);
  if (response != j.responses.end() && out != nullptr) {
    const auto n = std::min<std::uint32_t>(outLength, static_cast<std::uint32_t>(response->second.size()));
    std::memcpy(out, response->second.data(), n);
    if (bytesReturned != nullptr) *bytesReturned = n;
  }
  return 1;
}

REC_API size_t rec_count(void) {
  Journal& j = TheJournal();
  std::scoped_lock lock(j.mutex);
  return j.requests.size();
}

REC_API int rec_get(size_t index, RecRequest* request) {
  Journal& j = TheJournal();
  std::scoped_lock lock(j.mutex);
  if (request == nullptr || index >= j.requests.size()) return 0;
  *request = j.requests[index];
  return 1;
}

REC_API void rec_clear(void) {
  Journal& j = TheJournal();
  std::scoped_lock lock(j.mutex);
  j.requests.clear();
}

REC_API void rec_set_response(uint32_t code, const void* bytes, uint32_t length) {
  Journal& j = TheJournal();
  std::scoped_lock lock(j.mutex);
  const auto* b = static_cast<const std::uint8_t*>(bytes);
  j.responses[code].assign(b, b + length);
}

REC_API void rec_fail(uint32_t code, uint32_t lastError) {
  Journal& j = TheJournal();
  std::scoped_lock lock(j.mutex);
  j.failures[code] = lastError;
}

REC_API void rec_reset(void) {
  Journal& j = TheJournal();
  std::scoped_lock lock(j.mutex);
  j.requests.clear();
  j.responses.clear();
  j.failures.clear();
}

REC_API int rec_open_count(void) {
  Journal& j = TheJournal();
  std::scoped_lock lock(j.mutex);
  return j.opens - j.closes;
}

REC_API int rec_close_count(void) {
  Journal& j = TheJournal();
  std::scoped_lock lock(j.mutex);
  return j.closes;
}

}  // extern "C"
