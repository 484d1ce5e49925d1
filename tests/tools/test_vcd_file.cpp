// The Value Change Dump text: what is written for wires, vectors and unknown
// stretches, the per-bit form, the register accesses as signals, and the
// reader on files written by other tools.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Vcd.h"
#include "WaveRecording.h"

namespace qio::tool {
namespace {

using ::testing::HasSubstr;

VcdDocument Sample() {
  VcdDocument document;
  document.date = "today";
  document.version = "qio5162 test";
  document.comments = {"a comment"};
  document.endNs = 1000;
  document.signals.push_back({"OUT1", 1, 0, {{100, 1}, {300, 0}, {600, 1}}, std::nullopt});
  document.signals.push_back({"A", 8, 0x0F, {{300, 0x5A}}, std::nullopt});
  document.signals.push_back({"CLK0", 1, 1, {{200, 0}, {700, 1}}, 500});
  return document;
}

TEST(VcdWriteTest, HeaderValuesAndTimes) {
  const std::string text = WriteVcd(Sample());
  EXPECT_THAT(text, HasSubstr("$timescale 1 ns $end"));
  EXPECT_THAT(text, HasSubstr("$var wire 1 ! OUT1 $end"));
  EXPECT_THAT(text, HasSubstr("$var wire 8 \" A [7:0] $end"));
  EXPECT_THAT(text, HasSubstr("$dumpvars\n0!\nb00001111 \"\n1#\n$end\n"));
  // Changes at one time share one timestamp; CLK0 turns unknown at 500, and
  // its later change is not written; the end time closes the file.
  EXPECT_THAT(text, HasSubstr("#300\n0!\nb01011010 \"\n#500\nx#\n#600\n1!\n#1000\n"));
  EXPECT_EQ(text.find("#700"), std::string::npos);
}

TEST(VcdWriteTest, ReadsBackWhatItWrites) {
  std::string error;
  const std::optional<VcdFile> file = ReadVcd(WriteVcd(Sample()), &error);
  ASSERT_TRUE(file.has_value()) << error;
  EXPECT_EQ(file->timescale, "1 ns");
  const VcdTrace* a = file->Find("A");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->width, 8u);
  ASSERT_EQ(a->values.size(), 2u);
  EXPECT_EQ(a->values[0].value, 0x0Fu);
  EXPECT_EQ(a->values[1].time, 300u);
  EXPECT_EQ(a->values[1].value, 0x5Au);
  const VcdTrace* clk = file->Find("CLK0");
  ASSERT_EQ(clk->values.size(), 3u);
  EXPECT_FALSE(clk->values[2].known);
  EXPECT_EQ(clk->values[2].time, 500u);
}

TEST(VcdWriteTest, VectorsSplitIntoOneWirePerBit) {
  VcdDocument document = Sample();
  document.splitVectors = true;
  const std::string text = WriteVcd(document);
  EXPECT_EQ(text.find("b0"), std::string::npos);  // no vector value anywhere
  const std::optional<VcdFile> file = ReadVcd(text, nullptr);
  ASSERT_TRUE(file.has_value());
  // 0x0F -> 0x5A at 300: bits 0 and 2 fall, bits 4 and 6 rise, 1 and 3 stay.
  for (unsigned bit = 0; bit < 8; ++bit) {
    const VcdTrace* wire = file->Find("A" + std::to_string(bit));
    ASSERT_NE(wire, nullptr) << bit;
    EXPECT_EQ(wire->values.front().value, (0x0Fu >> bit) & 1u) << bit;
    EXPECT_EQ(wire->values.back().value, (0x5Au >> bit) & 1u) << bit;
    EXPECT_EQ(wire->values.size(), ((0x0Fu ^ 0x5Au) >> bit & 1u) ? 2u : 1u) << bit;
  }
}

TEST(VcdReadTest, FilesOfOtherTools) {
  // Timestamps and values on one line, nested scopes, a reused identifier,
  // $dumpvars with x, comments in the data.
  const char* text =
      "$date Tue $end\n$version other $end\n$timescale 10 ps $end\n"
      "$scope module top $end\n$scope module inner $end\n$var wire 1 ! clk $end\n$upscope $end\n"
      "$var reg 4 # bus $end\n$var wire 1 ! clk_alias $end\n$upscope $end\n$enddefinitions $end\n"
      "$dumpvars x! b0 # $end\n#5 1! b1x01 #\n$comment note $end\n#9 0! b11 #\n";
  std::string error;
  const std::optional<VcdFile> file = ReadVcd(text, &error);
  ASSERT_TRUE(file.has_value()) << error;
  EXPECT_EQ(file->timescale, "10 ps");
  const VcdTrace* clk = file->Find("clk");
  const VcdTrace* alias = file->Find("clk_alias");
  ASSERT_TRUE(clk && alias);
  ASSERT_EQ(clk->values.size(), 3u);
  EXPECT_FALSE(clk->values[0].known);
  EXPECT_EQ(clk->values[1].time, 5u);
  EXPECT_EQ(alias->values.size(), 3u);
  const VcdTrace* bus = file->Find("bus");
  ASSERT_EQ(bus->values.size(), 3u);
  EXPECT_FALSE(bus->values[1].known);
  EXPECT_EQ(bus->values[2].value, 3u);

  EXPECT_FALSE(ReadVcd("$var wire 1 ! a $end\n", &error).has_value());
  EXPECT_THAT(error, HasSubstr("no $enddefinitions"));
  EXPECT_FALSE(ReadVcd("$enddefinitions $end\n#0 what\n", &error).has_value());
}

TEST(RegisterSignalsTest, EachAccessShowsAndWritesPulse) {
  const std::uint64_t start = 1'000'000;
  const std::vector<QioPortAccess> trace = {
      {start - 5, 0x22, 2, 1, 0x3},     // before the recording: left out
      {start + 100, 0x26, 1, 1, 0x5A},  // a write
      {start + 100, 0x28, 1, 0, 0x5A},  // a read at the same nanosecond: spaced 2 ns on
      {start + 101, 0x28, 1, 1, 0x01},  // and the next one after it
      {start + 500, 0x2C, 1, 0, 0x1B},
  };
  const std::vector<VcdSignal> signals = RegisterSignals(trace, start, start + 1000, 100);
  ASSERT_EQ(signals.size(), 3u);
  const VcdSignal& offset = signals[0];
  const VcdSignal& value = signals[1];
  const VcdSignal& write = signals[2];
  EXPECT_EQ(offset.name, "reg_offset");
  EXPECT_EQ(value.width, 32u);
  ASSERT_EQ(offset.changes.size(), 4u);
  EXPECT_EQ(offset.changes[0].timeNs, 100u);
  EXPECT_EQ(offset.changes[1].timeNs, 102u);
  EXPECT_EQ(offset.changes[2].timeNs, 104u);
  EXPECT_EQ(offset.changes[3].timeNs, 500u);
  EXPECT_EQ(value.changes[2].value, 0x01u);
  // Two writes, two 1 ns pulses.
  ASSERT_EQ(write.changes.size(), 4u);
  EXPECT_EQ(write.changes[0].timeNs, 100u);
  EXPECT_EQ(write.changes[1].timeNs, 101u);
  EXPECT_EQ(write.changes[1].value, 0u);
  EXPECT_EQ(write.changes[2].timeNs, 104u);

  // Beyond the cap the signals turn unknown at the first access left out.
  const std::vector<VcdSignal> capped = RegisterSignals(trace, start, start + 1000, 2);
  EXPECT_EQ(capped[0].changes.size(), 2u);
  ASSERT_TRUE(capped[0].unknownFromNs.has_value());
  EXPECT_EQ(*capped[0].unknownFromNs, 104u);
  EXPECT_EQ(capped[2].unknownFromNs, capped[0].unknownFromNs);
}

}  // namespace
}  // namespace qio::tool
