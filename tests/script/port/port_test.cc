// The port layer on POSIX against the operating system: the allocation switch, code pages and
// conversions, locks, threads, folder search, whole-file reads and dynamic libraries. What the
// conversions make of particular characters is in tests/script/text/cases/strings.cases.
#include "script/port/port.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace keytwine::port {
namespace {

namespace fs = std::filesystem;

std::u16string Wide(const std::string& utf8) {
  char16_t wide[512] = {};
  MultiByteToWide(utf8.c_str(), -1, wide, 512);
  return wide;
}

TEST(PortMemory, TheSwitchFailsTheNthAllocationOnlyAndEveryAttemptCounts) {
  const uint64_t before = AllocationCount();
  FailAllocationAfter(3);
  void* blocks[] = {Alloc(4), AllocZero(4), Alloc(4), AllocZero(4), Alloc(0)};
  EXPECT_EQ(AllocationCount(), before + 5);
  EXPECT_EQ(blocks[2], nullptr);
  for (void* block : {blocks[0], blocks[1], blocks[3], blocks[4]}) EXPECT_NE(block, nullptr);
  for (void* block : blocks) Free(block);
  FailAllocationAfter(1);
  FailAllocationAfter(0);
  const Owned<unsigned char> zero(static_cast<unsigned char*>(AllocZero(64)));
  ASSERT_NE(zero, nullptr);
  EXPECT_EQ(std::count(zero.get(), zero.get() + 64, 0), 64);
}

TEST(PortMemory, TheSwitchFailsExactlyOneAllocationAcrossThreads) {
  std::atomic<int> failures{0};
  FailAllocationAfter(8000);
  std::vector<std::thread> threads;
  threads.reserve(8);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&failures] {
      for (int i = 0; i < 2000; ++i) {
        void* block = (i & 1) != 0 ? Alloc(8) : AllocZero(8);
        if (block == nullptr) ++failures;
        Free(block);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 1);
}

TEST(PortCodePage, LeadBytesOfShiftJisAndNoneInUtf8) {
  EXPECT_EQ(CodePage(), kCodePageUtf8);
  EXPECT_FALSE(SetCodePage(12345));
  ASSERT_TRUE(SetCodePage(kCodePageShiftJis));
  std::string leads;
  for (int byte = 0; byte < 256; ++byte) leads += IsDBCSLeadByte(byte) ? 'L' : '.';
  ASSERT_TRUE(SetCodePage(kCodePageUtf8));
  EXPECT_EQ(leads, std::string(0x81, '.') + std::string(0x1F, 'L') + std::string(0x40, '.') +
                       std::string(0x1D, 'L') + std::string(3, '.'));
  for (int byte = 0; byte < 256; ++byte) EXPECT_FALSE(IsDBCSLeadByte(byte));
}

TEST(PortCodePage, ConversionsFollowTheWin32Contract) {
  char16_t wide[8] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(MultiByteToWide("abcdef", 3, wide, 8), 3);  // no NUL added
  EXPECT_EQ(std::u16string(wide, 4), u"abc#");
  EXPECT_EQ(MultiByteToWide("abc", -1, nullptr, 0), 4);  // the size, NUL included
  EXPECT_EQ(MultiByteToWide("abc", -1, wide, 4), 4);
  EXPECT_EQ(MultiByteToWide("abcdef", -1, wide, 4), 0);  // too small
  EXPECT_EQ(MultiByteToWide(nullptr, -1, wide, 4) + MultiByteToWide("abc", 0, wide, 4), 0);
  char bytes[8] = "#######";
  EXPECT_EQ(WideToMultiByte(u"xyz", 2, bytes, 8), 2);
  EXPECT_EQ(std::string(bytes, 3), "xy#");
  EXPECT_EQ(WideToMultiByte(u"abc", -1, nullptr, 0), 4);
  EXPECT_EQ(WideToMultiByte(u"abcdef", -1, bytes, 4), 0);
  EXPECT_EQ(WideToMultiByte(nullptr, -1, bytes, 4) + WideToMultiByte(u"abc", 0, bytes, 4), 0);
}

TEST(PortThreads, ARecursiveLockExcludesOtherThreads) {
  Lock lock;
  long counter = 0;
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        LockGuard outer(lock);
        LockGuard inner(lock);
        ++counter;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(counter, 40000);
}

struct Probe {
  uint32_t idBeforeRun = 0;  // stored by StartThread before the thread runs
  std::atomic<uint32_t> idFromRecord{0};
  std::atomic<uint32_t> ownId{0};
};

void RunProbe(void* argument) {
  auto* probe = static_cast<Probe*>(argument);
  probe->idFromRecord = probe->idBeforeRun;
  probe->ownId = CurrentThreadId();
}

TEST(PortThreads, AThreadKnowsItsIdBeforeItRuns) {
  Probe first, second;
  const uint32_t a = StartThread(RunProbe, &first, &first.idBeforeRun);
  const uint32_t b = StartThread(RunProbe, &second, &second.idBeforeRun);
  while (first.ownId == 0 || second.ownId == 0) YieldThread();
  EXPECT_NE(a, b);
  EXPECT_EQ(first.ownId.load(), a);
  EXPECT_EQ(first.idFromRecord.load(), a);
  EXPECT_EQ(second.idFromRecord.load(), b);
  EXPECT_NE(CurrentThreadId(), a);
  EXPECT_EQ(StartThread(nullptr, nullptr), 0u);
}

class PortFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/keytwine-port-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    folder_ = name;
    fs::create_directory(folder_ + "/sub");
    for (const char* file : {"a.ns", "b.ns", "abc.ns", "ab.txt", "b.nsx", "noext"})
      Write(file, "x");
    Write("sub/\xE6\x97\xA5\xE6\x9C\xAC.ns", std::string("hello\0world", 11));  // 日本.ns
    Write("sub/empty.ns", "");
  }
  void TearDown() override { fs::remove_all(folder_); }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(folder_ + "/" + name, std::ios::binary) << text;
  }
  // The names found, separated by blanks, and their count.
  std::string Find(const std::u16string& pattern) {
    std::u16string names;
    const int count = FindFiles(
        pattern.c_str(),
        [](const char16_t* name, void* found) {
          *static_cast<std::u16string*>(found) += std::u16string(name) + u' ';
        },
        &names);
    char utf8[512] = {};
    WideToMultiByte(names.c_str(), -1, utf8, 512);
    return utf8 + std::to_string(count);
  }
  std::string Read(const std::u16string& path) {
    size_t size = 99;
    const Owned<char> text = ReadWholeFile(path.c_str(), &size);
    if (text == nullptr) return "null " + std::to_string(size);
    return std::string(text.get(), size + 1) + std::to_string(size);
  }
  std::string folder_;
};

