#include "config/script/ScriptPath.h"

#include "config/script/RegScriptFile.h"

namespace qio::config {

std::optional<std::string> ScriptPathFor(std::string_view root, std::string_view component) {
  const std::string_view name = component.substr(0, 7);
  std::string path(root);
  path.append("Public/Quillory/Device_Drivers/").append(name).append("/").append(name).append(".reg");
  if (path.size() + 1 > RegScriptFile::kPathChars) return std::nullopt;
  return path;
}

}  // namespace qio::config
