#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "script/front/tokens.h"
#include "script/runtime/engine.h"
#include "script/runtime/execute.h"

namespace keytwine::testing {
namespace {

std::vector<std::string> reports;

int32_t RecordReport(Frame*, Value* first, Value*, char*) {
  reports.emplace_back(first->data->text);
  return kNativeDone;
}

NativeEntry natives[] = {{"_sfunc_error", 0, &RecordReport}};

// A list of `count` integer elements that share one payload: one record per element, the least
// memory such a list can take.
struct FlatList {
  explicit FlatList(size_t count) : elements(count) {
    for (size_t i = 0; i < count; ++i) {
      elements[i].data = &payload;
      elements[i].next = i + 1 < count ? &elements[i + 1] : nullptr;
    }
    head.data = &headPayload;
    headPayload.owner = &head;
    head.elements = &elements[0];
    head.wholeList = 1;
  }
  ValueData payload{};
  ValueData headPayload{};
  std::vector<Value> elements;
  Value head{};
};

TEST(ListLimit, JoiningPastTheElementLimitIsReportedWithoutCopying) {
  InstallNativeTable(natives, 1);
  reports.clear();
  Script script{};
  script.name = const_cast<char*>("limits");
  Frame frame{};
  frame.script = &script;
  frame.position = "a + a";
  // Twice this is one element more than a list may hold.
  const FlatList half(static_cast<size_t>(kMaxListElements / 2) + 1);
  const uint64_t before = port::AllocationCount();
  EXPECT_EQ(BinaryOperation(&frame, &half.head, &half.head, T_ADD), nullptr);
  EXPECT_EQ(port::AllocationCount(), before);
  EXPECT_EQ(reports, std::vector<std::string>{"### Error: List too long : limits : a + a"});
  InstallNativeTable(nullptr, 0);
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The tool with its address space limited to `kilobytes` (ulimit -v): its exit status and what
// it wrote to standard error.
int RunCheckWithin(int kilobytes, const std::filesystem::path& script, std::string* errors) {
  const std::filesystem::path errorFile = script.string() + ".err";
  const std::string command = "ulimit -v " + std::to_string(kilobytes) + "; exec '" +
                              KEYTWINE_TOOL + "' check '" + script.string() + "' >/dev/null 2>'" +
                              errorFile.string() + "'";
  const int status = std::system(command.c_str());
  *errors = ReadAll(errorFile);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A configuration too large for the memory at hand must report and fail, wherever memory runs
// out: in reading, parsing or running it, and in delivering the report itself.
TEST(OutOfMemory, TheToolReportsAndFailsWhereverMemoryRunsOut) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizers reserve more address space than the limits below";
#else
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("keytwine-limits-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const std::filesystem::path script = folder / "big.ns";
  {
    std::ofstream file(script);
    for (int i = 0; i < 45000; ++i) file << "swap(0, 0, 0, 0x41, 0x1e, 0x42);\n";
  }
  for (const int kilobytes : {16384, 32768, 49152, 65536, 81920}) {
    std::string errors;
    EXPECT_NE(RunCheckWithin(kilobytes, script, &errors), 0) << kilobytes << " KB";
    EXPECT_NE(errors.find("Alloc failed"), std::string::npos) << kilobytes << " KB:\n" << errors;
  }
  std::filesystem::remove_all(folder);
#endif
}

}  // namespace
}  // namespace keytwine::testing
