// Tests of the port layer (POSIX implementation): engine memory and its failure switch, the code
// page and its conversions, locks, threads, folder search, whole-file reads and dynamic libraries.
#include "script/port/port.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace keytwine::port {
namespace {

namespace fs = std::filesystem;

// Every test starts and ends in the default code page and with the allocation switch off.
class PortTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SetCodePage(kCodePageUtf8));
    FailAllocationAfter(0);
  }
  void TearDown() override {
    SetCodePage(kCodePageUtf8);
    FailAllocationAfter(0);
  }
};

// UTF-8 text to UTF-16 (code page 65001 must be selected).
std::u16string Wide(const std::string& utf8) {
  const int units = MultiByteToWide(utf8.c_str(), -1, nullptr, 0);
  std::u16string result(static_cast<size_t>(units), u'\0');
  EXPECT_EQ(MultiByteToWide(utf8.c_str(), -1, result.data(), units), units);
  result.resize(static_cast<size_t>(units) - 1);
  return result;
}

// --- Engine memory -------------------------------------------------------------------------

TEST_F(PortTest, AllocAndAllocZero) {
  auto* plain = static_cast<char*>(Alloc(16));
  ASSERT_NE(plain, nullptr);
  std::memset(plain, 'x', 16);
  Free(plain);

  auto* zero = static_cast<unsigned char*>(AllocZero(64));
  ASSERT_NE(zero, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(zero[i], 0) << i;
  Free(zero);

  void* empty = Alloc(0);  // a size of 0 still gives a block
  EXPECT_NE(empty, nullptr);
  Free(empty);
  Free(nullptr);  // accepted
}

TEST_F(PortTest, OwnedFreesWithEngineFree) {
  Owned<char> block(static_cast<char*>(Alloc(8)));
  ASSERT_NE(block, nullptr);
  block.get()[0] = 'a';
}

TEST_F(PortTest, AllocationCountCountsEveryAttempt) {
  const uint64_t before = AllocationCount();
  Free(Alloc(1));
  Free(AllocZero(1));
  EXPECT_EQ(AllocationCount(), before + 2);
  FailAllocationAfter(1);
  EXPECT_EQ(Alloc(1), nullptr);
  EXPECT_EQ(AllocationCount(), before + 3);  // failed ones count too
}

TEST_F(PortTest, FailAllocationAfterFailsOnlyTheNthAllocation) {
  FailAllocationAfter(3);
  void* first = Alloc(4);
  void* second = AllocZero(4);
  void* third = Alloc(4);
  void* fourth = AllocZero(4);
  void* fifth = Alloc(4);
  EXPECT_NE(first, nullptr);
  EXPECT_NE(second, nullptr);
  EXPECT_EQ(third, nullptr);
  EXPECT_NE(fourth, nullptr);
  EXPECT_NE(fifth, nullptr);
  for (void* block : {first, second, fourth, fifth}) Free(block);
}

TEST_F(PortTest, FailAllocationAfterOneFailsTheNextAndZeroTurnsOff) {
  FailAllocationAfter(1);
  EXPECT_EQ(AllocZero(1), nullptr);
  void* again = AllocZero(1);
  EXPECT_NE(again, nullptr);
  Free(again);

  FailAllocationAfter(2);
  FailAllocationAfter(0);
  for (int i = 0; i < 4; ++i) {
    void* block = Alloc(1);
    EXPECT_NE(block, nullptr);
    Free(block);
  }
}

// Walking the switch over every allocation of an operation, as the engine's tests do.
TEST_F(PortTest, FailureSwitchCanWalkEveryAllocationOfAnOperation) {
  auto operation = [] {
    void* a = Alloc(10);
    void* b = AllocZero(20);
    void* c = Alloc(30);
    const bool ok = a != nullptr && b != nullptr && c != nullptr;
    Free(a);
    Free(b);
    Free(c);
    return ok;
  };
  const uint64_t before = AllocationCount();
  ASSERT_TRUE(operation());
  const uint64_t count = AllocationCount() - before;
  ASSERT_EQ(count, 3u);
  for (uint64_t n = 1; n <= count; ++n) {
    FailAllocationAfter(n);
    EXPECT_FALSE(operation()) << n;
  }
  FailAllocationAfter(0);
  EXPECT_TRUE(operation());
}

TEST_F(PortTest, FailureSwitchFailsExactlyOneAllocationAcrossThreads) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 2000;
  std::atomic<int> failures{0};
  FailAllocationAfter(kThreads * kPerThread / 2);
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&failures] {
      for (int i = 0; i < kPerThread; ++i) {
        void* block = (i & 1) != 0 ? Alloc(8) : AllocZero(8);
        if (block == nullptr) failures.fetch_add(1);
        Free(block);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 1);
}

