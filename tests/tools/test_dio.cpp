// dio and port commands, one-shot.
#include "ToolRunner.h"

namespace qio::tool::test {
namespace {

using ::testing::HasSubstr;

class DioTest : public ToolTest {};

TEST_F(DioTest, ReadShowsTheDrivenPinsAndTheDirection) {
  const ToolResult result = Run({"dio", "read", "B", "--di", "B=0x3C", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.Json()["value"], 0x3C);
  EXPECT_EQ(result.Json()["direction"], "in");
  const ToolResult text = Run({"dio", "read", "c", "--di", "C=0x81"});
  EXPECT_THAT(text.out, HasSubstr("port C: 0x81  1000 0001 (in)"));
}

TEST_F(DioTest, WriteOnAnInputPortKeepsThePinsAndSaysSo) {
  const ToolResult result = Run({"dio", "write", "A", "0x5A", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.Json()["output"], 0x5A);
  EXPECT_EQ(result.Json()["pins"], 0x00);
  const ToolResult text = Run({"dio", "write", "A", "0xF0", "--mask", "0x30"});
  EXPECT_THAT(text.out, HasSubstr("port A <- 0xF0 (mask 0x30): output 0x30"));
  EXPECT_THAT(text.out, HasSubstr("is input"));
}

TEST_F(DioTest, BitReadAndWrite) {
  ToolResult result = Run({"dio", "bit", "B", "3", "--di", "B=0x08", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.Json()["value"], 1);
  result = Run({"dio", "bit", "C", "6", "1", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.Json()["output"], 0x40);
  EXPECT_EQ(Run({"dio", "bit", "C", "6", "2"}).exitCode, 2);
}

TEST_F(DioTest, ModeAndConfig) {
  ToolResult result = Run({"dio", "mode", "C", "in/out", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.Json()["code"], 3);
  result = Run({"dio", "mode", "A", "in/out"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("0x100A"));
  result = Run({"dio", "mode", "B", "2"});
  EXPECT_EQ(result.exitCode, 1);

  result = Run({"dio", "config", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const nlohmann::json config = result.Json();
  ASSERT_EQ(config["ports"].size(), 3u);
  for (const nlohmann::json& port : config["ports"]) {
    EXPECT_EQ(port["direction"], "in");
    EXPECT_EQ(port["outputMask"], 0);
  }
  // Every line an input: bits 4, 3, 1 and 0 of the direction register.
  EXPECT_EQ(config["directionRegister"], 0x1B);
}

TEST_F(DioTest, RawPortReadAndWrite) {
  ToolResult result = Run({"port", "read", "0x32C", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.Json()["value"], 0x1B);
  result = Run({"port", "write", "0x338", "0x1403", "--width", "16", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.Json()["value"], 0x1403);
  result = Run({"port", "read", "0x326", "--width", "32", "--di", "A=0x11", "--di", "B=0x22", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.Json()["value"].get<unsigned>() & 0xFFu, 0x11u);
  EXPECT_EQ(Run({"port", "write", "0x326", "0x100"}).exitCode, 2);
  result = Run({"port", "read", "0x340"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("0x1040"));
}

}  // namespace
}  // namespace qio::tool::test
