// The logic of the on-device configuration dialog: the base address,
// interrupt line and DIO port directions of one device number, written on OK
// as the device's complete registry configuration (DeviceRegistryWrite.h).
//
// The dialog works on a DeviceSettings record of its own, allocated when it
// opens and freed when it ends. Port lists: item 0 "IN", item 1 "OUT", so an
// item index is a direction bit. The base-address and IRQ lists are sorted as
// text ("IRQ11" comes before "IRQ3").
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DeviceConfigView.h"
#include "RegistryTable.h"

namespace qio::library::dialog {

inline constexpr char kAllocationFailedText[] = "Memory allocation failed!";
inline constexpr char kErrorCaption[] = "Error";

// Settings of a device that has no (valid) registry configuration yet.
inline constexpr std::uint32_t kDefaultBaseAddress = 0x300;
inline constexpr std::uint32_t kDefaultIrq = 5;
inline constexpr std::int32_t kUnassignedIndex = -1;

// What the two port C lists show for a port C code: (lines 0-3, lines 4-7),
// each 0 "IN", 1 "OUT" or -1 nothing. Codes 2 and above 4 select nothing.
struct PortCSelection {
  int low;
  int high;
};
PortCSelection PortCItems(std::uint8_t code);

class DeviceConfigDialog final : public DeviceConfigController {
 public:
  using Allocator = std::function<std::unique_ptr<DeviceSettings>()>;

  // `allocate` makes the working record (default: a zero-filled one; an
  // allocator that returns null stands for a failed allocation).
  explicit DeviceConfigDialog(std::uint32_t deviceNumber, Allocator allocate = {});

  void OnInitDialog(DeviceConfigView& view) override;
  void OnOk() override;
  void OnCancel() override;

  std::uint32_t deviceNumber() const { return deviceNumber_; }
  // The code the dialog ended with, or kEndNotCreated while it runs.
  int endCode() const { return endCode_; }
  // The working record while the dialog is open, null otherwise.
  const DeviceSettings* working() const { return working_.get(); }
  // The texts of a list in list order.
  const std::vector<std::string>& items(int controlId) const;

 private:
  void SetDefaults();
  void FillLists();
  void AddSorted(int controlId, const std::string& text);
  void SelectByPrefix(int controlId, const std::string& prefix);
  void End(int code);
  int Selected(int controlId) const;
  const std::string* SelectedText(int controlId) const;

  std::uint32_t deviceNumber_;
  Allocator allocate_;
  DeviceConfigView* view_ = nullptr;
  std::unique_ptr<DeviceSettings> working_;
  std::vector<std::string> baseItems_;
  std::vector<std::string> irqItems_;
  std::vector<std::string> portItems_;
  int endCode_ = kEndNotCreated;
};

}  // namespace qio::library::dialog
