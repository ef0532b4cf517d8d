// The port layer on POSIX systems (Linux, the BSDs, macOS): malloc for engine memory, iconv for
// the code page, pthreads, opendir-style folder search, open/read, dlopen.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <iconv.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "script/port/alloc_switch.h"
#include "script/port/port.h"

namespace keytwine::port {

// --- Engine memory -------------------------------------------------------------------------

void* Alloc(size_t bytes) {
  if (internal::CountAllocation()) return nullptr;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

// calloc skips glibc's per-thread cache of small blocks, so it is slower than malloc and memset
// for them; a large block may come fresh from the system, already zero, so calloc keeps those.
constexpr size_t kLargestClearedBlock = 1024;

void* AllocZero(size_t bytes) {
  if (internal::CountAllocation()) return nullptr;
  if (bytes > kLargestClearedBlock) return std::calloc(1, bytes);
  void* block = std::malloc(bytes == 0 ? 1 : bytes);
  if (block != nullptr) std::memset(block, 0, bytes);
  return block;
}

void Free(void* block) {
  std::free(block);
}

void FailAllocationAfter(uint64_t n) {
  internal::SetFailingAllocation(n);
}

uint64_t AllocationCount() {
  return internal::AllocationsCounted();
}

// --- Code page -----------------------------------------------------------------------------

namespace {

std::atomic<uint32_t> currentCodePage{kCodePageUtf8};

constexpr const char* kUtf16 = std::endian::native == std::endian::big ? "UTF-16BE" : "UTF-16LE";

// iconv's name of a Windows code page; buffer holds at least 16 bytes.
const char* CharsetName(uint32_t cp, char* buffer, size_t size) {
  switch (cp) {
    case kCodePageUtf8:
      return "UTF-8";
    case kCodePageShiftJis:
      return "CP932";
    case 936:
      return "GBK";
    case 949:
      return "CP949";
    case 950:
      return "BIG5";
    case 20127:
      return "ASCII";
    default:
      std::snprintf(buffer, size, "CP%u", static_cast<unsigned>(cp));
      return buffer;
  }
}

// Output of a conversion: either counted only, or written into a buffer of fixed capacity.
struct Output {
  char* out;        // null: count only
  size_t capacity;  // bytes
  size_t used;      // bytes produced so far
  bool overflow;

  void Put(const char* bytes, size_t n) {
    if (out != nullptr && !overflow) {
      if (n > capacity - used) {
        overflow = true;
      } else {
        std::memcpy(out + used, bytes, n);
      }
    }
    used += n;
  }
};

// Converts inBytes bytes from one charset to another with iconv. Input that iconv refuses (an
// invalid or incomplete sequence, or a character the target lacks) is replaced by
// `replacement`, skipping one input unit of inUnit bytes (a whole surrogate pair for UTF-16
// input). False when the charsets are not available.
bool IsInvalid(iconv_t cd) {
  return reinterpret_cast<std::uintptr_t>(cd) == UINTPTR_MAX;
}

bool Convert(const char* from, const char* to, const char* in, size_t inBytes, size_t inUnit,
             const char* replacement, size_t replacementBytes, Output* output) {
  iconv_t cd = iconv_open(to, from);
  if (IsInvalid(cd)) return false;
  char buffer[256];
  char* input = const_cast<char*>(in);
  size_t left = inBytes;
  while (left > 0) {
    char* o = buffer;
    size_t room = sizeof buffer;
    const size_t result = iconv(cd, &input, &left, &o, &room);
    const int error = errno;
    output->Put(buffer, static_cast<size_t>(o - buffer));
    if (result != static_cast<size_t>(-1)) continue;
    if (error == E2BIG) continue;
    if (error != EILSEQ && error != EINVAL) {
      iconv_close(cd);
      return false;
    }
    // One input unit cannot be converted: replace it and go on after it.
    size_t skip = inUnit < left ? inUnit : left;
    if (inUnit == 2 && left >= 4) {
      char16_t first;
      char16_t second;
      std::memcpy(&first, input, 2);
      std::memcpy(&second, input + 2, 2);
      if (first >= 0xD800 && first <= 0xDBFF && second >= 0xDC00 && second <= 0xDFFF) skip = 4;
    }
    output->Put(replacement, replacementBytes);
    input += skip;
    left -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  char* o = buffer;
  size_t room = sizeof buffer;
  iconv(cd, nullptr, nullptr, &o, &room);  // shift back to the initial state, if any
  output->Put(buffer, static_cast<size_t>(o - buffer));
  iconv_close(cd);
  return true;
}

const char kWideReplacement[2] = {std::endian::native == std::endian::big ? '\xFF' : '\xFD',
                                  std::endian::native == std::endian::big ? '\xFD' : '\xFF'};
const char kUtf8Replacement[3] = {'\xEF', '\xBF', '\xBD'};

size_t WideLength(const char16_t* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Multibyte (charset) to UTF-16 with the Win32 contract.
int ToWideUnits(const char* charset, const char* text, int length, char16_t* out, int outSize) {
  if (text == nullptr || length == 0 || length < -1 || outSize < 0) return 0;
  const size_t bytes = length == -1 ? std::strlen(text) + 1 : static_cast<size_t>(length);
  const bool countOnly = out == nullptr || outSize == 0;
  Output output{countOnly ? nullptr : reinterpret_cast<char*>(out),
                countOnly ? 0 : static_cast<size_t>(outSize) * 2, 0, false};
  if (!Convert(charset, kUtf16, text, bytes, 1, kWideReplacement, 2, &output)) return 0;
  if (output.overflow || output.used / 2 > INT_MAX) return 0;
  return static_cast<int>(output.used / 2);
}

// UTF-16 to multibyte (charset) with the Win32 contract.
int FromWideUnits(const char* charset, bool utf8, const char16_t* text, int length, char* out,
                  int outSize) {
  if (text == nullptr || length == 0 || length < -1 || outSize < 0) return 0;
  const size_t units = length == -1 ? WideLength(text) + 1 : static_cast<size_t>(length);
  const bool countOnly = out == nullptr || outSize == 0;
  Output output{countOnly ? nullptr : out, countOnly ? 0 : static_cast<size_t>(outSize), 0, false};
  const char* replacement = utf8 ? kUtf8Replacement : "?";
  if (!Convert(kUtf16, charset, reinterpret_cast<const char*>(text), units * 2, 2, replacement,
               utf8 ? 3 : 1, &output)) {
    return 0;
  }
  if (output.overflow || output.used > INT_MAX) return 0;
  return static_cast<int>(output.used);
}

bool CanConvert(const char* charset) {
  iconv_t to = iconv_open(kUtf16, charset);
  if (IsInvalid(to)) return false;
  iconv_close(to);
  iconv_t from = iconv_open(charset, kUtf16);
  if (IsInvalid(from)) return false;
  iconv_close(from);
  return true;
}

}  // namespace

bool SetCodePage(uint32_t cp) {
  char name[16];
  if (!CanConvert(CharsetName(cp, name, sizeof name))) return false;
  currentCodePage.store(cp, std::memory_order_relaxed);
  return true;
}

uint32_t CodePage() {
  return currentCodePage.load(std::memory_order_relaxed);
}

bool IsDBCSLeadByte(uint8_t byte) {
  switch (CodePage()) {
    case kCodePageShiftJis:
      return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:  // GBK
    case 949:  // Unified Hangul Code
    case 950:  // Big5
      return byte >= 0x81 && byte <= 0xFE;
    default:
      return false;
  }
}

int MultiByteToWide(const char* text, int length, char16_t* out, int outSize) {
  char name[16];
  return ToWideUnits(CharsetName(CodePage(), name, sizeof name), text, length, out, outSize);
}

int WideToMultiByte(const char16_t* text, int length, char* out, int outSize) {
  char name[16];
  const uint32_t cp = CodePage();
  return FromWideUnits(CharsetName(cp, name, sizeof name), cp == kCodePageUtf8, text, length, out,
                       outSize);
}

// --- Locks and threads ---------------------------------------------------------------------

Lock::Lock() {
  static_assert(sizeof(pthread_mutex_t) <= sizeof storage_);
  static_assert(alignof(pthread_mutex_t) <= alignof(Lock));
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(new (storage_) pthread_mutex_t, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

Lock::~Lock() {
  pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_));
}

void Lock::Enter() {
  pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_));
}

void Lock::Leave() {
  pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_));
}

