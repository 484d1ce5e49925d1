// How a failed command is reported: a message on stderr (with the usage line
// and where to find help, or the library's code and what it means, and any
// hints), and with --json also one JSON document on stdout:
//   {"error": {"kind": "usage"|"device", "exitCode": 2|1, "message": ...,
//              "usage": ..., "call": ..., "code": ..., "codeText": ...,
//              "meaning": ..., "hints": [...]}}
#pragma once

#include <string>
#include <vector>

#include "ResultText.h"

namespace qio::tool {

// `usage` is the command's usage line ("dio read [PORT...]"), `command` its
// path for the help hint ("dio read"); both may be empty. Returns 2.
int ReportUsageError(const std::string& message, const std::string& usage, const std::string& command, bool json);
// Returns 1.
int ReportDeviceError(const DeviceError& error, bool json);

// The word of `choices` that `word` was most likely meant to be, for a "did
// you mean" hint: a close spelling or a prefix; empty when none is close.
std::string ClosestWord(const std::string& word, const std::vector<std::string>& choices);

}  // namespace qio::tool
