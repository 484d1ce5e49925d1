// The table of the 16 device templates of a board's registry script. Slot n
// is the script's section n (the key ending in "ZQS5162S" + n, whose
// "DeviceIndex" is n); slot numbers never move, so a template keeps its key
// from one edit to the next.
//
// The table is filled by Load, changed in memory (AllocateSlot, ApplyDefaults,
// RemoveSlot, or directly through Record), and written by Save. A slot is
// free (inUse, ioBase and irq zero) or holds a template. Single-threaded.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "config/script/FileLayer.h"
#include "config/script/ScriptText.h"
#include "config/templates/MessageSink.h"
#include "config/templates/TemplateRecord.h"

namespace qio::config {

inline constexpr std::string_view kNoFreeIrqMessage = "No free IRQ can be allocated, conflict might occur";
inline constexpr std::string_view kWarningCaption = "Warning";

class TemplateTable {
 public:
  // `messages` receives the warning of ApplyDefaults (may be null: dropped);
  // `files` is the file layer every script editor uses.
  explicit TemplateTable(MessageSink* messages = nullptr, FileLayer& files = FileLayer::System());

  // Fills all 16 slots from the script: a section whose "IoBase" is nonzero is
  // a template. Returns 0, or the errno of opening the script (the table is
  // then empty; lastError() may say more).
  int Load(const std::string& scriptPath);
  // The same from a script held in memory.
  void Load(const ScriptText& script);

  // The lowest free slot, now marked in use; kTemplateSlots when all are used.
  int AllocateSlot();
  // Gives the freshly allocated slot n the lowest free interrupt line of the
  // mask (warning and kDefaultIrq when none is free), the first base address
  // no slot uses (the last one when all are used) and all ports input.
  void ApplyDefaults(int n);

  // True when any of the 16 slots, free ones and the one being edited
  // included, has this base address or interrupt line.
  bool IsBaseInUse(std::uint32_t value) const;
  bool IsIrqInUse(std::uint32_t value) const;

  // Frees slot n; its port directions and timer clock are kept until reused.
  void RemoveSlot(int n);

  // Brings the script in line with the table: sections of free slots are
  // removed, those of templates written. Every change is composed in memory
  // and the script is written once, in one step (ReplaceFile), so an
  // interrupted save leaves the old or the new script. Shows no message.
  // Returns true when the script holds the table; false when it could not be
  // opened, a change could not be composed or the write failed (the script is
  // then as it was; lastError() may say more).
  bool Save(const std::string& scriptPath);
  // Makes the same changes to a script held in memory. False when one of
  // them fails (the script is then partly changed: discard it).
  bool Apply(ScriptText& script);

  // Why the last Load or Save failed, when there is more to say than its
  // errno; empty otherwise.
  const std::string& lastError() const { return lastError_; }
  // True when the last Save wrote the script in place, its directory taking
  // no new file: an interruption then could have damaged it.
  bool lastSaveInPlace() const { return lastSaveInPlace_; }

  TemplateRecord& Record(int n) { return slots_.at(static_cast<std::size_t>(n)); }
  const TemplateRecord& Record(int n) const { return slots_.at(static_cast<std::size_t>(n)); }
  const std::array<TemplateRecord, kTemplateSlots>& Slots() const { return slots_; }

 private:
  static bool ValidSlot(int n) { return n >= 0 && n < kTemplateSlots; }
  bool WriteTemplate(ScriptText& script, int n);

  MessageSink* messages_;
  FileLayer& files_;
  std::array<TemplateRecord, kTemplateSlots> slots_{};
  std::string lastError_;
  bool lastSaveInPlace_ = false;
};

}  // namespace qio::config
