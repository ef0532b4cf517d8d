#include "host/platform/shell_state.h"

namespace keytwine {

ShellHandles& TheShell() {
  static ShellHandles handles;
  return handles;
}

}  // namespace keytwine