namespace {

// The browser build (emscripten) has no threads: every start fails, as when a thread cannot be
// created.
#if defined(__EMSCRIPTEN__)
constexpr bool kCanStartThreads = false;
#else
constexpr bool kCanStartThreads = true;
#endif

std::atomic<uint32_t> nextThreadId{1};
thread_local uint32_t currentThreadId = 0;

uint32_t NewThreadId() {
  uint32_t id = 0;
  while (id == 0) id = nextThreadId.fetch_add(1, std::memory_order_relaxed);
  return id;
}

struct ThreadStart {
  ThreadFunction function;
  void* argument;
  uint32_t id;
};

void* ThreadEntry(void* record) {
  const ThreadStart start = *static_cast<ThreadStart*>(record);
  std::free(record);
  currentThreadId = start.id;
  start.function(start.argument);
  return nullptr;
}

}  // namespace

namespace {

// Started threads, for JoinThreads.
struct StartedThread {
  pthread_t thread;
  StartedThread* next;
};

struct StartedThreads {
  Lock lock;
  StartedThread* first = nullptr;
};

StartedThreads& Started() {
  static StartedThreads started;
  return started;
}

}  // namespace

void JoinThreads() {
  for (;;) {
    StartedThread* node = nullptr;
    {
      LockGuard guard(Started().lock);
      node = Started().first;
      Started().first = nullptr;
    }
    if (node == nullptr) return;
    while (node != nullptr) {
      pthread_join(node->thread, nullptr);
      StartedThread* next = node->next;
      std::free(node);
      node = next;
    }
  }
}

