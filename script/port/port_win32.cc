// The port layer on Windows and Windows CE. Only wide-character ("W") functions and calls that
// Windows CE also has are used: LocalAlloc, CP_ACP conversions, critical sections, CreateThread,
// FindFirstFileW, CreateFileW/ReadFile/GetFileSize, LoadLibraryW. CE-specific differences live in
// ce_compat.h.
#include "script/port/ce_compat.h"

#include <cstring>
#include <new>

#include "script/port/alloc_switch.h"
#include "script/port/port.h"

namespace keytwine::port {

namespace {

const wchar_t* AsWide(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}
static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16");

}  // namespace

// --- Engine memory -------------------------------------------------------------------------

void* Alloc(size_t bytes) {
  if (internal::CountAllocation()) return nullptr;
  return LocalAlloc(LMEM_FIXED, bytes == 0 ? 1 : bytes);
}

void* AllocZero(size_t bytes) {
  if (internal::CountAllocation()) return nullptr;
  return LocalAlloc(LPTR, bytes == 0 ? 1 : bytes);
}

void Free(void* block) {
  if (block != nullptr) LocalFree(block);
}

void FailAllocationAfter(uint64_t n) {
  internal::SetFailingAllocation(n);
}

uint64_t AllocationCount() {
  return internal::AllocationsCounted();
}

// --- Code page -----------------------------------------------------------------------------

bool SetCodePage(uint32_t cp) {
  return cp == GetACP();
}

uint32_t CodePage() {
  return GetACP();
}

bool IsDBCSLeadByte(uint8_t byte) {
  return ::IsDBCSLeadByte(byte) != FALSE;
}

int MultiByteToWide(const char* text, int length, char16_t* out, int outSize) {
  if (text == nullptr || outSize < 0) return 0;
  if (out == nullptr) outSize = 0;
  return MultiByteToWideChar(CP_ACP, 0, text, length, reinterpret_cast<wchar_t*>(out), outSize);
}

int WideToMultiByte(const char16_t* text, int length, char* out, int outSize) {
  if (text == nullptr || outSize < 0) return 0;
  if (out == nullptr) outSize = 0;
  return WideCharToMultiByte(CP_ACP, 0, AsWide(text), length, out, outSize, nullptr, nullptr);
}

// --- Locks and threads ---------------------------------------------------------------------

Lock::Lock() {
  static_assert(sizeof(CRITICAL_SECTION) <= sizeof storage_);
  static_assert(alignof(CRITICAL_SECTION) <= alignof(Lock));
  InitializeCriticalSection(new (storage_) CRITICAL_SECTION);
}

Lock::~Lock() {
  DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}

void Lock::Enter() {
  EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}

void Lock::Leave() {
  LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}

namespace {

struct ThreadStart {
  ThreadFunction function;
  void* argument;
};

DWORD WINAPI ThreadEntry(LPVOID record) {
  const ThreadStart start = *static_cast<ThreadStart*>(record);
  LocalFree(record);
  start.function(start.argument);
  return 0;
}

}  // namespace

namespace {

// The handles of started threads, for JoinThreads.
struct StartedThread {
  HANDLE handle;
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

// Keeps the handle for JoinThreads; without memory for that the thread runs unjoined.
void Remember(HANDLE thread) {
  auto* node = static_cast<StartedThread*>(LocalAlloc(LMEM_FIXED, sizeof(StartedThread)));
  if (node == nullptr) {
    CloseHandle(thread);
    return;
  }
  LockGuard guard(Started().lock);
  node->handle = thread;
  node->next = Started().first;
  Started().first = node;
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
      WaitForSingleObject(node->handle, INFINITE);
      CloseHandle(node->handle);
      StartedThread* next = node->next;
      LocalFree(node);
      node = next;
    }
  }
}

uint32_t StartThread(ThreadFunction fn, void* argument, uint32_t* idOut) {
  if (fn == nullptr) return 0;
  auto* record = static_cast<ThreadStart*>(LocalAlloc(LMEM_FIXED, sizeof(ThreadStart)));
  if (record == nullptr) return 0;
  record->function = fn;
  record->argument = argument;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, ThreadEntry, record, CREATE_SUSPENDED, &id);
  if (thread == nullptr) {
    LocalFree(record);
    if (idOut != nullptr) *idOut = 0;
    return 0;
  }
  if (idOut != nullptr) *idOut = id;
  ResumeThread(thread);
  Remember(thread);
  return id;
}

uint32_t CurrentThreadId() {
  return GetCurrentThreadId();
}

void Sleep(uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

void YieldThread() {
  ce::YieldTimeSlice();
}

// --- Files ---------------------------------------------------------------------------------

int FindFiles(const char16_t* pattern, void (*found)(const char16_t* name, void* context),
              void* context) {
  if (pattern == nullptr) return -1;
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(AsWide(pattern), &data);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES ? 0 : -1;
  }
  int reported = 0;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      if (found != nullptr) found(reinterpret_cast<const char16_t*>(data.cFileName), context);
      ++reported;
    }
  } while (FindNextFileW(search, &data));
  FindClose(search);
  return reported;
}

Owned<char> ReadWholeFile(const char16_t* path, size_t* size, bool* outOfMemory) {
  if (size != nullptr) *size = 0;
  if (outOfMemory != nullptr) *outOfMemory = false;
  if (path == nullptr) return nullptr;
  // OPEN_EXISTING: a missing file is not created. A folder cannot be opened this way.
  HANDLE file = CreateFileW(AsWide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  if ((low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0 || low == 0xFFFFFFFFu) {
    CloseHandle(file);
    return nullptr;
  }
  Owned<char> block(static_cast<char*>(AllocZero(static_cast<size_t>(low) + 1)));
  if (block == nullptr) {
    if (outOfMemory != nullptr) *outOfMemory = true;
    CloseHandle(file);
    return nullptr;
  }
  DWORD total = 0;
  while (total < low) {
    DWORD got = 0;
    if (!ReadFile(file, block.get() + total, low - total, &got, nullptr)) {
      CloseHandle(file);
      return nullptr;
    }
    if (got == 0) break;  // the file shrank meanwhile: keep what is there
    total += got;
  }
  CloseHandle(file);
  if (size != nullptr) *size = total;
  return block;
}

char16_t PathSeparator() {
  return u'\\';
}

// --- Dynamic libraries ---------------------------------------------------------------------

LibraryHandle OpenLibrary(const char16_t* path) {
  if (path == nullptr || path[0] == 0) return nullptr;
  return LoadLibraryW(AsWide(path));
}

void* FindSymbol(LibraryHandle library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  FARPROC proc = ce::GetProcAddressCompat(static_cast<HMODULE>(library), name);
  void* address = nullptr;
  static_assert(sizeof proc == sizeof address);
  std::memcpy(&address, &proc, sizeof address);
  return address;
}

void CloseLibrary(LibraryHandle library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace keytwine::port