// --- Code page -----------------------------------------------------------------------------

TEST_F(PortTest, DefaultCodePageIsUtf8WithoutLeadBytes) {
  EXPECT_EQ(CodePage(), kCodePageUtf8);
  for (int byte = 0; byte < 256; ++byte) EXPECT_FALSE(IsDBCSLeadByte(static_cast<uint8_t>(byte)));
}

TEST_F(PortTest, ShiftJisLeadBytes) {
  ASSERT_TRUE(SetCodePage(kCodePageShiftJis));
  EXPECT_EQ(CodePage(), kCodePageShiftJis);
  for (int byte = 0; byte < 256; ++byte) {
    const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    EXPECT_EQ(IsDBCSLeadByte(static_cast<uint8_t>(byte)), lead) << byte;
  }
  EXPECT_FALSE(IsDBCSLeadByte(0x80));
  EXPECT_FALSE(IsDBCSLeadByte(0xA0));
  EXPECT_FALSE(IsDBCSLeadByte(0xB1));  // half-width katakana is one byte
  EXPECT_FALSE(IsDBCSLeadByte(0xDF));
  EXPECT_FALSE(IsDBCSLeadByte(0xFD));
  ASSERT_TRUE(SetCodePage(kCodePageUtf8));
  EXPECT_FALSE(IsDBCSLeadByte(0x81));
}

TEST_F(PortTest, UnknownCodePageIsRefusedAndKeepsTheOldOne) {
  EXPECT_FALSE(SetCodePage(12345));
  EXPECT_EQ(CodePage(), kCodePageUtf8);
}

TEST_F(PortTest, Utf8ToWideAndBack) {
  const char* text = "Keytwine \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // "Keytwine 日本語"
  const int units = MultiByteToWide(text, -1, nullptr, 0);
  EXPECT_EQ(units, 13);  // 9 + 3 characters + NUL
  char16_t wide[32];
  ASSERT_EQ(MultiByteToWide(text, -1, wide, 32), 13);
  EXPECT_EQ(std::u16string(wide), u"Keytwine 日本語");

  const int bytes = WideToMultiByte(wide, -1, nullptr, 0);
  EXPECT_EQ(bytes, static_cast<int>(std::strlen(text)) + 1);
  char back[32];
  ASSERT_EQ(WideToMultiByte(wide, -1, back, 32), bytes);
  EXPECT_STREQ(back, text);
}

TEST_F(PortTest, ExplicitLengthConvertsNoNul) {
  char16_t wide[8] = {u'#', u'#', u'#', u'#', u'#', u'#', u'#', u'#'};
  EXPECT_EQ(MultiByteToWide("abcdef", 3, nullptr, 0), 3);
  EXPECT_EQ(MultiByteToWide("abcdef", 3, wide, 8), 3);
  EXPECT_EQ(wide[0], u'a');
  EXPECT_EQ(wide[2], u'c');
  EXPECT_EQ(wide[3], u'#');
  char bytes[8] = "#######";
  EXPECT_EQ(WideToMultiByte(u"xyz", 2, bytes, 8), 2);
  EXPECT_EQ(bytes[0], 'x');
  EXPECT_EQ(bytes[1], 'y');
  EXPECT_EQ(bytes[2], '#');
}

TEST_F(PortTest, ConversionEdgeCases) {
  char16_t wide[4];
  char bytes[4];
  EXPECT_EQ(MultiByteToWide(nullptr, -1, wide, 4), 0);
  EXPECT_EQ(WideToMultiByte(nullptr, -1, bytes, 4), 0);
  EXPECT_EQ(MultiByteToWide("abc", 0, wide, 4), 0);
  EXPECT_EQ(WideToMultiByte(u"abc", 0, bytes, 4), 0);
  EXPECT_EQ(MultiByteToWide("abcdef", -1, wide, 4), 0);  // output too small
  EXPECT_EQ(WideToMultiByte(u"abcdef", -1, bytes, 4), 0);
  EXPECT_EQ(MultiByteToWide("", -1, nullptr, 0), 1);  // just the NUL
  EXPECT_EQ(MultiByteToWide("", -1, wide, 4), 1);
  EXPECT_EQ(wide[0], 0);
  EXPECT_EQ(MultiByteToWide("abc", -1, wide, 4), 4);  // exactly enough
}

