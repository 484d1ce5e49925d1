// Where a template operation sends a message for the user: the settings window
// shows a message box with an OK button, the command-line tool prints it.
#pragma once

#include <string_view>

namespace qio::config {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void ShowMessage(std::string_view text, std::string_view caption) = 0;
};

}  // namespace qio::config
