// What the script engine brings to the configuration, checked by the keys its mappings send:
// files imported beside Keytwine.ns, an extension library's native, and a script thread that
// the end of the configuration run stops.
#include "tests/platform/test_cases.h"

namespace keytwine::wintest {
namespace {

constexpr Key kA{0x41, 0x1E}, kB{0x42, 0x30}, kC{0x43, 0x2E}, kD{0x44, 0x20}, kE{0x45, 0x12};

// Keytwine.ns imports every .ns file of its folder (itself excepted) through the platform's
// file search; the imported file runs after it, so for A the importing file's entry comes first.
void TestImport(Env& env) {
  Instance instance(L"import");
  const std::string imported = SwapCall(kC, kD.vk) + SwapCall(kA, kE.vk);
  if (!instance.folder.Write(L"keys.ns", imported)) return;
  const std::string script = "#import(\"*.ns\")\n" + SwapCall(kA, kB.vk);
  if (!env.results.Check(StartHooked(env, instance, script.c_str()),
                         "import: the program starts with an imported file",
                         "hook not live within 15 s" + DescribeDialog(instance.program.Id()))) {
    return;
  }
  ExpectKeys(env, "import: the imported file's mapping works", {InjectedDown(kD), InjectedUp(kD)},
             [] { TapPhysicalKey(kC.vk, kC.scan); });
  ExpectKeys(env, "import: the importing file's entries come before the imported file's",
             {InjectedDown(kB), InjectedUp(kB)}, [] { TapPhysicalKey(kA.vk, kA.scan); });
}

// A library that cannot be loaded is reported and skipped; the test extension, found beside the
// program by the system's module search, gives twice(0x21) = 0x42 as A's replacement.
void TestLibrary(Env& env) {
  Instance instance(L"library");
  if (!CopyFromSuite(env, instance, kExtensionName)) return;
  const std::string script = "#library(\"NoSuchModule.dll\")\n#library(\"" +
                             Narrow(kExtensionName) + "\")\n" +
                             "swap(0, 0, 0, 0x41, 0x1e, twice(0x21));\n";
  if (!StartInstance(env, instance, script.c_str())) return;
  const std::wstring text = CloseErrorBox(env, instance.program, "missing library");
  env.results.Check(text == L"### Error: Library load error : Keytwine : NoSuchModule.dll",
                    "missing library: the box reports the library load error",
                    "text \"" + Narrow(text) + "\"");
  if (!env.results.Check(WaitUntilHooked(env.observer, GetTickCount(), 15000).hookedMs >= 0,
                         "library: the program starts", "hook not live within 15 s")) {
    return;
  }
  ExpectKeys(env, "library: a mapping built from the library native's result works",
             {InjectedDown(kB), InjectedUp(kB)}, [] { TapPhysicalKey(kA.vk, kA.scan); });
}

// Waits until the program has fewer than `count` threads; false after the timeout.
bool WaitForFewerThreads(const Program& program, size_t count, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  do {
    if (program.ThreadCount() < count) return true;
    Sleep(50);
  } while (GetTickCount() - start < timeoutMs);
  return false;
}

// A thread that never ends by itself runs alongside the top level, which error() holds up while
// its box is open; it is stopped when the top level has finished, and the program starts.
void TestEndlessThread(Env& env) {
  Instance instance(L"thread");
  const std::string script =
      "function spin() { while (1) { } }\n&spin();\nerror(\"spinning\");\n" + SwapCall(kA, kB.vk);
  if (!StartInstance(env, instance, script.c_str())) return;
  WaitForDialog(instance.program.Id(), 10000);
  const size_t whileSpinning = instance.program.ThreadCount();
  CloseErrorBox(env, instance.program, "script thread");
  if (!env.results.Check(WaitUntilHooked(env.observer, GetTickCount(), 15000).hookedMs >= 0,
                         "script thread: an endless thread does not keep the program from starting",
                         "hook not live within 15 s" + DescribeDialog(instance.program.Id()))) {
    return;
  }
  env.results.Check(
      whileSpinning >= 2 && WaitForFewerThreads(instance.program, whileSpinning, 3000),
      "script thread: the thread has ended once the program runs",
      std::to_string(whileSpinning) + " threads while it ran, " +
          std::to_string(instance.program.ThreadCount()) + " now");
  ExpectKeys(env, "script thread: the top level's mapping works",
             {InjectedDown(kB), InjectedUp(kB)}, [] { TapPhysicalKey(kA.vk, kA.scan); });
}

}  // namespace

void RunScriptTests(Env& env) {
  TestImport(env);
  TestLibrary(env);
  TestEndlessThread(env);
}

}  // namespace keytwine::wintest