TEST_F(PortTest, SurrogatePairsAndInvalidInputInUtf8) {
  const char* smile = "\xF0\x9F\x98\x80";  // U+1F600
  char16_t wide[8];
  ASSERT_EQ(MultiByteToWide(smile, -1, wide, 8), 3);
  EXPECT_EQ(wide[0], 0xD83D);
  EXPECT_EQ(wide[1], 0xDE00);
  char back[8];
  ASSERT_EQ(WideToMultiByte(wide, -1, back, 8), 5);
  EXPECT_STREQ(back, smile);

  // An invalid byte becomes U+FFFD, and the conversion goes on.
  ASSERT_EQ(MultiByteToWide("a\xFF"
                            "b",
                            -1, wide, 8),
            4);
  EXPECT_EQ(wide[0], u'a');
  EXPECT_EQ(wide[1], 0xFFFD);
  EXPECT_EQ(wide[2], u'b');
  // A lone surrogate becomes U+FFFD in UTF-8.
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  ASSERT_EQ(WideToMultiByte(lone, -1, back, 8), 6);
  EXPECT_STREQ(back,
               "a\xEF\xBF\xBD"
               "b");
}

TEST_F(PortTest, ShiftJisConversions) {
  ASSERT_TRUE(SetCodePage(kCodePageShiftJis));
  const char* sjis =
      "\x93\xFA\x96\x7B\x8C\xEA"
      "A\xB1";  // 日本語Aｱ
  char16_t wide[16];
  ASSERT_EQ(MultiByteToWide(sjis, -1, nullptr, 0), 6);
  ASSERT_EQ(MultiByteToWide(sjis, -1, wide, 16), 6);
  EXPECT_EQ(std::u16string(wide), u"日本語Aｱ");

  char back[16];
  ASSERT_EQ(WideToMultiByte(u"日本語Aｱ", -1, nullptr, 0), 9);
  ASSERT_EQ(WideToMultiByte(u"日本語Aｱ", -1, back, 16), 9);
  EXPECT_STREQ(back, sjis);

  // 表 has 0x5C ('\') as its second byte.
  ASSERT_EQ(WideToMultiByte(u"表", -1, back, 16), 3);
  EXPECT_STREQ(back, "\x95\x5C");
  ASSERT_EQ(MultiByteToWide("\x95\x5C", -1, wide, 16), 2);
  EXPECT_EQ(wide[0], u'表');

  // A character Shift-JIS lacks becomes '?'; a surrogate pair gives one '?'.
  ASSERT_EQ(WideToMultiByte(u"a😀b", -1, back, 16), 4);
  EXPECT_STREQ(back, "a?b");
}

TEST_F(PortTest, ShiftJisLeadByteBeforeNul) {
  ASSERT_TRUE(SetCodePage(kCodePageShiftJis));
  char16_t wide[8];
  const int units = MultiByteToWide("a\x93", -1, wide, 8);
  ASSERT_GE(units, 3);
  EXPECT_EQ(wide[0], u'a');
  EXPECT_EQ(wide[units - 1], 0);  // the text still ends
}

// --- Locks and threads ---------------------------------------------------------------------

TEST_F(PortTest, LockIsRecursive) {
  Lock lock;
  lock.Enter();
  lock.Enter();
  { LockGuard guard(lock); }
  lock.Leave();
  lock.Leave();
  // Free again: another thread can take it.
  std::atomic<bool> taken{false};
  std::thread other([&] {
    LockGuard guard(lock);
    taken = true;
  });
  other.join();
  EXPECT_TRUE(taken);
}

