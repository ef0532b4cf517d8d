// Parses arbitrary bytes with the front end. The first byte picks the code page (bit 0: the
// double-byte code page 932, else UTF-8), whether names parsed as a reference are declarations
// (bit 1), and whether a directive handler is installed (bit 2); the rest is the script text.
// Every parse must end without a crash, a leak, a stack overflow or a hang; each chain is dumped
// (to walk it whole) and released. The parser compiles string literals as patterns, and a count
// like {9999} costs thousands of states: a memory budget makes such a compile fail early, so
// that a run takes well under a millisecond on average.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/support/memory_budget.h"
#include "script/front/parser.h"
#include "script/front/syntax.h"
#include "script/port/port.h"
#include "script/runtime/engine.h"
#include "script/runtime/error.h"
#include "script/text/text.h"

namespace {

using namespace keytwine;

constexpr size_t kMaxInputBytes = 2048;
constexpr int64_t kMemoryBudget = int64_t{256} << 10;

// Takes the reports, so that their formatting runs too.
int32_t IgnoreError(Frame* /*frame*/, Value* /*first*/, Value* /*result*/, char* /*message*/) {
  return 0;
}

NativeEntry natives[1] = {{kErrorNativeName, 0, &IgnoreError}};

// Stands in for the loader: a directive runs to the ')' that matches its first '('.
const char* SkipDirective(Script* /*script*/, const char* /*directory*/, const char* position) {
  const char* open = std::strchr(position, '(');
  if (open == nullptr) return nullptr;
  const char* close = FindMatchingBracket(open);
  return close != nullptr ? close + 1 : nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > kMaxInputBytes) return 0;
  static const bool installed = [] {
    InstallNativeTable(natives, 1);
    return true;
  }();
  (void)installed;
  const uint8_t options = data[0];
  port::SetCodePage((options & 1) != 0 ? port::kCodePageShiftJis : port::kCodePageUtf8);
  SetDirectiveHandler((options & 4) != 0 ? &SkipDirective : nullptr);
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  char name[] = "fuzz";
  char directory[] = "";
  Script script{};
  script.name = name;
  script.directory = directory;
  script.source = text.data();
  script.engine = &script;
  Frame frame{};
  frame.script = &script;

  fuzz::StartMemoryBudget(kMemoryBudget);
  SyntaxNode* chain = ParseScript(&frame, text.c_str(), 0);
  if (chain == nullptr && script.functions != nullptr) __builtin_trap();  // must be emptied
  for (const FunctionEntry* entry = script.functions; entry != nullptr; entry = entry->next) {
    const int32_t kind = entry->definition->kind;  // points into the live chain
    if (kind != T_FUNCTION && kind != T_ARGMATCH) __builtin_trap();
  }
  (void)DumpChain(chain).size();
  ReleaseChain(chain);
  ReleaseFunctionList(script.functions);

  frame.declareNames = (options & 2) != 0 ? 1 : 0;
  SyntaxNode* reference = ParseReference(&frame, text.c_str());
  (void)DumpChain(reference).size();
  ReleaseChain(reference);
  fuzz::EndMemoryBudget();
  return 0;
}
