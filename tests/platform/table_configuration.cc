// The configuration run of KeytwineTableTest.exe, the test variant of the Windows program:
// instead of running the configuration script it reads the table in its text form from
// "Keytwine.table" beside the executable. Everything else of the program is the real one, so
// the whole program can be exercised under wine without the script engine.
#include <windows.h>

#include <sstream>
#include <string>

#include "host/configuration.h"
#include "host/map_table.h"
#include "host/platform/wide_text.h"
#include "host/utf8.h"
#include "tools/table_text.h"

namespace keytwine {
namespace {

constexpr const char16_t* kTableFileName = u"Keytwine.table";

ErrorSink g_errorSink = nullptr;

void ReportError(const std::u16string& text) {
  if (g_errorSink != nullptr) g_errorSink(text.c_str());
}

bool ReadWholeFile(const std::u16string& path, std::string& contents) {
  const HANDLE file = CreateFileW(AsWide(path.c_str()), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char buffer[4096];
  DWORD got = 0;
  BOOL ok = FALSE;
  while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr)) != FALSE && got > 0) {
    contents.append(buffer, got);
  }
  CloseHandle(file);
  return ok != FALSE;
}

}  // namespace

void SetErrorSink(ErrorSink sink) {
  g_errorSink = sink;
}

std::u16string DirectoryOfModule(const char16_t* modulePath) {
  const std::u16string path = modulePath != nullptr ? modulePath : u"";
  const size_t slash = path.rfind(u'\\');
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
}

// A missing table is reported as the engine reports a missing script; a malformed line is
// reported with its number, and the program goes on with the entries read before it, as after
// an error in a script.
int32_t RunConfigurationScript(const char16_t* directory, const char* /*fileName*/) {
  TheHostSettings().StoreDefaults();
  const std::u16string path = std::u16string(directory) + kTableFileName;
  std::string contents;
  if (!ReadWholeFile(path, contents)) {
    ReportError(u"### Error: File open error : " + path);
    return 0;
  }
  std::istringstream text(contents);
  std::string error;
  if (!ReadTableText(text, TheMapTable(), TheHostSettings(), error)) ReportError(FromUtf8(error));
  TheMapTable().Compact();
  return 1;
}

}  // namespace keytwine
