#include "ToolRunner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace qio::tool::test {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

nlohmann::json ToolResult::Json() const {
  nlohmann::json document = nlohmann::json::parse(out, nullptr, false);
  EXPECT_FALSE(document.is_discarded()) << "stdout is not one JSON document:\n" << out;
  return document;
}

void ToolTest::SetUp() {
  char pattern[] = "/tmp/qio5162-tool-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  dir_ = pattern;
}

void ToolTest::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string ToolTest::WriteFile(const std::string& name, const std::string& text) {
  const std::string path = dir_ + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

ToolResult ToolTest::Run(const std::vector<std::string>& args, const std::string& input) {
  return RunProgram(QIO5162_TOOL, args, input);
}

ToolResult ToolTest::RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::string& input) {
  const std::string in = WriteFile("stdin.txt", input);
  const std::string out = dir_ + "/stdout.txt";
  const std::string err = dir_ + "/stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> argvStore{program};
  argvStore.insert(argvStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvStore) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ToolResult result;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(spawned, 0) << "cannot start " << program;
  if (spawned != 0) return result;
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadAll(out);
  result.err = ReadAll(err);
  return result;
}

std::string BoardRegistry(unsigned base, unsigned irq, const std::string& digPortCfg, unsigned index,
                          bool header) {
  char text[700];
  std::snprintf(text, sizeof text,
                "%s\r\n[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S%u]\r\n\"Prefix\"=\"Q62\"\r\n"
                "\"Dll\"=\"Zqs5162s.dll\"\r\n\"Order\"=dword:%08x\r\n\"DeviceIndex\"=dword:%08x\r\n"
                "\"IoBase\"=dword:%08x\r\n\"IoLen\"=dword:00000040\r\n\"Irq\"=dword:%08x\r\n"
                "\"TimerClock\"=dword:00000014\r\n\"DigPortCfg\"=hex:%s\r\n",
                header ? "REGEDIT4\r\n" : "", index, index, index, base, irq, digPortCfg.c_str());
  return text;
}

}  // namespace qio::tool::test
