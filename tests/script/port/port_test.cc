// The port layer on POSIX against the operating system.
#include "script/port/port.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace keytwine::port {
namespace {

std::u16string Wide(const std::string& utf8) {
  char16_t wide[512] = {};
  MultiByteToWide(utf8.c_str(), -1, wide, 512);
  return wide;
}

void OnThreads(int count, const std::function<void()>& body) {
  std::vector<std::thread> threads;
  threads.reserve(static_cast<size_t>(count));
  for (int t = 0; t < count; ++t) threads.emplace_back(body);
  for (std::thread& thread : threads) thread.join();
}

TEST(PortMemory, TheSwitchFailsTheNthAllocationOnceAcrossThreads) {
  const uint64_t before = AllocationCount();
  FailAllocationAfter(3);
  void* blocks[] = {Alloc(4), AllocZero(4), Alloc(4), AllocZero(64), Alloc(0)};
  EXPECT_EQ(AllocationCount(), before + 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(blocks[i] == nullptr, i == 2) << i;
  EXPECT_EQ(std::string(static_cast<char*>(blocks[3]), 64), std::string(64, '\0'));
  for (void* block : blocks) Free(block);
  std::atomic<int> failures{0};
  FailAllocationAfter(8000);
  OnThreads(8, [&] {
    for (int i = 0; i < 2000; ++i) {
      void* block = (i & 1) != 0 ? Alloc(8) : AllocZero(8);
      failures += block == nullptr ? 1 : 0;
      Free(block);
    }
  });
  EXPECT_EQ(failures.load(), 1);
}

TEST(PortCodePage, LeadBytesAndConversionsFollowTheWin32Contract) {
  EXPECT_FALSE(SetCodePage(12345));
  ASSERT_TRUE(SetCodePage(kCodePageShiftJis));
  std::string leads;
  for (int byte = 0; byte < 256; ++byte) leads += IsDBCSLeadByte(byte) ? 'L' : '.';
  ASSERT_TRUE(SetCodePage(kCodePageUtf8));
  for (int byte = 0; byte < 256; ++byte) leads += IsDBCSLeadByte(byte) ? 'L' : '.';
  EXPECT_EQ(leads, std::string(0x81, '.') + std::string(0x1F, 'L') + std::string(0x40, '.') +
                       std::string(0x1D, 'L') + std::string(259, '.'));
  char16_t wide[8] = {u'#', u'#', u'#', u'#'};
  char bytes[8] = "#######";
  // A given length adds no NUL, -1 counts it, no buffer asks the size, too small a buffer gives 0.
  EXPECT_EQ(MultiByteToWide("abcdef", 3, wide, 8) + WideToMultiByte(u"xyz", 2, bytes, 8), 5);
  EXPECT_EQ(std::u16string(wide, 4) + Wide(std::string(bytes, 3)), u"abc#xy#");
  EXPECT_EQ(MultiByteToWide("abc", -1, nullptr, 0) + MultiByteToWide("abc", -1, wide, 4), 8);
  EXPECT_EQ(WideToMultiByte(u"abc", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWide("abcdef", -1, wide, 4) + WideToMultiByte(u"abcdef", -1, bytes, 4), 0);
  EXPECT_EQ(MultiByteToWide(nullptr, -1, wide, 4) + MultiByteToWide("abc", 0, wide, 4), 0);
  EXPECT_EQ(WideToMultiByte(nullptr, -1, bytes, 4) + WideToMultiByte(u"abc", 0, bytes, 4), 0);
}

TEST(PortThreads, ARecursiveLockExcludesOthersAndAThreadKnowsItsIdBeforeItRuns) {
  Lock lock;
  long counter = 0;
  OnThreads(4, [&] {
    for (int i = 0; i < 10000; ++i) {
      LockGuard outer(lock), inner(lock);
      ++counter;
    }
  });
  EXPECT_EQ(counter, 40000);
  // Each thread records the id that StartThread stored before it ran, and its own.
  static uint32_t before[2];
  static std::atomic<uint32_t> seen[2], own[2];
  const auto probe = [](void* at) {
    const auto i = static_cast<uint32_t*>(at) - before;
    seen[i] = before[i];
    own[i] = CurrentThreadId();
  };
  const uint32_t ids[] = {StartThread(probe, before, before),
                          StartThread(probe, before + 1, before + 1)};
  while (own[0] == 0 || own[1] == 0) YieldThread();
  EXPECT_NE(ids[0], ids[1]);
  EXPECT_NE(CurrentThreadId(), ids[0]);
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(seen[i] == ids[i] && own[i] == ids[i]) << i;
  EXPECT_EQ(StartThread(nullptr, nullptr), 0u);
}

// FindFiles and ReadWholeFile on a folder of a.ns b.ns abc.ns ab.txt b.nsx noext sub/empty.ns
// and sub/日本.ns ("hello\0world"). The loader's tests show sorted imports and missing files.
TEST(PortFiles, FindFilesMatchesWildcardsInSortedOrderAndReadWholeFileReadsFilesOnly) {
  char name[] = "/tmp/keytwine-port-XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  const std::string in = name, nihon = "\xE6\x97\xA5\xE6\x9C\xAC.ns";
  std::filesystem::create_directory(in + "/sub");
  for (const char* file : {"a.ns", "b.ns", "abc.ns", "ab.txt", "b.nsx", "noext"})
    std::ofstream(in + "/" + file) << "x";
  std::ofstream(in + "/sub/empty.ns") << "";
  std::ofstream(in + "/sub/" + nihon) << std::string("hello\0world", 11);
  static std::u16string found;
  const auto add = [](const char16_t* name, void*) { found += name + std::u16string(u" "); };
  const std::string searches[][2] = {
      {in + "/?.ns", "a.ns b.ns 2"},
      {in + "/*b*s", "abc.ns b.ns 2"},
      {in + "/*.*", "a.ns ab.txt abc.ns b.ns b.nsx noext 6"},  // the folder sub is left out
      {in + "/A.NS", "0"},
      {in + "/a.ns?", "0"},
      {in + "\\sub\\??.ns", nihon + " 1"},
      {in + "/missing/*.ns", "-1"},
  };
  for (const auto& [pattern, names] : searches) {
    found.clear();
    const int count = FindFiles(Wide(pattern).c_str(), add, nullptr);
    EXPECT_EQ(found + Wide(std::to_string(count)), Wide(names)) << pattern;
  }
  EXPECT_EQ(FindFiles(Wide(in + "/*.ns").c_str(), nullptr, nullptr), 3);
  EXPECT_EQ(FindFiles(nullptr, nullptr, nullptr), -1);
  // The text and a NUL after it, then the size; or null and a size of 0.
  const auto read = [](const std::string& path) {
    size_t size = 99;
    const Owned<char> text = ReadWholeFile(Wide(path).c_str(), &size);
    return (text ? std::string(text.get(), size + 1) : "null ") + std::to_string(size);
  };
  EXPECT_EQ(read(in + "\\sub\\" + nihon) + read(in + "/sub/empty.ns") + read(in + "/sub"),
            std::string("hello\0world\0"
                        "11\0"
                        "0null 0",
                        22));
  EXPECT_EQ(ReadWholeFile(nullptr, nullptr), nullptr);
  bool outOfMemory = false;
  FailAllocationAfter(1);
  EXPECT_EQ(ReadWholeFile(Wide(in + "/a.ns").c_str(), nullptr, &outOfMemory), nullptr);
  EXPECT_TRUE(outOfMemory);
  std::filesystem::remove_all(in);
}

}  // namespace
}  // namespace keytwine::port
