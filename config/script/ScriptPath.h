// Where a component's registry script lives in an image-build tree.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qio::config {

inline constexpr std::string_view kDefaultComponent = "QIO5162";

// root + "Public/Quillory/Device_Drivers/" + component + "/" + component +
// ".reg", with the first 7 characters of `component`. `root` is used as given
// and should end with "/". Empty when the path and its terminator would not
// fit RegScriptFile::kPathChars characters.
std::optional<std::string> ScriptPathFor(std::string_view root, std::string_view component);

}  // namespace qio::config
