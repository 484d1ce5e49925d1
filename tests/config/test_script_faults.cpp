// A change reaches the disk whole or not at all: failing writes, flushes and
// renames are injected through the file layer, and the script on disk must
// then be exactly the old text (or, after success, exactly the new one).
#include <fcntl.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

#include "FileFaults.h"
#include "ScriptTestSupport.h"
#include "config/script/RegScriptFile.h"
#include "config/templates/TemplateTable.h"

namespace qio::config {
namespace {

using testing::Header;

// Fails every call of one kind once `countdown` calls of that kind have
// succeeded: a disk that is full, or gone, from then on.
class FaultyFiles : public FileLayer {
 public:
  enum class Fault { kNone, kWriteError, kShortWrite, kThrow, kSync, kRename, kChangeMode };

  void Arm(Fault fault, int countdown = 0) {
    fault_ = fault;
    countdown_ = countdown;
  }
  int failures() const { return failures_; }

  ssize_t Write(int fd, const void* data, std::size_t size) override {
    if (Due(Fault::kWriteError)) return Fail(ENOSPC);
    if (Due(Fault::kThrow)) {
      ++failures_;
      throw std::runtime_error("device gone");
    }
    if (size > 1 && Due(Fault::kShortWrite)) {
      // Half the text lands, then the disk is full.
      fault_ = Fault::kWriteError;
      return FileLayer::Write(fd, data, size / 2);
    }
    return FileLayer::Write(fd, data, size);
  }
  // The flush is counted, not made: these tests look at what the calls leave
  // on disk, and a real flush per change would only make them slow.
  int Sync(int) override { return Due(Fault::kSync) ? Fail(EIO) : 0; }
  int Rename(const char* from, const char* to) override {
    return Due(Fault::kRename) ? Fail(EXDEV) : FileLayer::Rename(from, to);
  }
  int ChangeMode(int fd, mode_t mode) override {
    return Due(Fault::kChangeMode) ? Fail(EPERM) : FileLayer::ChangeMode(fd, mode);
  }

 private:
  bool Due(Fault kind) {
    if (fault_ != kind) return false;
    if (countdown_-- > 0) return false;
    return true;
  }
  int Fail(int error) {
    ++failures_;
    errno = error;
    return -1;
  }

