// The keys of a PC keyboard as the device sees them: the browser's KeyboardEvent.code, the
// Windows virtual-key code, the set-1 scan code and a name. Ctrl, Shift and Alt come as the
// device reports them (0x11, 0x10, 0x12), not by side.
"use strict";

const KEYS = (() => {
  const keys = [];
  const add = (code, vk, scan, name) => keys.push({code, vk, scan, name});
  "QWERTYUIOP".split("").forEach((c, i) => add("Key" + c, c.charCodeAt(0), 0x10 + i, c));
  "ASDFGHJKL".split("").forEach((c, i) => add("Key" + c, c.charCodeAt(0), 0x1e + i, c));
  "ZXCVBNM".split("").forEach((c, i) => add("Key" + c, c.charCodeAt(0), 0x2c + i, c));
  "1234567890".split("").forEach((c, i) => add("Digit" + c, c.charCodeAt(0), 0x02 + i, c));
  for (let i = 0; i < 10; i++) add("F" + (i + 1), 0x70 + i, 0x3b + i, "F" + (i + 1));
  add("F11", 0x7a, 0x57, "F11");
  add("F12", 0x7b, 0x58, "F12");
  [
    ["Escape", 0x1b, 0x01, "Esc"], ["Backspace", 0x08, 0x0e, "Backspace"],
    ["Tab", 0x09, 0x0f, "Tab"], ["Enter", 0x0d, 0x1c, "Enter"], ["Space", 0x20, 0x39, "Space"],
    ["ControlLeft", 0x11, 0x1d, "Ctrl"], ["ControlRight", 0x11, 0x1d, "Ctrl"],
    ["ShiftLeft", 0x10, 0x2a, "Shift"], ["ShiftRight", 0x10, 0x36, "Shift"],
    ["AltLeft", 0x12, 0x38, "Alt"], ["AltRight", 0x12, 0x38, "Alt"],
    ["MetaLeft", 0x5b, 0x5b, "Left Windows"], ["MetaRight", 0x5c, 0x5c, "Right Windows"],
    ["ContextMenu", 0x5d, 0x5d, "Menu"], ["CapsLock", 0x14, 0x3a, "Caps Lock"],
    ["ArrowUp", 0x26, 0x48, "Up"], ["ArrowDown", 0x28, 0x50, "Down"],
    ["ArrowLeft", 0x25, 0x4b, "Left"], ["ArrowRight", 0x27, 0x4d, "Right"],
    ["Home", 0x24, 0x47, "Home"], ["End", 0x23, 0x4f, "End"],
    ["PageUp", 0x21, 0x49, "Page Up"], ["PageDown", 0x22, 0x51, "Page Down"],
    ["Insert", 0x2d, 0x52, "Insert"], ["Delete", 0x2e, 0x53, "Delete"],
    ["Minus", 0xbd, 0x0c, "-"], ["Equal", 0xbb, 0x0d, "="], ["BracketLeft", 0xdb, 0x1a, "["],
    ["BracketRight", 0xdd, 0x1b, "]"], ["Backslash", 0xdc, 0x2b, "\\"],
    ["Semicolon", 0xba, 0x27, ";"], ["Quote", 0xde, 0x28, "'"], ["Backquote", 0xc0, 0x29, "`"],
    ["Comma", 0xbc, 0x33, ","], ["Period", 0xbe, 0x34, "."], ["Slash", 0xbf, 0x35, "/"],
  ].forEach((k) => add(...k));
  return keys;
})();

const KEY_BY_CODE = new Map(KEYS.map((k) => [k.code, k]));

// Names of virtual-key codes, for the table and the log.
const VK_NAMES = new Map([
  ...KEYS.map((k) => [k.vk, k.name]),
  [0x5b, "Left Windows"], [0xa0, "Left Shift"], [0xa1, "Right Shift"], [0xa2, "Left Ctrl"],
  [0xa3, "Right Ctrl"], [0xa4, "Left Alt"], [0xa5, "Right Alt"], [0x86, "F23"],
]);

function vkName(vk) {
  return VK_NAMES.get(vk) || "";
}
