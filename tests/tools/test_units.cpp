// The tool's argument parsing, result decoding and waveform pictures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ResultText.h"
#include "Units.h"
#include "Waveform.h"

namespace qio::tool {
namespace {

using ::testing::ElementsAre;

TEST(UnitsTest, NumbersAreDecimalOrHex) {
  EXPECT_EQ(ParseUnsigned("768", 0xFFFF, "n"), 768u);
  EXPECT_EQ(ParseUnsigned("0x300", 0xFFFF, "n"), 0x300u);
  EXPECT_EQ(ParseUnsigned("0XfF", 0xFFFF, "n"), 0xFFu);
  EXPECT_EQ(ParseU16("0xFFFF", "n"), 0xFFFFu);
  EXPECT_THROW(ParseU16("0x10000", "n"), UsageError);
  for (const char* bad : {"", "0x", "-1", "12a", "1.5", "0x1G", " "}) {
    EXPECT_THROW(ParseUnsigned(bad, 0xFFFF, "n"), UsageError) << bad;
  }
}

TEST(UnitsTest, FrequenciesTakeTheirSuffixes) {
  EXPECT_DOUBLE_EQ(ParseFrequency("1kHz"), 1e3);
  EXPECT_DOUBLE_EQ(ParseFrequency("2.5 MHz"), 2.5e6);
  EXPECT_DOUBLE_EQ(ParseFrequency("100Hz"), 100);
  EXPECT_DOUBLE_EQ(ParseFrequency("50"), 50);
  EXPECT_DOUBLE_EQ(ParseFrequency("20KHZ"), 20e3);
  EXPECT_DOUBLE_EQ(ParseFrequency("1e3Hz"), 1e3);
  for (const char* bad : {"1kXz", "kHz", "-5Hz", "1s", "", "inf", "nanHz"}) {
    EXPECT_THROW(ParseFrequency(bad), UsageError) << bad;
  }
}

TEST(UnitsTest, TimesTakeTheirSuffixesAndADefaultUnit) {
  EXPECT_DOUBLE_EQ(ParseDuration("10ms"), 0.01);
  EXPECT_DOUBLE_EQ(ParseDuration("250us"), 250e-6);
  EXPECT_DOUBLE_EQ(ParseDuration("1.5"), 1.5);
  EXPECT_DOUBLE_EQ(ParseDuration("5s"), 5);
  EXPECT_DOUBLE_EQ(ParseDuration("100", 0.001), 0.1);
  EXPECT_THROW(ParseDuration("10 min"), UsageError);
  EXPECT_THROW(ParseDuration("ms"), UsageError);
}

TEST(UnitsTest, PortsDirectionsAndSources) {
  EXPECT_EQ(ParsePort("a"), 0u);
  EXPECT_EQ(ParsePort("C"), 2u);
  // Every other name or number is a usage error, whichever way it is written.
  for (const char* bad : {"3", "D", "d", "A3", "", "0x1", "AB"}) EXPECT_THROW(ParsePort(bad), UsageError) << bad;
  EXPECT_EQ(ParseDirection("in"), 0u);
  EXPECT_EQ(ParseDirection("out"), 1u);
  EXPECT_EQ(ParseDirection("in/out"), 3u);
  EXPECT_EQ(ParseDirection("OUT/IN"), 4u);
  EXPECT_EQ(ParseDirection("2"), 2u);
  EXPECT_THROW(ParseDirection("sideways"), UsageError);
  EXPECT_EQ(ParseGeneratorSource("1MHz"), 4u);
  EXPECT_EQ(ParseGeneratorSource("10mhz"), 3u);
  EXPECT_EQ(ParseGeneratorSource("0x0700"), 7u);
  EXPECT_EQ(ParseGeneratorSource("5"), 5u);
  EXPECT_THROW(ParseGeneratorSource("2MHz"), UsageError);
  EXPECT_DOUBLE_EQ(GeneratorSourceHz(5), 100e3);
}

TEST(UnitsTest, LinesInBothNotations) {
  // Port and bit, any case, or the channel: port x 8 + bit.
  EXPECT_EQ(ParseLine("A0"), 0u);
  EXPECT_EQ(ParseLine("b1"), 9u);
  EXPECT_EQ(ParseLine(" C7 "), 23u);
  EXPECT_EQ(ParseLine("9"), 9u);
  EXPECT_EQ(ParseLine("23"), 23u);
  EXPECT_EQ(ParseLine("09"), 9u);
  for (const char* bad : {"24", "A8", "D1", "B", "-1", "", "9a", "100", "0x9"}) {
    EXPECT_THROW(ParseLine(bad), UsageError) << bad;
  }
  EXPECT_EQ(LineName(9), "B1");
  EXPECT_EQ(LineName(23), "C7");
  for (unsigned channel = 0; channel < kDioLines; ++channel) EXPECT_EQ(ParseLine(LineName(channel)), channel);
  EXPECT_EQ(ParseBit("7"), 7u);
  for (const char* bad : {"8", "-1", "", "a", "07x"}) EXPECT_THROW(ParseBit(bad), UsageError) << bad;
  EXPECT_EQ(ParseCounter("1"), 1u);
  for (const char* bad : {"2", "01", "", "x"}) EXPECT_THROW(ParseCounter(bad), UsageError) << bad;
  EXPECT_TRUE(IsPortName("b"));
  EXPECT_TRUE(IsPortName("2"));
  EXPECT_FALSE(IsPortName("B1"));
  EXPECT_FALSE(IsPortName("3"));
}

TEST(UnitsTest, MessagesSayWhatIsAllowed) {
  auto message = [](auto parse) {
    try {
      parse();
    } catch (const UsageError& error) {
      return std::string(error.what());
    }
    return std::string("(no error)");
  };
  EXPECT_EQ(message([] { ParseGeneratorSource("2MHz"); }),
            "source '2MHz': expected 10MHz, 1MHz, 100kHz, 10kHz or 1kHz (also 20MHz, clk for the CLK pin, or a code "
            "1 to 7)");
  EXPECT_EQ(message([] { ParsePort("3"); }), "port '3': expected A, B or C (or 0, 1, 2)");
  EXPECT_EQ(message([] { ParsePort("B1"); }), "port 'B1': expected A, B or C (or 0, 1, 2); 'B1' names a line");
  EXPECT_EQ(message([] { ParseLine("24"); }),
            "line '24': expected a line as port and bit (A0..C7, e.g. B1) or a channel 0 to 23 (port x 8 + bit)");
  EXPECT_EQ(message([] { ParseCounter("2"); }), "counter '2': expected 0 or 1");
}

TEST(UnitsTest, SignalSpecs) {
  const CounterInputSpec input = ParseCounterInput("1=2.5kHz,duty=25%");
  EXPECT_EQ(input.counter, 1u);
  EXPECT_DOUBLE_EQ(input.hz, 2500);
  EXPECT_DOUBLE_EQ(input.dutyPercent, 25);
  EXPECT_DOUBLE_EQ(ParseCounterInput("0=1kHz").dutyPercent, 50);
  for (const char* bad : {"2=1kHz", "0=1kHz,duty=0", "0=1kHz,duty=100", "0=1kHz,phase=3", "1kHz"}) {
    EXPECT_THROW(ParseCounterInput(bad), UsageError) << bad;
  }
  const DiLevelSpec levels = ParseDiLevels("b=0x0F");
  EXPECT_EQ(levels.port, 1u);
  EXPECT_EQ(levels.levels, 0x0F);
  EXPECT_THROW(ParseDiLevels("A=0x100"), UsageError);
  EXPECT_EQ(ParseDiSquare("23=100Hz").channel, 23u);
  EXPECT_EQ(ParseDiSquare("b1=100Hz").channel, 9u);
  EXPECT_THROW(ParseDiSquare("24=100Hz"), UsageError);
  EXPECT_THROW(ParseDiSquare("A9=100Hz"), UsageError);
  const LoopbackSpec loop = ParseLoopback("C:A");
  EXPECT_EQ(loop.from, 2u);
  EXPECT_EQ(loop.to, 0u);
  EXPECT_THROW(ParseLoopback("A:A"), UsageError);
  EXPECT_THROW(ParseLoopback("AB"), UsageError);
}

TEST(UnitsTest, EventSpecs) {
  EventSpec spec = ParseEventSpec("di5,ports=B:C");
  EXPECT_EQ(spec.type, 0x3405);
  EXPECT_EQ(spec.firstPort, 1u);
  EXPECT_EQ(spec.portCount, 2u);
  EXPECT_EQ(spec.every, 1u);
  spec = ParseEventSpec("tc1,every=10");
  EXPECT_EQ(spec.type, 0x5001);
  EXPECT_EQ(spec.every, 10u);
  spec = ParseEventSpec("DI23,ports=c");
  EXPECT_EQ(spec.type, 0x3417);
  EXPECT_EQ(spec.firstPort, 2u);
  EXPECT_EQ(spec.portCount, 1u);
  EXPECT_EQ(ParseEventSpec("0x3418").type, 0x3418);  // the library refuses it
  // A DI line in either notation, with or without "di".
  EXPECT_EQ(ParseEventSpec("diB1").type, 0x3409);
  EXPECT_EQ(ParseEventSpec("B1,ports=A").type, 0x3409);
  EXPECT_EQ(ParseEventSpec("di9").type, 0x3409);
  EXPECT_THROW(ParseEventSpec("diB8"), UsageError);
  EXPECT_THROW(ParseEventSpec("D1"), UsageError);
  for (const char* bad : {"di24", "tc2", "di1,ports=C:A", "di1,count=2", "di1,ports"}) {
    EXPECT_THROW(ParseEventSpec(bad), UsageError) << bad;
  }
  EXPECT_EQ(EventTypeName(0x3405), "DI5");
  EXPECT_EQ(EventTypeName(0x5000), "TC0");
  EXPECT_EQ(EventTypeName(0xFFFF), "time-out");
}

TEST(ResultTextTest, DeviceCodesDecodeTheDeviceAndTheLowCode) {
  EXPECT_EQ(DescribeResult(0x1032), "0x1032: counter busy");
  EXPECT_EQ(DescribeResult(0x2032), "0x2032: counter busy (device 1)");
  EXPECT_EQ(DescribeResult(0x100A), "0x100A: invalid argument");
  EXPECT_EQ(DescribeResult(0x1065), "0x1065: not found");
  EXPECT_EQ(DescribeResult(0x1000), "0x1000: request refused without an error code");
  EXPECT_EQ(DescribeResult(0x1333), "0x1333: unknown result code (low code 0x333)");
  EXPECT_EQ(DescribeResult(10), "10: port address outside the board's port window");
  EXPECT_EQ(DescribeResult(3), "3: invalid driver handle");
  EXPECT_EQ(DescribeResult(27), "27: function number not known to DriverProc");
  EXPECT_EQ(DescribeResult(0), "0: success");
  const DeviceError error("CounterEventStart", 0x1032);
  EXPECT_TRUE(error.HasCode());
  EXPECT_STREQ(error.what(), "CounterEventStart failed: 0x1032: counter busy");
  EXPECT_NO_THROW(Check(0, "x"));
  EXPECT_THROW(Check(0x1007, "x"), DeviceError);
}

TEST(WaveformTest, HighPartFollowsTheDuty) {
  const WaveformPicture quarter = RenderWaveform(100, 0.0025, 2, 10);
  EXPECT_THAT(quarter.rows, ElementsAre(" __        __       ", "|  |______|  |______"));
  const WaveformPicture half = RenderWaveform(1e3, 0.5e-3, 1, 10);
  EXPECT_THAT(half.rows, ElementsAre(" ____     ", "|    |____"));
  // Extreme duties keep one column high and one low.
  EXPECT_THAT(RenderWaveform(1, 0.999, 1, 6).rows, ElementsAre(" ___  ", "|   |_"));
  EXPECT_THAT(RenderWaveform(1, 0.001, 1, 6).rows, ElementsAre(" _    ", "| |___"));
  EXPECT_THAT(RenderWaveform(0, 0).rows[0], ::testing::Not(::testing::HasSubstr("|")));
  EXPECT_THAT(RenderLevel(1, 4).rows, ElementsAre("____", "    "));
  EXPECT_THAT(LabelWaveform(RenderLevel(0, 4), "OUT0", ""), ElementsAre("  OUT0  ____"));
}

}  // namespace
}  // namespace qio::tool
