// keytwine-cli.exe, the command-line tool built for Windows: `check` runs a configuration script
// as Keytwine.exe does and prints the settings and the table exactly as the Linux tool does.
#include "tests/platform/test_cases.h"

namespace keytwine::wintest {
namespace {

// Settings, a helper function, a list walked by a loop, a launcher and a message.
constexpr const char* kExampleScript = R"(setholdduration(600);
useimetoggle(0);

function tapOrHold(vk, scan, tapped, held) {
    swap(0, 0, 1, vk, scan, held);
    swap(0, 0, 0, vk, scan, tapped);
}

tapOrHold(0x70, 0x3b, 0x0d, 0x1b);
swap(0, 1, 0, 0x51, 0x10, 0x12, 0x73);
exec(0, 0, 0, 0x71, 0x3c, "\\Windows\\calc.exe", "/fresh");
var pad = {0x26, 0x48, 0x27, 0x28, 0x50, 0x25};
for (i = 0; i < 6; i = i + 3) {
    swap(2, 0, 0, pad[i], pad[i + 1], pad[i + 2]);
}
"F%n%" = "F12";
error("%(+n + 1)% keys");
)";

// What `keytwine check` prints for it on Linux: the table on standard output, the error() text
// on standard error, exit status 1 because error() was called.
constexpr const char* kExpectedTable = R"(useImeToggle=0
holdDuration=600
debugMode=0
0 swap orientation=0 modifier=0 hold=1 vk=0x70 scan=0x3b keys=0x1b,0x0,0x0,0x0
1 swap orientation=0 modifier=0 hold=0 vk=0x70 scan=0x3b keys=0xd,0x0,0x0,0x0
2 swap orientation=0 modifier=1 hold=0 vk=0x51 scan=0x10 keys=0x12,0x73,0x0,0x0
3 exec orientation=0 modifier=0 hold=0 vk=0x71 scan=0x3c path="\Windows\calc.exe" parameters="/fresh"
4 swap orientation=2 modifier=0 hold=0 vk=0x26 scan=0x48 keys=0x27,0x0,0x0,0x0
5 swap orientation=2 modifier=0 hold=0 vk=0x28 scan=0x50 keys=0x25,0x0,0x0,0x0
)";
constexpr const char* kExpectedErrors = "13 keys\n";
constexpr DWORD kExpectedStatus = 1;

// A new file that a started program inherits as its standard output or error.
HANDLE CreateOutputFile(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

struct ConsoleRun {
  bool ended = false;
  DWORD status = 0;
};

// Runs a console program in `folder` with its standard output and error in the files out.txt
// and err.txt there.
ConsoleRun RunInFolder(const std::wstring& exe, const std::wstring& arguments,
                       const TestFolder& folder) {
  ConsoleRun run;
  const HANDLE out = CreateOutputFile(folder.Path() + L"out.txt");
  const HANDLE err = CreateOutputFile(folder.Path() + L"err.txt");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = out;
  startup.hStdError = err;
  std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
  PROCESS_INFORMATION info{};
  if (out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
      CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                     nullptr, folder.Path().c_str(), &startup, &info) != FALSE) {
    run.ended = WaitForSingleObject(info.hProcess, 15000) == WAIT_OBJECT_0;
    if (!run.ended) TerminateProcess(info.hProcess, 99);
    GetExitCodeProcess(info.hProcess, &run.status);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
  return run;
}

// The file's text with Windows line ends turned into plain ones.
std::string ReadLines(const TestFolder& folder, const wchar_t* name) {
  std::string text, lines;
  folder.Read(name, text);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' || i + 1 >= text.size() || text[i + 1] != '\n') lines += text[i];
  }
  return lines;
}

}  // namespace

void RunCheckTests(Env& env) {
  Instance instance(L"check");
  if (!instance.folder.Write(kScriptName, kExampleScript)) return;
  const ConsoleRun run =
      RunInFolder(SuiteFile(env, kCliName), L"check Keytwine.ns", instance.folder);
  if (!env.results.Check(run.ended, "keytwine-cli check runs and ends", "did not end in 15 s")) {
    return;
  }
  const std::string table = ReadLines(instance.folder, L"out.txt");
  env.results.Check(table == kExpectedTable,
                    "keytwine-cli check prints the same settings and table as on Linux",
                    "printed:\n" + table);
  const std::string errors = ReadLines(instance.folder, L"err.txt");
  env.results.Check(errors == kExpectedErrors && run.status == kExpectedStatus,
                    "keytwine-cli check prints the error() text and ends with status 1",
                    "status " + std::to_string(run.status) + ", standard error \"" + errors + "\"");
}

}  // namespace keytwine::wintest