TEST_F(PortFiles, FindFilesMatchesWildcardsInSortedOrder) {
  const std::u16string in = Wide(folder_);
  EXPECT_EQ(Find(in + u"/*.ns"), "a.ns abc.ns b.ns 3");  // the folder sub is left out
  EXPECT_EQ(Find(in + u"/?.ns"), "a.ns b.ns 2");
  EXPECT_EQ(Find(in + u"/a?c.*"), "abc.ns 1");
  EXPECT_EQ(Find(in + u"/*b*s"), "abc.ns b.ns 2");
  EXPECT_EQ(Find(in + u"/*.*"), "a.ns ab.txt abc.ns b.ns b.nsx noext 6");
  EXPECT_EQ(Find(in + u"/A.NS"), "0");
  EXPECT_EQ(Find(in + u"/a.ns?"), "0");
  EXPECT_EQ(Find(in + u"\\sub\\??.ns"), "\xE6\x97\xA5\xE6\x9C\xAC.ns 1");
  EXPECT_EQ(Find(in + u"/missing/*.ns"), "-1");
  EXPECT_EQ(FindFiles(nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(FindFiles((in + u"/*.ns").c_str(), nullptr, nullptr), 3);
  const fs::path before = fs::current_path();
  fs::current_path(folder_ + "/sub");
  EXPECT_EQ(Find(u"*.ns"), "empty.ns \xE6\x97\xA5\xE6\x9C\xAC.ns 2");
  fs::current_path(before);
}

TEST_F(PortFiles, ReadWholeFileReadsExistingFilesOnly) {
  const std::u16string in = Wide(folder_);
  EXPECT_EQ(Read(in + u"\\sub\\日本.ns"), std::string("hello\0world\0"
                                                      "11",
                                                      14));
  EXPECT_EQ(Read(in + u"/sub/empty.ns"), std::string("\0"
                                                     "0",
                                                     2));
  EXPECT_EQ(Read(in + u"/missing.ns"), "null 0");
  EXPECT_FALSE(fs::exists(folder_ + "/missing.ns"));
  EXPECT_EQ(Read(in + u"/sub"), "null 0");
  EXPECT_EQ(ReadWholeFile(nullptr, nullptr), nullptr);
  FailAllocationAfter(1);
  bool outOfMemory = false;
  EXPECT_EQ(ReadWholeFile((in + u"/a.ns").c_str(), nullptr, &outOfMemory), nullptr);
  EXPECT_TRUE(outOfMemory);
}

TEST(PortLibraries, LoadALibraryAndFindItsSymbols) {
  LibraryHandle library = OpenLibrary(Wide(KEYTWINE_TEST_MODULE).c_str());
  ASSERT_NE(library, nullptr) << KEYTWINE_TEST_MODULE;
  auto* add = reinterpret_cast<int (*)(int, int)>(FindSymbol(library, "keytwine_test_add"));
  ASSERT_NE(add, nullptr);
  EXPECT_EQ(add(40, 2), 42);
  EXPECT_EQ(FindSymbol(library, "no_such_symbol"), nullptr);
  EXPECT_EQ(FindSymbol(library, nullptr), nullptr);
  CloseLibrary(library);
  EXPECT_EQ(OpenLibrary(u"/no/such/folder/libmissing.so"), nullptr);
  EXPECT_EQ(OpenLibrary(u"missing.dll"), nullptr);
  EXPECT_EQ(OpenLibrary(nullptr), nullptr);
  EXPECT_EQ(FindSymbol(nullptr, "x"), nullptr);
  CloseLibrary(nullptr);
}

}  // namespace
}  // namespace keytwine::port
