// The port layer: every operating-system service the script engine uses, behind one small
// interface with a POSIX and a Win32 implementation. Nothing else in the engine calls the
// operating system.
//
// Text: the engine's strings are bytes in the system code page ("ANSI" code page); wide text is
// UTF-16 (char16_t) on every platform. File and library names cross this layer as UTF-16.
#ifndef KEYTWINE_SCRIPT_PORT_PORT_H
#define KEYTWINE_SCRIPT_PORT_PORT_H

#include <cstddef>
#include <cstdint>
#include <memory>

namespace keytwine::port {

// --- Engine memory -------------------------------------------------------------------------
// All engine memory comes from here. Both allocators return null on failure (or when the test
// switch below makes them fail). Free accepts null.

void* Alloc(size_t bytes);      // plain
void* AllocZero(size_t bytes);  // zero-filled
void Free(void* block);

// Test switch: the n-th allocation from now (1 = the next one) fails; 0 turns the switch off.
// Only that one allocation fails; later ones succeed again.
void FailAllocationAfter(uint64_t n);
// Number of engine allocations (successful or failed) made since the process first called
// AllocationCount or FailAllocationAfter: counting starts then, so only the difference of two
// counts means anything.
uint64_t AllocationCount();

struct FreeDeleter {
  void operator()(void* block) const { Free(block); }
};
// Owning pointer to engine memory.
template <typename T>
using Owned = std::unique_ptr<T, FreeDeleter>;

// --- Code page -----------------------------------------------------------------------------

inline constexpr uint32_t kCodePageUtf8 = 65001;
inline constexpr uint32_t kCodePageShiftJis = 932;

// POSIX: selects, for the whole process, the code page the engine's byte strings are in: UTF-8
// by default (no lead bytes); 932 Shift-JIS (lead bytes 0x81-0x9F, 0xE0-0xFC) for double-byte
// handling; 936, 949, 950 (lead bytes 0x81-0xFE) and single-byte pages such as 1252 also work.
// Returns false, keeping the old page, for a code page iconv cannot convert. Tests that select
// another page select 65001 again when they end.
// Win32: the system's ANSI code page is used; this only answers whether cp is that page.
bool SetCodePage(uint32_t cp);
uint32_t CodePage();

// True when byte starts a two-byte character of the current code page.
bool IsDBCSLeadByte(uint8_t byte);

// Conversions with the Win32 contract (flags 0): length -1 means the text is NUL-terminated and
// the NUL is converted too; otherwise length units are converted (no NUL is added). With a null
// output (or outSize 0) they return the size needed, in units; otherwise the number of units
// written, or 0 when the output is too small. A null text or a length of 0 (or below -1) gives
// 0. Bytes that are not valid in the code page become U+FFFD; characters the code page cannot
// represent become '?' (U+FFFD's UTF-8 form when the code page is UTF-8), as Windows does.
// POSIX converts with the system's iconv.
int MultiByteToWide(const char* text, int length, char16_t* out, int outSize);
int WideToMultiByte(const char16_t* text, int length, char* out, int outSize);

// --- Locks and threads ---------------------------------------------------------------------

// A recursive lock, like a critical section: the thread that holds it may enter it again and
// must leave it as often as it entered. Constructing one never allocates and never fails (the
// platform object lives inside the Lock).
class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void Enter();
  void Leave();

 private:
  // Storage for pthread_mutex_t (POSIX) or CRITICAL_SECTION (Win32); each implementation checks
  // with static_assert that its object fits.
  alignas(16) unsigned char storage_[64];
};

class LockGuard {
 public:
  explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Enter(); }
  ~LockGuard() { lock_.Leave(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& lock_;
};

using ThreadFunction = void (*)(void* argument);

// Starts a thread running fn(argument). Returns its non-zero thread id, or 0 when the thread
// cannot be created. The id is fixed before the thread runs: when idOut is given it is stored
// there before fn starts, and CurrentThreadId() inside the thread answers the same id. Win32
// creates the thread suspended and resumes it once the id is known.
uint32_t StartThread(ThreadFunction fn, void* argument, uint32_t* idOut = nullptr);

// Waits until every thread started so far has ended, its exit path included (thread-local
// clean-up runs there; a process that exits while it runs can deadlock in the C runtime). Not to
// be called from a started thread.
void JoinThreads();

// Id of the calling thread (non-zero; unique among the threads alive in the process).
uint32_t CurrentThreadId();

void Sleep(uint32_t milliseconds);
// Gives up the rest of the time slice (Sleep(0) on Windows). Not called Yield: <windows.h>
// defines a macro of that name.
void YieldThread();

// --- Files ---------------------------------------------------------------------------------

// Paths are UTF-16. Win32 hands them to the wide-character API unchanged. POSIX converts them
// to UTF-8 and also accepts '\\' as a folder separator (it is turned into '/'), so that paths
// written for Windows work.

// Calls found(name, context) for each file (not folder) of a folder whose name matches the last
// component of pattern, where `*` matches any run of characters and `?` one character (a
// surrogate pair counts as one character). The folder is the pattern up to its last separator
// (the current folder when there is none). Names are passed without their folder, as UTF-16,
// valid only during the call. Win32 reports them in FindFirstFileW/FindNextFileW order and
// matches as the platform does (without regard to case); POSIX reports them sorted by their
// UTF-8 bytes and matches case-sensitively, "." and ".." never included.
// Returns the number of names reported, or -1 when the folder cannot be read.
int FindFiles(const char16_t* pattern, void (*found)(const char16_t* name, void* context),
              void* context);

// Reads a whole existing file into a new zero-filled block of size + 1 bytes (so the text is
// NUL-terminated; an empty file gives a 1-byte block and size 0). Never creates the file.
// Returns null (and *size 0) when the path does not exist, names a folder, cannot be read or
// memory runs out; the block comes from AllocZero (so FailAllocationAfter can make it fail).
// size may be null; when outOfMemory is given it tells whether the failure was the block.
Owned<char> ReadWholeFile(const char16_t* path, size_t* size, bool* outOfMemory = nullptr);

// The path separator of the platform: '/' on POSIX, '\\' on Windows.
char16_t PathSeparator();

// --- Dynamic libraries ---------------------------------------------------------------------
// Not called LoadLibrary/FreeLibrary: <windows.h> defines LoadLibrary as a macro.

using LibraryHandle = void*;

// Loads a module (dlopen RTLD_NOW on POSIX, LoadLibraryW on Win32). A name without a folder is
// looked up by the platform's usual search. Null when the library cannot be loaded or path is
// null.
LibraryHandle OpenLibrary(const char16_t* path);
// Address of an exported symbol (dlsym; GetProcAddress, GetProcAddressW on Windows CE). Null
// when the symbol is missing or either argument is null.
void* FindSymbol(LibraryHandle library, const char* name);
// Accepts null.
void CloseLibrary(LibraryHandle library);

}  // namespace keytwine::port

#endif  // KEYTWINE_SCRIPT_PORT_PORT_H
