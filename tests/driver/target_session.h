// A hosted target for the driver tests: boot from registry text, open the
// board's stream device, send requests, drive the board model's pins and read
// its register trace.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qio/platform/clock.h"
#include "qio/platform/kernel.h"
#include "qio5162/target.h"

namespace qio::test {

struct TargetReply {
  int result = 0;
  std::uint32_t error = 0;
  std::uint32_t bytesReturned = 0;
  std::vector<std::uint8_t> out;
};

// The event a board of device number `device` signals for a source.
inline std::string DiEventName(unsigned channel, int device) {
  char name[64];
  std::snprintf(name, sizeof name, "ZQS_EVT_DI_INTERRUPT%u_%03d", channel, device);
  return name;
}

class TargetTest : public ::testing::Test {
 protected:
  static constexpr std::uint16_t kBase = 0x300;
  static constexpr unsigned kIrq = 5;  // the shipped board's line

  void TearDown() override {
    for (QioStream* stream : streams_) qio_target_device_close(stream);
    for (platform::Handle event : events_) platform::CloseHandle(event);
    streams_.clear();
    events_.clear();
    if (target_ != nullptr) {
      EXPECT_EQ(qio_target_shutdown(target_), QIO_TARGET_OK) << qio_target_last_message();
    }
    target_ = nullptr;
  }

  void Boot(const char* text = nullptr, unsigned flags = 0) {
    ASSERT_EQ(qio_target_boot_ex(text, flags, &target_), QIO_TARGET_OK) << qio_target_last_message();
    board_ = qio_target_board(target_, kBase);
  }
  void Shutdown() {
    for (QioStream* stream : streams_) qio_target_device_close(stream);
    streams_.clear();
    for (platform::Handle event : events_) platform::CloseHandle(event);
    events_.clear();
    ASSERT_EQ(qio_target_shutdown(target_), QIO_TARGET_OK) << qio_target_last_message();
    target_ = nullptr;
    board_ = nullptr;
  }

  QioStream* Open(const char* name = "Q621:") {
    QioStream* stream = nullptr;
    EXPECT_EQ(qio_target_device_open(target_, name, &stream), QIO_TARGET_OK) << qio_target_last_message();
    if (stream != nullptr) streams_.push_back(stream);
    return stream;
  }
  void Close(QioStream* stream) {
    EXPECT_EQ(qio_target_device_close(stream), QIO_TARGET_OK);
    std::erase(streams_, stream);
  }

  static TargetReply Ioctl(QioStream* stream, std::uint32_t code, const std::vector<std::uint8_t>& in,
                           std::size_t outLength) {
    TargetReply reply;
    reply.out.assign(outLength, 0xEE);
    reply.result = qio_target_device_ioctl(stream, code, in.empty() ? nullptr : in.data(),
                                           static_cast<std::uint32_t>(in.size()),
                                           outLength == 0 ? nullptr : reply.out.data(),
                                           static_cast<std::uint32_t>(outLength), &reply.bytesReturned, &reply.error);
    return reply;
  }

  std::string Registry() {
    std::size_t needed = 0;
    qio_target_export_registry(target_, nullptr, 0, &needed);
    std::string text(needed, '\0');
    EXPECT_EQ(qio_target_export_registry(target_, text.data(), text.size(), &needed), QIO_TARGET_OK);
    text.resize(needed > 0 ? needed - 1 : 0);
    return text;
  }

  platform::Handle OpenNamedEvent(const std::string& name) {
    const platform::Handle event = platform::OpenEvent(name);
    EXPECT_NE(event, platform::kNullHandle) << name;
    if (event != platform::kNullHandle) events_.push_back(event);
    return event;
  }

  // ---- the board model ----
  void Trace(bool on) { ASSERT_EQ(qio_sim_trace_enable(board_, on ? 1 : 0), QIO_TARGET_OK); }
  std::vector<QioPortAccess> ReadTrace() {
    std::vector<QioPortAccess> all;
    QioPortAccess chunk[256];
    std::size_t count = 0;
    while (qio_sim_trace_read(board_, chunk, 256, &count) == QIO_TARGET_OK && count > 0) {
      all.insert(all.end(), chunk, chunk + count);
    }
    return all;
  }
  static std::vector<std::uint32_t> WritesTo(const std::vector<QioPortAccess>& trace, std::uint16_t offset) {
    std::vector<std::uint32_t> values;
    for (const QioPortAccess& a : trace) {
      if (a.isWrite && a.offset == offset) values.push_back(a.value);
    }
    return values;
  }
  // Waits (platform clock) until the trace shows a write to `offset`; the
  // accesses seen meanwhile are returned through *seen.
  bool WaitForWrite(std::uint16_t offset, std::vector<QioPortAccess>* seen, std::uint32_t timeoutMs = 3000) {
    const std::uint64_t deadline = platform::NowNs() + std::uint64_t{timeoutMs} * 1'000'000;
    do {
      const auto chunk = ReadTrace();
      if (seen != nullptr) seen->insert(seen->end(), chunk.begin(), chunk.end());
      for (const QioPortAccess& a : chunk) {
        if (a.isWrite && a.offset == offset) return true;
      }
      platform::Sleep(1);
    } while (platform::NowNs() < deadline);
    return false;
  }
  // A rising edge on the DI pins of a port (the others held as they are).
  void SetDi(unsigned port, std::uint8_t levels) { ASSERT_EQ(qio_sim_set_di(board_, port, levels), QIO_TARGET_OK); }

  QioTarget* target_ = nullptr;
  QioSimBoard* board_ = nullptr;

 private:
  std::vector<QioStream*> streams_;
  std::vector<platform::Handle> events_;
};

}  // namespace qio::test
