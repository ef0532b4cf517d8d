#include "host/configuration.h"

#include "host/map_table.h"
#include "host/natives.h"
#include "script/front/loader.h"
#include "script/runtime/lifecycle.h"
#include "script/text/text.h"

namespace keytwine {

std::u16string DirectoryOfModule(const char16_t* modulePath) {
  const std::u16string path = modulePath != nullptr ? modulePath : u"";
  const size_t cut = path.rfind(u'\\');
  return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut + 1);
}

int32_t RunConfigurationScript(const char16_t* directory, const char* fileName,
                               ConfigurationRecord* record) {
  TheHostSettings().StoreDefaults();
  InitializeRuntime(HostNativeTable(), kHostNativeCount);
  if (record != nullptr && record->directives != nullptr) SetDirectiveHandler(record->directives);
  SetConfigurationRecord(record);
  int32_t loaded = 0;
  Script* engine = NewEngine(0);
  const port::Owned<char> directoryText = ToMultiByte(directory != nullptr ? directory : u"");
  if (engine != nullptr && directoryText != nullptr) {
    loaded = LoadScriptFile(engine, directoryText.get(), fileName);
    RunAllScripts(engine);
    WaitForScripts();
    if (record != nullptr && record->inspect != nullptr) record->inspect(engine, record->context);
  } else {
    // Without an engine there is no script to report through: hand the report over directly.
    DeliverError(u"### Error: Alloc failed");
  }
  SetConfigurationRecord(nullptr);
  if (engine != nullptr) DestroyEngine(engine);
  ShutdownRuntime();
  TheMapTable().Compact();
  return loaded;
}

}  // namespace keytwine
