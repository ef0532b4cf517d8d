#include "host/key_effects.h"

#include "host/log_line.h"

namespace keytwine {

void ReleaseHeldModifiersVia(KeyEffects& effects) {
  for (uint8_t vk : kReleaseOrder) {
    if (effects.IsKeyDown(vk)) effects.SendKey(vk, true);
  }
}

void LogKeybdEvent(KeyEffects& effects, bool debugMode, uint8_t vk, bool up) {
  if (!debugMode) return;
  LogLine line;
  line.Text("keybd_event: ").Hex(vk).Text(", ").Hex(kInjectedScanCode & 0xFF).Text(", ");
  line.Hex(up ? kKeyEventKeyUp : 0).Text(", ").Hex(0);
  effects.WriteLog(line.Get());
}

}  // namespace keytwine