uint32_t StartThread(ThreadFunction fn, void* argument, uint32_t* idOut) {
  if (fn == nullptr || !kCanStartThreads) return 0;
  auto* record = static_cast<ThreadStart*>(std::malloc(sizeof(ThreadStart)));
  if (record == nullptr) return 0;
  record->function = fn;
  record->argument = argument;
  record->id = NewThreadId();
  const uint32_t id = record->id;
  if (idOut != nullptr) *idOut = id;
  // Joined by JoinThreads; without memory to remember it the thread runs detached.
  auto* node = static_cast<StartedThread*>(std::malloc(sizeof(StartedThread)));
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  if (node == nullptr) pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int error = pthread_create(&thread, &attributes, ThreadEntry, record);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    std::free(record);
    std::free(node);
    if (idOut != nullptr) *idOut = 0;
    return 0;
  }
  if (node != nullptr) {
    LockGuard guard(Started().lock);
    node->thread = thread;
    node->next = Started().first;
    Started().first = node;
  }
  return id;
}

uint32_t CurrentThreadId() {
  if (currentThreadId == 0) currentThreadId = NewThreadId();
  return currentThreadId;
}

void Sleep(uint32_t milliseconds) {
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  timespec wait{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

void YieldThread() {
  sched_yield();
}

// --- Files ---------------------------------------------------------------------------------

namespace {

struct FreeWithFree {
  void operator()(void* block) const { std::free(block); }
};
template <typename T>
using Malloced = std::unique_ptr<T, FreeWithFree>;

bool IsSeparator(char16_t c) {
  return c == u'/' || c == u'\\';
}

// UTF-16 path (units [0, length)) to a new UTF-8 path with '\' turned into '/'; null on failure.
Malloced<char> PathToUtf8(const char16_t* path, size_t length) {
  Output count{nullptr, 0, 0, false};
  const char* const text = reinterpret_cast<const char*>(path);
  if (!Convert(kUtf16, "UTF-8", text, length * 2, 2, kUtf8Replacement, 3, &count)) return nullptr;
  Malloced<char> result(static_cast<char*>(std::malloc(count.used + 1)));
  if (result == nullptr) return nullptr;
  Output output{result.get(), count.used, 0, false};
  if (!Convert(kUtf16, "UTF-8", text, length * 2, 2, kUtf8Replacement, 3, &output) ||
      output.overflow) {
    return nullptr;
  }
  result.get()[output.used] = 0;
  for (char* p = result.get(); *p != 0; ++p) {
    if (*p == '\\') *p = '/';
  }
  return result;
}

// NUL-terminated UTF-8 to a new NUL-terminated UTF-16 text; null on failure.
Malloced<char16_t> Utf8ToWide(const char* text) {
  const int units = ToWideUnits("UTF-8", text, -1, nullptr, 0);
  if (units <= 0) return nullptr;
  Malloced<char16_t> result(
      static_cast<char16_t*>(std::malloc(static_cast<size_t>(units) * sizeof(char16_t))));
  if (result == nullptr) return nullptr;
  if (ToWideUnits("UTF-8", text, -1, result.get(), units) != units) return nullptr;
  return result;
}

bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// Steps over one character (a surrogate pair whole).
const char16_t* NextCharacter(const char16_t* s) {
  if (IsHighSurrogate(s[0]) && IsLowSurrogate(s[1])) return s + 2;
  return s + 1;
}

// `*` matches any run of characters, `?` exactly one; everything else itself (case-sensitive).
bool MatchWildcard(const char16_t* pattern, const char16_t* name) {
  const char16_t* star = nullptr;    // pattern position after the last `*`
  const char16_t* resume = nullptr;  // name position that star's run ends at so far
  while (*name != 0) {
    if (*pattern == u'*') {
      star = ++pattern;
      resume = name;
    } else if (*pattern == u'?') {
      ++pattern;
      name = NextCharacter(name);
    } else if (*pattern != 0 && *pattern == *name) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star;
      resume = NextCharacter(resume);
      name = resume;
    } else {
      return false;
    }
  }
  while (*pattern == u'*') ++pattern;
  return *pattern == 0;
}

int CompareNames(const dirent** a, const dirent** b) {
  return std::strcmp((*a)->d_name, (*b)->d_name);
}

}  // namespace

int FindFiles(const char16_t* pattern, void (*found)(const char16_t* name, void* context),
              void* context) {
  if (pattern == nullptr) return -1;
  const size_t length = WideLength(pattern);
  size_t nameStart = length;
  while (nameStart > 0 && !IsSeparator(pattern[nameStart - 1])) --nameStart;
  const char16_t* namePattern = pattern + nameStart;
  // "*.*" means every name on Windows, also names without a dot.
  static const char16_t kAll[] = u"*";
  if (namePattern[0] == u'*' && namePattern[1] == u'.' && namePattern[2] == u'*' &&
      namePattern[3] == 0) {
    namePattern = kAll;
  }

  Malloced<char> folder;
  if (nameStart == 0) {
    folder.reset(static_cast<char*>(std::malloc(2)));
    if (folder != nullptr) std::memcpy(folder.get(), ".", 2);
  } else {
    // Keep the separator when it is the only one ("/x*" searches "/").
    folder = PathToUtf8(pattern, nameStart == 1 ? 1 : nameStart - 1);
  }
  if (folder == nullptr) return -1;

  const int directory = open(folder.get(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return -1;
  dirent** entries = nullptr;
  const int entryCount = scandir(folder.get(), &entries, nullptr, CompareNames);
  if (entryCount < 0) {
    close(directory);
    return -1;
  }
  int reported = 0;
  for (int i = 0; i < entryCount; ++i) {
    const char* entryName = entries[i]->d_name;
    if (std::strcmp(entryName, ".") != 0 && std::strcmp(entryName, "..") != 0) {
      Malloced<char16_t> wide = Utf8ToWide(entryName);
      struct stat status;
      if (wide != nullptr && MatchWildcard(namePattern, wide.get()) &&
          fstatat(directory, entryName, &status, 0) == 0 && !S_ISDIR(status.st_mode)) {
        if (found != nullptr) found(wide.get(), context);
        ++reported;
      }
    }
    std::free(entries[i]);
  }
  std::free(entries);
  close(directory);
  return reported;
}

Owned<char> ReadWholeFile(const char16_t* path, size_t* size, bool* outOfMemory) {
  if (size != nullptr) *size = 0;
  if (outOfMemory != nullptr) *outOfMemory = false;
  if (path == nullptr) return nullptr;
  Malloced<char> name = PathToUtf8(path, WideLength(path));
  if (name == nullptr) return nullptr;
  const int file = open(name.get(), O_RDONLY | O_CLOEXEC);  // no O_CREAT: never creates
  if (file < 0) return nullptr;
  struct stat status;
  if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0 ||
      static_cast<unsigned long long>(status.st_size) >= SIZE_MAX) {
    close(file);
    return nullptr;
  }
  const size_t wanted = static_cast<size_t>(status.st_size);
  Owned<char> block(static_cast<char*>(AllocZero(wanted + 1)));
  if (block == nullptr) {
    if (outOfMemory != nullptr) *outOfMemory = true;
    close(file);
    return nullptr;
  }
  size_t total = 0;
  while (total < wanted) {
    const ssize_t got = read(file, block.get() + total, wanted - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      close(file);
      return nullptr;
    }
    if (got == 0) break;  // the file shrank meanwhile: keep what is there
    total += static_cast<size_t>(got);
  }
  close(file);
  if (size != nullptr) *size = total;
  return block;
}

char16_t PathSeparator() {
  return u'/';
}

// --- Dynamic libraries ---------------------------------------------------------------------

// The browser build loads no library: every load fails as for a missing file. (Its files are
// the in-memory folder the page fills.)
#if defined(__EMSCRIPTEN__)
constexpr bool kCanLoadLibraries = false;
#else
constexpr bool kCanLoadLibraries = true;
#endif

LibraryHandle OpenLibrary(const char16_t* path) {
  if (path == nullptr || !kCanLoadLibraries) return nullptr;
  Malloced<char> name = PathToUtf8(path, WideLength(path));
  if (name == nullptr || name.get()[0] == 0) return nullptr;
  return dlopen(name.get(), RTLD_NOW | RTLD_LOCAL);
}

void* FindSymbol(LibraryHandle library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return dlsym(library, name);
}

void CloseLibrary(LibraryHandle library) {
  if (library != nullptr) dlclose(library);
}

}  // namespace keytwine::port
