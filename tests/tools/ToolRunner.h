// Runs the qio5162 binary in a scratch directory and captures what it does.
#pragma once

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace qio::tool::test {

struct ToolResult {
  int exitCode = -1;
  std::string out;
  std::string err;
  // The whole of stdout as one JSON document (fails the test when it is not).
  nlohmann::json Json() const;
};

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the tool with `args`; `input` becomes its stdin.
  ToolResult Run(const std::vector<std::string>& args, const std::string& input = "");
  // Runs another program the same way.
  ToolResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                        const std::string& input = "");
  // Writes a file into the scratch directory and returns its path.
  std::string WriteFile(const std::string& name, const std::string& text);

  std::string dir_;
};

// A registry script with one board at `base` / `irq` and the given port
// directions (bytes of DigPortCfg, e.g. "01,00,03"); `index` is the board's
// DeviceIndex and template number. `header` starts the script with REGEDIT4.
std::string BoardRegistry(unsigned base, unsigned irq, const std::string& digPortCfg, unsigned index = 0,
                          bool header = true);

}  // namespace qio::tool::test