TEST_F(PortTest, LockExcludesOtherThreads) {
  Lock lock;
  std::atomic<bool> entered{false};
  lock.Enter();
  std::thread other([&] {
    LockGuard guard(lock);
    entered = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(entered);
  lock.Leave();
  other.join();
  EXPECT_TRUE(entered);

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
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(counter, 40000);
}

struct ThreadProbe {
  std::atomic<bool> done{false};
  std::atomic<uint32_t> seenId{0};
  uint32_t idBeforeRun = 0;  // written by StartThread before the thread runs
  std::atomic<uint32_t> idSeenFromRecord{0};
};

void ProbeThread(void* argument) {
  auto* probe = static_cast<ThreadProbe*>(argument);
  probe->idSeenFromRecord = probe->idBeforeRun;
  probe->seenId = CurrentThreadId();
  probe->done = true;
}

TEST_F(PortTest, ThreadRunsAndSignals) {
  ThreadProbe probe;
  const uint32_t id = StartThread(ProbeThread, &probe, &probe.idBeforeRun);
  ASSERT_NE(id, 0u);
  for (int i = 0; i < 5000 && !probe.done; ++i) Sleep(1);
  ASSERT_TRUE(probe.done);
  EXPECT_EQ(probe.seenId.load(), id);
  EXPECT_EQ(probe.idSeenFromRecord.load(), id);  // the id was there before the thread ran
  EXPECT_NE(CurrentThreadId(), 0u);
  EXPECT_NE(CurrentThreadId(), id);
  EXPECT_EQ(CurrentThreadId(), CurrentThreadId());
}

TEST_F(PortTest, ThreadsGetDistinctIds) {
  ThreadProbe first;
  ThreadProbe second;
  const uint32_t a = StartThread(ProbeThread, &first);
  const uint32_t b = StartThread(ProbeThread, &second);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);
  while (!first.done || !second.done) YieldThread();
  EXPECT_EQ(first.seenId.load(), a);
  EXPECT_EQ(second.seenId.load(), b);
}

TEST_F(PortTest, StartThreadWithoutFunctionFails) {
  EXPECT_EQ(StartThread(nullptr, nullptr), 0u);
}

TEST_F(PortTest, SleepWaits) {
  const auto start = std::chrono::steady_clock::now();
  Sleep(20);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(19));
  Sleep(0);
  YieldThread();
}

// --- Files ---------------------------------------------------------------------------------

class PortFileTest : public PortTest {
 protected:
  void SetUp() override {
    PortTest::SetUp();
    char pattern[] = "/tmp/keytwine-port-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
    PortTest::TearDown();
  }
  void Write(const std::string& name, const std::string& contents) {
    std::ofstream(folder_ + "/" + name, std::ios::binary) << contents;
  }
  std::vector<std::u16string> Find(const std::string& namePattern) {
    return FindIn(Wide(folder_ + "/" + namePattern));
  }
  static std::vector<std::u16string> FindIn(const std::u16string& pattern, int* count = nullptr) {
    std::vector<std::u16string> names;
    const int reported = FindFiles(
        pattern.c_str(),
        [](const char16_t* name, void* context) {
          static_cast<std::vector<std::u16string>*>(context)->emplace_back(name);
        },
        &names);
    if (count != nullptr) *count = reported;
    return names;
  }

  std::string folder_;
};

using Names = std::vector<std::u16string>;

TEST_F(PortFileTest, FindFilesWithWildcards) {
  for (const char* name : {"a.ns", "b.ns", "abc.ns", "ab.txt", "b.nsx", "noext"}) Write(name, "x");
  fs::create_directory(folder_ + "/dir.ns");

  EXPECT_EQ(Find("*.ns"), (Names{u"a.ns", u"abc.ns", u"b.ns"}));  // the folder dir.ns is left out
  EXPECT_EQ(Find("?.ns"), (Names{u"a.ns", u"b.ns"}));
  EXPECT_EQ(Find("a*"), (Names{u"a.ns", u"ab.txt", u"abc.ns"}));
  EXPECT_EQ(Find("a?c.*"), (Names{u"abc.ns"}));
  EXPECT_EQ(Find("*b*s"), (Names{u"abc.ns", u"b.ns"}));
  EXPECT_EQ(Find("b.ns"), (Names{u"b.ns"}));
  EXPECT_EQ(Find("*"), (Names{u"a.ns", u"ab.txt", u"abc.ns", u"b.ns", u"b.nsx", u"noext"}));
  EXPECT_EQ(Find("*.*"), Find("*"));  // "*.*" means every name, as on Windows
  EXPECT_EQ(Find("A.NS"), Names{});   // case-sensitive on POSIX
  EXPECT_EQ(Find("?"), Names{});
  EXPECT_EQ(Find("a.ns?"), Names{});
}

