// keytwine lint: runs a configuration as check does and reports the traps that catch new users,
// one a line, as editors and build tools read them:
//   FILE:LINE: warning: TEXT [rule]
//   FILE:LINE: error: TEXT
#ifndef KEYTWINE_TOOLS_LINT_H
#define KEYTWINE_TOOLS_LINT_H

#include <ostream>
#include <string>

#include "host/configuration.h"

namespace keytwine {

// Runs the configuration file at path with the record; false when it could not be loaded.
using ConfigurationRunner = bool (*)(const std::string& path, ConfigurationRecord* record);

// Lints the configuration at path and writes the findings to out. Returns the exit status:
// 0 nothing found, 1 warnings or errors, 2 the file could not be loaded.
int LintConfiguration(const std::string& path, ConfigurationRunner run, std::ostream& out);

}  // namespace keytwine

#endif  // KEYTWINE_TOOLS_LINT_H