  Fault fault_ = Fault::kNone;
  int countdown_ = 0;
  int failures_ = 0;
};

using Fault = FaultyFiles::Fault;

class ScriptFaults : public ::testing::TestWithParam<Fault> {
 protected:
  const std::string before_ = "; head\r\n" + Header(0) + "\"IoBase\"=dword:100\r\n\"Irq\"=dword:3\r\n" +
                              Header(1) + "\"IoBase\"=dword:140\r\n";
  testing::ScriptTree tree_;
  FaultyFiles files_;
};

TEST_P(ScriptFaults, FailedChangeLeavesScriptIntactAndEditorUsable) {
  tree_.Write(before_);
  RegScriptFile script(files_);
  ASSERT_EQ(script.Open(tree_.script().c_str()), 0);
  std::uint32_t irq = 5;

  files_.Arm(GetParam());
  EXPECT_NE(script.WriteValue(0, "Irq", kTypeDword, &irq, 4), 0);
  EXPECT_EQ(tree_.Read(), before_);
  files_.Arm(GetParam());
  EXPECT_NE(script.AppendSection(2), 0);
  EXPECT_EQ(tree_.Read(), before_);
  files_.Arm(GetParam());
  EXPECT_NE(script.RemoveSection(0), 0);
  EXPECT_EQ(tree_.Read(), before_);
  EXPECT_EQ(tree_.StrayFiles(), 0);
  EXPECT_EQ(script.contents(), before_);

  // Once the disk works again the same editor makes the change exactly.
  files_.Arm(Fault::kNone);
  ASSERT_EQ(script.WriteValue(0, "Irq", kTypeDword, &irq, 4), 0);
  EXPECT_EQ(tree_.Read(), "; head\r\n" + Header(0) + "\"IoBase\"=dword:100\r\n\"Irq\"=dword:5\r\n" +
                              Header(1) + "\"IoBase\"=dword:140\r\n");
  EXPECT_EQ(tree_.StrayFiles(), 0);
}

// A table of values is one change: under any fault none of it is written,
// and without one all of it is.
TEST_P(ScriptFaults, WriteValuesIsWrittenInOneStep) {
  tree_.Write(before_);
  RegScriptFile script(files_);
  ASSERT_EQ(script.Open(tree_.script().c_str()), 0);
  std::uint32_t base = 0x200;
  std::uint32_t irq = 9;
  std::uint32_t len = 0x40;
  const ValueEntry table[] = {{"IoBase", kTypeDword, 4, &base},
                              {"Irq", kTypeDword, 4, &irq},
                              {"IoLen", kTypeDword, 4, &len},
                              {nullptr, 0, 0, nullptr}};
  files_.Arm(GetParam());
  EXPECT_EQ(script.WriteValues(0, table), 0);
  EXPECT_EQ(tree_.Read(), before_);
  EXPECT_EQ(script.contents(), before_);
  EXPECT_EQ(tree_.StrayFiles(), 0);

  files_.Arm(Fault::kNone);
  EXPECT_EQ(script.WriteValues(0, table), 1);
  EXPECT_EQ(tree_.Read(), "; head\r\n" + Header(0) + "\"IoBase\"=dword:200\r\n\"Irq\"=dword:9\r\n" +
                              "\"IoLen\"=dword:40\r\n" + Header(1) + "\"IoBase\"=dword:140\r\n");
}

TEST_P(ScriptFaults, FailedSaveLeavesTheScriptAsItWas) {
  tree_.Write(before_);
  TemplateTable table(nullptr, files_);
  ASSERT_EQ(table.Load(tree_.script()), 0);
  table.RemoveSlot(1);
  ASSERT_EQ(table.AllocateSlot(), 1);
  table.ApplyDefaults(1);
  files_.Arm(GetParam());
  EXPECT_FALSE(table.Save(tree_.script()));
  EXPECT_GT(files_.failures(), 0);
  EXPECT_EQ(tree_.StrayFiles(), 0);
  EXPECT_EQ(tree_.Read(), before_);

  TemplateTable reloaded;
  ASSERT_EQ(reloaded.Load(tree_.script()), 0);
  EXPECT_EQ(reloaded.Record(0).ioBase, 0x100u);
  EXPECT_EQ(reloaded.Record(1).ioBase, 0x140u);
}

std::string FaultName(const ::testing::TestParamInfo<Fault>& param) {
  static const char* const kNames[] = {"None", "WriteError", "ShortWrite", "Throw",
                                       "Sync", "Rename",     "ChangeMode"};
  return kNames[static_cast<int>(param.param)];
}

INSTANTIATE_TEST_SUITE_P(EachFault, ScriptFaults,
                         ::testing::Values(Fault::kWriteError, Fault::kShortWrite, Fault::kThrow,
                                           Fault::kSync, Fault::kRename, Fault::kChangeMode),
                         FaultName);

// A save is one write, whichever call of it fails: the script on disk is the
// old text or the whole new one, the save reports failure exactly when the
// new text is not there, and no temporary file stays behind.
TEST(ScriptFaultPoints, SaveFailingAtAnyStepLeavesTheOldOrTheNewScript) {
  testing::ScriptTree tree;
  const std::string start =
      "; head\r\n" + Header(0) + "\"IoBase\"=dword:100\r\n" + Header(3) + "\"IoBase\"=dword:1c0\r\n";
  auto edit = [&](FileLayer& files) {
    TemplateTable table(nullptr, files);
    if (table.Load(tree.script()) != 0) return false;
    table.RemoveSlot(0);
    table.ApplyDefaults(table.AllocateSlot());
    table.ApplyDefaults(table.AllocateSlot());
    return table.Save(tree.script());
  };
  tree.Write(start);
  testing::StepFiles counting;
  ASSERT_TRUE(edit(counting));
  const std::string finished = tree.Read();
  ASSERT_NE(finished, start);

  for (int k = 0; k < counting.steps(); ++k) {
    tree.Write(start);
    testing::StepFiles files;
    files.FailAt(k);
    const bool ok = edit(files);
    const std::string left = tree.Read();
    EXPECT_TRUE(left == start || left == finished) << "step " << k << " (" << files.failed() << ")";
    EXPECT_EQ(ok, left == finished) << "step " << k << " (" << files.failed() << ")";
    EXPECT_EQ(tree.StrayFiles(), 0) << "step " << k << " (" << files.failed() << ")";
  }
}

// A directory that takes no new file (its owner's choice, a share that
// allows writing the file only): the script is rewritten in place, and the
// save says so.
class NoNewFiles : public FileLayer {
 public:
  int Open(const char* path, int flags, mode_t mode) override {
    if ((flags & O_CREAT) != 0) {
      errno = EACCES;
      return -1;
    }
    return FileLayer::Open(path, flags, mode);
  }
  ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset) override {
    if (failWrites > 0) {
      --failWrites;
      // Part of the text lands, then the disk is full.
      FileLayer::WriteAt(fd, data, size / 2, offset);
      errno = ENOSPC;
      return -1;
    }
    return FileLayer::WriteAt(fd, data, size, offset);
  }
  int failWrites = 0;
};

TEST(ScriptInPlace, DirectoryWithoutRoomForANewFileIsWrittenInPlace) {
  testing::ScriptTree tree;
  const std::string start = "; head\r\n" + testing::NewSection(0, "100", "3") + "; a long tail " +
                            std::string(200, '-') + "\r\n";
  tree.Write(start);
  struct stat before {};
  ASSERT_EQ(::stat(tree.script().c_str(), &before), 0);
  NoNewFiles files;
  TemplateTable table(nullptr, files);
  ASSERT_EQ(table.Load(tree.script()), 0);
  table.RemoveSlot(0);
  ASSERT_TRUE(table.Save(tree.script()));
  EXPECT_TRUE(table.lastSaveInPlace());
  // Shorter than before: the old end of the file is cut off, not left behind
  // (the comment after the section is no part of it and stays).
  EXPECT_EQ(tree.Read(), "; head\r\n; a long tail " + std::string(200, '-') + "\r\n");
  struct stat after {};
  ASSERT_EQ(::stat(tree.script().c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);

  // A write that fails half-way puts the old text back and says so.
  const std::string saved = tree.Read();
  ASSERT_EQ(table.AllocateSlot(), 0);
  table.ApplyDefaults(0);
  files.failWrites = 1;
  EXPECT_FALSE(table.Save(tree.script()));
  EXPECT_EQ(tree.Read(), saved);
  EXPECT_EQ(tree.StrayFiles(), 0);
}

TEST(ScriptFileMode, PermissionsSurviveAChange) {
  testing::ScriptTree tree;
  tree.Write(Header(0));
  ASSERT_EQ(::chmod(tree.script().c_str(), 0640), 0);
  RegScriptFile script;
  ASSERT_EQ(script.Open(tree.script().c_str()), 0);
  std::uint32_t irq = 5;
  ASSERT_EQ(script.WriteValue(0, "Irq", kTypeDword, &irq, 4), 0);
  struct stat info {};
  ASSERT_EQ(::stat(tree.script().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(ScriptFileMode, SymbolicLinkIsFollowedAndKept) {
  testing::ScriptTree tree;
  const std::string real = tree.root() + "real.reg";
  testing::WriteFile(real, Header(0));
  ASSERT_EQ(::symlink(real.c_str(), tree.script().c_str()), 0);
  RegScriptFile script;
  ASSERT_EQ(script.Open(tree.script().c_str()), 0);
  std::uint32_t irq = 5;
  ASSERT_EQ(script.WriteValue(0, "Irq", kTypeDword, &irq, 4), 0);
  EXPECT_TRUE(std::filesystem::is_symlink(tree.script()));
  EXPECT_EQ(testing::ReadFile(real), Header(0) + "\"Irq\"=dword:5\r\n");
}

}  // namespace
}  // namespace qio::config
