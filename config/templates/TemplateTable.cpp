#include "config/templates/TemplateTable.h"

#include <cstring>

#include "config/script/RegScriptFile.h"

namespace qio::config {

TemplateTable::TemplateTable(MessageSink* messages, FileLayer& files)
    : messages_(messages), files_(files) {}

int TemplateTable::Load(const std::string& scriptPath) {
  slots_.fill(TemplateRecord{});
  lastError_.clear();
  // One editor serves all sections: the file does not change while reading.
  RegScriptFile script(files_);
  if (const int rc = script.Open(scriptPath.c_str()); rc != 0) {
    lastError_ = script.message();
    return rc;
  }
  Load(script.script());
  return 0;
}

void TemplateTable::Load(const ScriptText& script) {
  slots_.fill(TemplateRecord{});
  for (int n = 0; n < kTemplateSlots; ++n) {
    std::uint32_t ioBase = 0;
    std::uint32_t irq = 0;
    std::array<std::uint8_t, 3> portConfig{};
    ValueEntry table[] = {
        {"IoBase", kTypeDword, sizeof ioBase, &ioBase},
        {"Irq", kTypeDword, sizeof irq, &irq},
        {"DigPortCfg", kTypeBinary, static_cast<std::uint32_t>(portConfig.size()), portConfig.data()},
        {nullptr, 0, 0, nullptr},
    };
    script.ReadValues(n, table);
    // A line of another form under a known name (a string where a number
    // belongs) is taken as missing, not reinterpreted.
    TemplateRecord& record = slots_[static_cast<std::size_t>(n)];
    if (table[0].type == kTypeDword) record.ioBase = ioBase;
    if (table[1].type == kTypeDword) record.irq = irq;
    if (table[2].type == kTypeBinary) record.portConfig = portConfig;
    record.inUse = record.ioBase != 0 ? 1 : 0;
  }
}

int TemplateTable::AllocateSlot() {
  for (int n = 0; n < kTemplateSlots; ++n) {
    TemplateRecord& record = slots_[static_cast<std::size_t>(n)];
    if (record.inUse == 0) {
      record.inUse = 1;
      return n;
    }
  }
  return kTemplateSlots;
}

void TemplateTable::ApplyDefaults(int n) {
  if (!ValidSlot(n)) return;
  std::uint32_t usedLines = 0;
  for (const auto& record : slots_) {
    if (record.irq != 0 && record.irq < 32) usedLines |= 1u << record.irq;
  }
  std::uint32_t line = 0;
  bool found = false;
  for (std::uint32_t candidate = 0; candidate < 16 && !found; ++candidate) {
    const std::uint32_t bit = 1u << candidate;
    if ((kIrqMask & bit) != 0 && (usedLines & bit) == 0) {
      line = candidate;
      found = true;
    }
  }
  if (!found) {
    if (messages_ != nullptr) messages_->ShowMessage(kNoFreeIrqMessage, kWarningCaption);
    line = kDefaultIrq;
  }

  std::uint32_t base = kBaseAddresses.back();
  for (const auto candidate : kBaseAddresses) {
    if (!IsBaseInUse(candidate)) {
      base = candidate;
      break;
    }
  }

  TemplateRecord& record = slots_[static_cast<std::size_t>(n)];
  record.ioBase = base;
  record.irq = line;
  record.portConfig = {kPortInput, kPortInput, kPortCInput};
  record.inUse = 1;
}

bool TemplateTable::IsBaseInUse(std::uint32_t value) const {
  for (const auto& record : slots_) {
    if (record.ioBase == value) return true;
  }
  return false;
}

bool TemplateTable::IsIrqInUse(std::uint32_t value) const {
  for (const auto& record : slots_) {
    if (record.irq == value) return true;
  }
  return false;
}

void TemplateTable::RemoveSlot(int n) {
  if (!ValidSlot(n)) return;
  TemplateRecord& record = slots_[static_cast<std::size_t>(n)];
  record.inUse = 0;
  record.ioBase = 0;
  record.irq = 0;
}

bool TemplateTable::Save(const std::string& scriptPath) {
  lastError_.clear();
  lastSaveInPlace_ = false;
  RegScriptFile script(files_);
  if (script.Open(scriptPath.c_str()) != 0) {
    lastError_ = script.message();
    return false;
  }
  ScriptText edited = script.script();
  if (!Apply(edited)) {
    lastError_ = edited.error();
    return false;
  }
  if (const int rc = script.Replace(edited); rc != 0) {
    lastError_ = script.message().empty() ? std::strerror(rc) : script.message();
    return false;
  }
  lastSaveInPlace_ = script.lastWriteInPlace();
  return true;
}

bool TemplateTable::Apply(ScriptText& script) {
  // Sections of free slots go first, from the top down.
  for (int n = kTemplateSlots - 1; n >= 0; --n) {
    if (slots_[static_cast<std::size_t>(n)].inUse != 0) continue;
    if (script.RemoveSection(n) != 0) return false;
  }
  for (int n = 0; n < kTemplateSlots; ++n) {
    if (slots_[static_cast<std::size_t>(n)].inUse == 0) continue;
    if (!WriteTemplate(script, n)) return false;
  }
  return true;
}

bool TemplateTable::WriteTemplate(ScriptText& script, int n) {
  // Without its header the values would land in whatever section is last.
  if (!script.SectionExists(n) && script.AppendSection(n) != 0) return false;
  TemplateRecord& record = slots_[static_cast<std::size_t>(n)];
  record.timerClock = kTimerClock;
  char prefix[] = "Q62";
  char dll[] = "Zqs5162s.dll";
  std::uint32_t order = 0;
  auto deviceIndex = static_cast<std::uint32_t>(n);
  std::uint32_t ioLength = kPortWindowLength;
  const ValueEntry table[] = {
      {"Prefix", kTypeString, sizeof prefix, prefix},
      {"Dll", kTypeString, sizeof dll, dll},
      {"Order", kTypeDword, sizeof order, &order},
      {"DeviceIndex", kTypeDword, sizeof deviceIndex, &deviceIndex},
      {"IoBase", kTypeDword, sizeof record.ioBase, &record.ioBase},
      {"IoLen", kTypeDword, sizeof ioLength, &ioLength},
      {"Irq", kTypeDword, sizeof record.irq, &record.irq},
      {"TimerClock", kTypeDword, sizeof record.timerClock, &record.timerClock},
      {"DigPortCfg", kTypeBinary, static_cast<std::uint32_t>(record.portConfig.size()),
       record.portConfig.data()},
      {nullptr, 0, 0, nullptr},
  };
  return script.WriteValues(n, table) == 1;
}

}  // namespace qio::config
