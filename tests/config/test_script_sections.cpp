// Finding, testing, appending and removing template sections; every case
// compares the whole file.
#include "ScriptTestSupport.h"
#include "config/script/RegScriptFile.h"

namespace qio::config {
namespace {

using testing::Header;

class ScriptSections : public ::testing::Test {
 protected:
  // Writes `text` as the script and opens it.
  void Start(const std::string& text) {
    tree_.Write(text);
    ASSERT_EQ(script_.Open(tree_.script().c_str()), 0);
  }
  void Reopen() {
    script_.Close();
    ASSERT_EQ(script_.Open(tree_.script().c_str()), 0);
  }

  testing::ScriptTree tree_;
  RegScriptFile script_;
};

const std::string kLeadComment = "; QIO-5162 settings\r\n";
const std::string kSection0 = Header(0) + "\"IoBase\"=dword:100\r\n";
const std::string kSection1 = Header(1) + "\"IoBase\"=dword:140\r\n";
const std::string kSection2 = Header(2) + "\"IoBase\"=dword:180\r\n";

TEST_F(ScriptSections, AppendOnEmptyFileWritesSpaceLineHeaderSpaceLine) {
  Start("");
  ASSERT_EQ(script_.AppendSection(0), 0);
  EXPECT_EQ(tree_.Read(), " \r\n[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S0] \r\n");
  EXPECT_EQ(script_.fileSize(), tree_.Read().size());
  EXPECT_EQ(script_.contents(), tree_.Read());
}

TEST_F(ScriptSections, AppendAfterTextWithoutFinalLineBreakStartsOnItsOwnLine) {
  Start("; no line break at the end");
  ASSERT_EQ(script_.AppendSection(7), 0);
  EXPECT_EQ(tree_.Read(), "; no line break at the end \r\n" + Header(7));
  // The header stands on a line of its own: the first line holds only the comment.
  Reopen();
  EXPECT_TRUE(script_.SectionExists(7));
  ASSERT_EQ(script_.Locate(7), 0);
  EXPECT_EQ(script_.contents().substr(script_.sectionStart(), 1), "[");
}

TEST_F(ScriptSections, LocateRunsFromHeaderToNextBracket) {
  Start(kLeadComment + kSection0 + kSection1 + kSection2);
  ASSERT_EQ(script_.Locate(1), 0);
  EXPECT_EQ(script_.sectionStart(), kLeadComment.size() + kSection0.size());
  EXPECT_EQ(script_.sectionEnd(), kLeadComment.size() + kSection0.size() + kSection1.size());
  ASSERT_EQ(script_.Locate(2), 0);
  EXPECT_EQ(script_.sectionEnd(), script_.fileSize());
}

TEST_F(ScriptSections, MissingSectionIsEmptyAtEndOfFile) {
  Start(kSection0);
  EXPECT_NE(script_.Locate(4), 0);
  EXPECT_EQ(script_.sectionStart(), script_.fileSize());
  EXPECT_EQ(script_.sectionEnd(), script_.fileSize());
  EXPECT_FALSE(script_.SectionExists(4));
}

TEST_F(ScriptSections, TemplateOneIsNotFoundInsideTemplateEleven) {
  Start(kLeadComment + Header(11) + "\"IoBase\"=dword:200\r\n");
  EXPECT_FALSE(script_.SectionExists(1));
  EXPECT_NE(script_.Locate(1), 0);
  EXPECT_TRUE(script_.SectionExists(11));
  const std::string before = tree_.Read();
  ASSERT_EQ(script_.RemoveSection(1), 0);
  EXPECT_EQ(tree_.Read(), before);
}

TEST_F(ScriptSections, SectionExistsIgnoresCommentedHeaderButLocateFindsIt) {
  const std::string commented = "; old: " + Header(0);
  Start(commented + kSection1);
  EXPECT_FALSE(script_.SectionExists(0));
  ASSERT_EQ(script_.Locate(0), 0);
  // The commented header's "[" opens the section; the next "[" ends it.
  EXPECT_EQ(script_.sectionStart(), std::string("; old: ").size());
  EXPECT_EQ(script_.sectionEnd(), commented.size());
}

TEST_F(ScriptSections, KeyWithoutPrefixNearTopStartsSectionAtFirstByte) {
  Start("ZQS5162S0] stray\r\n" + kSection1);
  ASSERT_EQ(script_.Locate(0), 0);
  EXPECT_EQ(script_.sectionStart(), 0u);
  EXPECT_EQ(script_.sectionEnd(), std::string("ZQS5162S0] stray\r\n").size());
}

TEST_F(ScriptSections, BracketInsideCommentOrStringEndsTheSection) {
  const std::string section = Header(0) + "\"IoBase\"=dword:100 ; was [old]\r\n";
  Start(section + "\"Irq\"=dword:5\r\n");
  ASSERT_EQ(script_.Locate(0), 0);
  EXPECT_EQ(script_.sectionEnd(), section.find("[old]"));

  Reopen();
  const std::string withString = Header(0) + "\"Name\"=\"a[b\"\r\n\"Irq\"=dword:5\r\n";
  tree_.Write(withString);
  Reopen();
  ASSERT_EQ(script_.Locate(0), 0);
  EXPECT_EQ(script_.sectionEnd(), withString.find("[b"));
}

TEST_F(ScriptSections, RemoveLastSectionTruncatesAtItsBracket) {
  Start(kLeadComment + " \r\n" + kSection0 + " \r\n" + kSection1);
  ASSERT_EQ(script_.RemoveSection(1), 0);
  // The " " CR LF line before the header stays behind.
  EXPECT_EQ(tree_.Read(), kLeadComment + " \r\n" + kSection0 + " \r\n");
}

TEST_F(ScriptSections, RemoveMiddleSectionClosesTheGapExactly) {
  Start(kLeadComment + kSection0 + kSection1 + kSection2 + "; tail\r\n");
  ASSERT_EQ(script_.RemoveSection(1), 0);
  EXPECT_EQ(tree_.Read(), kLeadComment + kSection0 + kSection2 + "; tail\r\n");
  EXPECT_EQ(script_.contents(), tree_.Read());
  EXPECT_FALSE(script_.SectionExists(1));
  EXPECT_TRUE(script_.SectionExists(2));
}

TEST_F(ScriptSections, RemoveFirstSectionKeepsLeadingText) {
  Start(kLeadComment + kSection0 + kSection1);
  ASSERT_EQ(script_.RemoveSection(0), 0);
  EXPECT_EQ(tree_.Read(), kLeadComment + kSection1);
}

TEST_F(ScriptSections, RemoveMissingSectionChangesNothing) {
  const std::string text = kLeadComment + kSection0 + kSection2;
  Start(text);
  ASSERT_EQ(script_.RemoveSection(1), 0);
  EXPECT_EQ(tree_.Read(), text);
}

TEST_F(ScriptSections, SectionsAreFoundAgainAfterAChange) {
  Start(kSection0 + kSection2);
  ASSERT_EQ(script_.Locate(2), 0);
  const auto oldStart = script_.sectionStart();
  ASSERT_EQ(script_.RemoveSection(0), 0);
  ASSERT_EQ(script_.Locate(2), 0);
  EXPECT_EQ(script_.sectionStart(), oldStart - kSection0.size());
}

TEST_F(ScriptSections, NegativeTemplateNumberIsRefused) {
  const std::string text = kSection0;
  Start(text);
  EXPECT_NE(script_.AppendSection(-1), 0);
  EXPECT_NE(script_.RemoveSection(-1), 0);
  EXPECT_FALSE(script_.SectionExists(-1));
  EXPECT_EQ(tree_.Read(), text);
}

TEST_F(ScriptSections, TextAfterNulByteIsKept) {
  const std::string text = std::string("; a\0b\r\n", 7) + kSection0 + kSection1;
  Start(text);
  ASSERT_EQ(script_.RemoveSection(0), 0);
  EXPECT_EQ(tree_.Read(), std::string("; a\0b\r\n", 7) + kSection1);
}

}  // namespace
}  // namespace qio::config