TEST_F(PortFileTest, FindFilesCountsAndMissingFolder) {
  Write("one.ns", "1");
  Write("two.ns", "2");
  int count = 0;
  FindIn(Wide(folder_ + "/*.ns"), &count);
  EXPECT_EQ(count, 2);
  FindIn(Wide(folder_ + "/*.none"), &count);
  EXPECT_EQ(count, 0);
  FindIn(Wide(folder_ + "/missing/*.ns"), &count);
  EXPECT_EQ(count, -1);
  EXPECT_EQ(FindFiles(nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(FindFiles(Wide(folder_ + "/*").c_str(), nullptr, nullptr), 2);  // no callback
}

TEST_F(PortFileTest, FindFilesInSubfolderWithBackslashesAndJapaneseNames) {
  fs::create_directory(folder_ + "/sub");
  Write("sub/\xE6\x97\xA5\xE6\x9C\xAC.ns", "x");  // 日本.ns
  Write("sub/k.ns", "x");
  EXPECT_EQ(FindIn(Wide(folder_) + u"\\sub\\*.ns"), (Names{u"k.ns", u"日本.ns"}));
  EXPECT_EQ(FindIn(Wide(folder_) + u"/sub/??.ns"), (Names{u"日本.ns"}));
}

TEST_F(PortFileTest, FindFilesInCurrentFolder) {
  Write("current.ns", "x");
  const fs::path before = fs::current_path();
  fs::current_path(folder_);
  EXPECT_EQ(FindIn(u"*.ns"), (Names{u"current.ns"}));
  fs::current_path(before);
}

TEST_F(PortFileTest, ReadWholeFileOfAnExistingFile) {
  Write("text.ns", std::string("hello\0world", 11));
  size_t size = 99;
  Owned<char> text = ReadWholeFile(Wide(folder_ + "/text.ns").c_str(), &size);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(size, 11u);
  EXPECT_EQ(std::string(text.get(), size), std::string("hello\0world", 11));
  EXPECT_EQ(text.get()[11], 0);  // NUL-terminated
  EXPECT_NE(ReadWholeFile(Wide(folder_ + "/text.ns").c_str(), nullptr), nullptr);
}

TEST_F(PortFileTest, ReadWholeFileOfAnEmptyFile) {
  Write("empty.ns", "");
  size_t size = 99;
  Owned<char> text = ReadWholeFile(Wide(folder_ + "/empty.ns").c_str(), &size);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(text.get()[0], 0);
}

TEST_F(PortFileTest, ReadWholeFileOfAMissingFileDoesNotCreateIt) {
  const std::string path = folder_ + "/missing.ns";
  size_t size = 99;
  EXPECT_EQ(ReadWholeFile(Wide(path).c_str(), &size), nullptr);
  EXPECT_EQ(size, 0u);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(ReadWholeFile(nullptr, &size), nullptr);
}

TEST_F(PortFileTest, ReadWholeFileOfAFolderFails) {
  fs::create_directory(folder_ + "/dir");
  EXPECT_EQ(ReadWholeFile(Wide(folder_ + "/dir").c_str(), nullptr), nullptr);
}

TEST_F(PortFileTest, ReadWholeFileWithBackslashPathAndJapaneseName) {
  fs::create_directory(folder_ + "/sub");
  Write("sub/\xE6\x97\xA5.ns", "abc");
  size_t size = 0;
  Owned<char> text = ReadWholeFile((Wide(folder_) + u"\\sub\\日.ns").c_str(), &size);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text.get(), "abc");
}

TEST_F(PortFileTest, ReadWholeFileWhenMemoryRunsOut) {
  Write("text.ns", "hello");
  FailAllocationAfter(1);
  size_t size = 99;
  EXPECT_EQ(ReadWholeFile(Wide(folder_ + "/text.ns").c_str(), &size), nullptr);
  EXPECT_EQ(size, 0u);
}

TEST_F(PortTest, PathSeparatorIsSlash) {
  EXPECT_EQ(PathSeparator(), u'/');
}

// --- Dynamic libraries ---------------------------------------------------------------------

TEST_F(PortTest, LoadsALibraryAndFindsItsSymbols) {
  LibraryHandle library = OpenLibrary(Wide(KEYTWINE_TEST_MODULE).c_str());
  ASSERT_NE(library, nullptr) << KEYTWINE_TEST_MODULE;
  void* answer = FindSymbol(library, "keytwine_test_answer");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(reinterpret_cast<int (*)()>(answer)(), 42);
  void* add = FindSymbol(library, "keytwine_test_add");
  ASSERT_NE(add, nullptr);
  EXPECT_EQ(reinterpret_cast<int (*)(int, int)>(add)(40, 2), 42);
  EXPECT_EQ(FindSymbol(library, "no_such_symbol"), nullptr);
  EXPECT_EQ(FindSymbol(library, nullptr), nullptr);
  CloseLibrary(library);
}

TEST_F(PortTest, MissingLibrariesAreNull) {
  EXPECT_EQ(OpenLibrary(u"missing.dll"), nullptr);
  EXPECT_EQ(OpenLibrary(u"/no/such/folder/libmissing.so"), nullptr);
  EXPECT_EQ(OpenLibrary(nullptr), nullptr);
  EXPECT_EQ(OpenLibrary(u""), nullptr);
  EXPECT_EQ(FindSymbol(nullptr, "x"), nullptr);
  CloseLibrary(nullptr);
}

}  // namespace
}  // namespace keytwine::port
