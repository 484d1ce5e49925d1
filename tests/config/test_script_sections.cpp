// Finding, testing, appending and removing template sections; every case
// compares the whole file.
#include <cerrno>

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

// A header that is commented out, or a comment that mentions a template's
// key, opens no section: Locate and SectionExists agree on that.
TEST_F(ScriptSections, CommentedHeaderOrKeyInACommentIsNoSection) {
  const std::string text = "; old: " + Header(0) + "  ;" + Header(2) +
                           "; ZQS5162S3] was moved to the carrier board\r\n" + kSection1;
  Start(text);
  for (const int n : {0, 2, 3}) {
    EXPECT_FALSE(script_.SectionExists(n)) << n;
    EXPECT_NE(script_.Locate(n), 0) << n;
    EXPECT_EQ(script_.sectionStart(), text.size()) << n;
    ASSERT_EQ(script_.RemoveSection(n), 0);
  }
  EXPECT_EQ(tree_.Read(), text);
  EXPECT_TRUE(script_.SectionExists(1));
}

TEST_F(ScriptSections, KeyWithoutItsPrefixIsNoSection) {
  Start("ZQS5162S0] stray\r\n" + kSection1);
  EXPECT_NE(script_.Locate(0), 0);
  EXPECT_FALSE(script_.SectionExists(0));
  ASSERT_EQ(script_.Locate(1), 0);
  EXPECT_EQ(script_.sectionStart(), std::string("ZQS5162S0] stray\r\n").size());
}

// Only a line that starts with "[" ends a section; a bracket in a comment or
// a string value is text of the section.
TEST_F(ScriptSections, BracketInsideCommentOrStringDoesNotEndTheSection) {
  const std::string section = Header(0) + "\"IoBase\"=dword:100 ; was [old]\r\n" +
                              "\"FriendlyName\"=\"QIO board [slot 2]\"\r\n" + "  ; [moved]\r\n\"Irq\"=dword:5\r\n";
  Start(section + kSection1);
  ASSERT_EQ(script_.Locate(0), 0);
  EXPECT_EQ(script_.sectionStart(), 0u);
  EXPECT_EQ(script_.sectionEnd(), section.size());
}

// A header as people write it: indented, in other letter case, with a
// comment after it. It is found, so a save does not append a second one.
TEST_F(ScriptSections, HeaderWithBlanksOtherCaseAndCommentIsFound) {
  const std::string text = "\t[hkey_local_machine\\drivers\\builtin\\zqs5162s0]   ; the first board\r\n"
                           "\"IoBase\"=dword:100\r\n" + kSection1;
  Start(text);
  EXPECT_TRUE(script_.SectionExists(0));
  ASSERT_EQ(script_.Locate(0), 0);
  EXPECT_EQ(script_.sectionStart(), 0u);
  EXPECT_EQ(script_.sectionEnd(), text.size() - kSection1.size());
  // Text after the "]" other than a comment makes it another key.
  tree_.Write(Header(0).substr(0, Header(0).size() - 3) + "x] \r\n");
  Reopen();
  EXPECT_FALSE(script_.SectionExists(0));
}

TEST_F(ScriptSections, RemoveLastSectionTakesTheSpaceLineBeforeIt) {
  Start(kLeadComment + " \r\n" + kSection0 + " \r\n" + kSection1);
  ASSERT_EQ(script_.RemoveSection(1), 0);
  EXPECT_EQ(tree_.Read(), kLeadComment + " \r\n" + kSection0);
  ASSERT_EQ(script_.RemoveSection(0), 0);
  EXPECT_EQ(tree_.Read(), kLeadComment);
}

// Only the exact " " line an append writes goes with a removed header: a
// blank line, or a line with more in it, stays.
TEST_F(ScriptSections, RemoveKeepsOtherLinesBeforeTheHeader) {
  const std::string head = kLeadComment + "\r\n  \r\n; board one follows \r\n";
  Start(head + kSection1 + kSection2);
  ASSERT_EQ(script_.RemoveSection(1), 0);
  EXPECT_EQ(tree_.Read(), head + kSection2);
}

// What a person wrote inside a section that is not one of its values (a
// comment, a blank line) outlives the section; a continued hex list goes
// whole.
TEST_F(ScriptSections, RemoveTakesHeaderAndValuesAndKeepsComments) {
  const std::string section = Header(1) + "; board on the carrier, J4 = IRQ 5\r\n\"IoBase\"=dword:140\r\n\r\n" +
                              "  \"DigPortCfg\"=hex:01,\\\r\n    00,03\r\n@=\"default\"\r\n; end of board 1\r\n";
  Start(kLeadComment + kSection0 + section + kSection2);
  ASSERT_EQ(script_.RemoveSection(1), 0);
  EXPECT_EQ(tree_.Read(), kLeadComment + kSection0 + "; board on the carrier, J4 = IRQ 5\r\n\r\n; end of board 1\r\n" +
                              kSection2);
}

// A key written twice (a section copied by hand) is removed with all its
// sections.
TEST_F(ScriptSections, RemoveTakesEverySectionOfTheTemplate) {
  Start(kLeadComment + kSection0 + kSection1 + Header(0) + "\"Irq\"=dword:5\r\n" + kSection2);
  ASSERT_EQ(script_.RemoveSection(0), 0);
  EXPECT_EQ(tree_.Read(), kLeadComment + kSection1 + kSection2);
  EXPECT_FALSE(script_.SectionExists(0));
}

TEST_F(ScriptSections, RepeatedAppendAndRemoveLeaveTheFileAsItWas) {
  const std::string text = kLeadComment + kSection1 + "; tail\r\n";
  Start(text);
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(script_.AppendSection(0), 0);
    ASSERT_EQ(script_.AppendSection(4), 0);
    ASSERT_EQ(script_.RemoveSection(0), 0);
    ASSERT_EQ(script_.RemoveSection(4), 0);
    EXPECT_EQ(tree_.Read(), text) << "round " << round;
  }
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

// A NUL byte has no place in 8-bit text (it is what UTF-16 without its mark
// looks like): the script is refused, not edited around it.
TEST_F(ScriptSections, NulByteIsRefusedAndTheFileKept) {
  const std::string text = std::string("; a\0b\r\n", 7) + kSection0 + kSection1;
  tree_.Write(text);
  EXPECT_EQ(script_.Open(tree_.script().c_str()), EILSEQ);
  EXPECT_NE(script_.message().find("NUL byte on line 1"), std::string::npos) << script_.message();
  EXPECT_FALSE(script_.IsOpen());
  EXPECT_NE(script_.RemoveSection(0), 0);
  EXPECT_EQ(tree_.Read(), text);
}

}  // namespace
}  // namespace qio::config
