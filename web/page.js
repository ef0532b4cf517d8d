// The playground page: writes the configuration and the added files into the engine's in-memory
// folder, runs it as `keytwine check` does, and replays the key events of this session through
// the table it left, as `keytwine sim --echo` does. engine.js (the WebAssembly build) does the
// work; this file only shows it.
"use strict";

const FOLDER = "/work/";
const CONFIG = FOLDER + "Keytwine.ns";
const TRACE = FOLDER + "session.trace";
const $ = (id) => document.getElementById(id);

// The trace of this session: one line a key event or device change, replayed whole each time.
let traceLines = [];
let clockOffset = 0;  // keeps the clock after the last time of a loaded trace
const heldScreenKeys = new Map();
const addedFiles = new Map();  // name: bytes, written beside Keytwine.ns

// The engine of the last run. Each run starts a new one, as the device starts the remapper anew
// to read a changed configuration: the table of the last run is not kept.
let engine = null;
let lastRun = Promise.resolve();
let pendingRuns = 0;  // the page is busy while there are any

async function start() {
  wirePage();
  engine = await createEngine();
  $("source").value = engine.FS.readFile("/examples/Keytwine.ns", {encoding: "utf8"});
  run();
}

function run() {
  pendingRuns++;
  document.body.classList.add("busy");
  lastRun = lastRun.then(runOnce)
    .catch((error) => { $("status").textContent = `The engine failed: ${error}`; })
    .finally(() => {
      if (--pendingRuns === 0) document.body.classList.remove("busy");
    });
}

async function runOnce() {
  const next = await createEngine();
  next.FS.mkdir(FOLDER);
  for (const [name, bytes] of addedFiles) next.FS.writeFile(FOLDER + name, bytes);
  next.FS.writeFile(CONFIG, $("source").value);
  next.ccall("keytwine_check", "number", ["string"], [CONFIG]);
  engine = next;
  const text = output();
  $("check-text").textContent = text;
  showErrors(errors());
  showTable(text);
  replay();
  $("status").textContent = "";
}

const hex = (n) => "0x" + n.toString(16);
const withName = (code) => (vkName(code) ? `${vkName(code)} (${hex(code)})` : hex(code));
const output = () => engine.ccall("keytwine_output", "string", [], []);
const errors = () => engine.ccall("keytwine_errors", "string", [], []);

// --- The editor --------------------------------------------------------------------------

function lineHeight() {
  return parseFloat(getComputedStyle($("source")).lineHeight);
}

function drawGutter(errorLines) {
  const count = $("source").value.split("\n").length;
  const gutter = $("gutter");
  gutter.replaceChildren();
  for (let line = 1; line <= count; line++) {
    const number = document.createElement("div");
    number.textContent = line;
    if (errorLines.has(line)) number.className = "error";
    gutter.append(number);
  }
  gutter.scrollTop = $("source").scrollTop;
}

function markLine(line) {
  const mark = $("mark");
  mark.hidden = !line;
  mark.dataset.line = line || "";
  mark.style.top = `${(line - 1) * lineHeight() - $("source").scrollTop + 4}px`;
}

function goToLine(line) {
  const source = $("source");
  const lines = source.value.split("\n");
  const start = lines.slice(0, line - 1).join("\n").length + (line > 1 ? 1 : 0);
  source.focus();
  source.setSelectionRange(start, start + lines[line - 1].length);
  source.scrollTop = Math.max(0, (line - 3) * lineHeight());
  markLine(line);
}

// --- Errors, settings and table ----------------------------------------------------------

// A report names the script (the file name up to its first dot) and the line, the function
// between them at run time: "### Error: WHAT : Keytwine.f:(LINE) : TEXT" or "... Keytwine:(LINE)
// ..." for a syntax error; the lines after it, "        at ...", name the calls it passed.
function reportLine(report) {
  const place = / ([^\s.:]+)(?:\.[^\s:]*)?:\((\d+)\) : /.exec(report);
  return place && place[1].toLowerCase() === "keytwine" ? Number(place[2]) : 0;
}

function showErrors(text) {
  const reports = [];
  for (const line of text.split("\n").filter((l) => l !== "")) {
    if (/^\s+at /.test(line) && reports.length) reports[reports.length - 1] += "\n" + line;
    else reports.push(line);
  }
  const lines = new Set();
  const items = reports.map((report) => {
    const item = document.createElement("li");
    item.textContent = report;
    const line = reportLine(report);
    if (line) {
      lines.add(line);
      item.className = "link";
      item.onclick = () => goToLine(line);
    }
    return item;
  });
  $("errors").replaceChildren(...items);
  if (reports.length === 0) $("errors").innerHTML = "<li class=none>none</li>";
  drawGutter(lines);
  markLine(lines.size ? Math.min(...lines) : 0);
}

const ORIENTATIONS = ["any orientation", "portrait only", "landscape only"];
const MODIFIERS = ["no modifier", "Ctrl", "Shift", "Ctrl+Shift", "Left Windows",
  "Right Windows", "F23"];

// The fields of a line of check's output: `name=value`, and for an exec entry
// `path="TEXT" parameters="TEXT"` at the end, unescaped: the path ends at the last
// `" parameters="`.
function fields(line) {
  const result = {};
  const pathAt = line.indexOf(' path="');
  const plain = pathAt < 0 ? line : line.slice(0, pathAt);
  for (const [, name, value] of plain.matchAll(/(\w+)=(\S+)/g)) result[name] = value;
  if (pathAt >= 0) {
    const texts = line.slice(pathAt + ' path="'.length, -1);
    const cut = texts.lastIndexOf('" parameters="');
    result.path = texts.slice(0, cut);
    result.parameters = texts.slice(cut + '" parameters="'.length);
  }
  return result;
}

function showSettings(settings) {
  const items = [
    `IME toggle (Right Windows then F7): ${settings.useImeToggle === "1" ? "on" : "off"}`,
    `a key held for ${settings.holdDuration} ms counts as held`,
    `debug mode: ${settings.debugMode === "1" ? "on (log lines below)" : "off"}`,
  ];
  $("settings").replaceChildren(...items.map((text) => {
    const item = document.createElement("li");
    item.textContent = text;
    return item;
  }));
}

function entryRow(index, kind, f) {
  const when = [ORIENTATIONS[f.orientation] || `orientation ${f.orientation}`,
    MODIFIERS[f.modifier] || `modifier ${f.modifier}`,
    f.hold === "1" ? "held" : "at once"].join(", ");
  const key = `${withName(Number(f.vk))}, scan ${f.scan}`;
  let does = `type ${kind}`;
  if (kind === "swap") {
    const keys = f.keys.split(",").map(Number).filter((k) => k !== 0);
    does = "sends " + (keys.map(withName).join(" + ") || "nothing");
  } else if (kind === "exec") {
    does = `starts ${f.path}` + (f.parameters ? ` ${f.parameters}` : "");
  }
  const row = document.createElement("tr");
  for (const text of [index, when, key, does]) {
    const cell = document.createElement("td");
    cell.textContent = text;
    row.append(cell);
  }
  return row;
}

function showTable(text) {
  const settings = {};
  const rows = [];
  for (const line of text.split("\n")) {
    const entry = /^(\d+) (\S+) /.exec(line);
    if (entry) rows.push(entryRow(entry[1], entry[2], fields(line)));
    else Object.assign(settings, fields(line));
  }
  showSettings(settings);
  $("table").tBodies[0].replaceChildren(...rows);
}

// --- The device --------------------------------------------------------------------------

function replay() {
  engine.FS.writeFile(TRACE, traceLines.join("\n") + "\n");
  engine.ccall("keytwine_replay", "number", ["string", "number"], [TRACE, 1]);
  const log = $("log");
  log.replaceChildren();
  const lines = output().split("\n");
  lines.pop();  // after the last line end
  for (const line of lines) {
    const span = document.createElement("span");
    span.textContent = line + "\n";
    span.className = line.startsWith("> ") ? "command" : line.startsWith("log ") ? "debug" : "";
    log.append(span);
  }
  log.scrollTop = log.scrollHeight;
  $("trace-errors").textContent = errors();
}

function add(line) {
  traceLines.push(line);
  replay();
}

function now() {
  return Math.round(performance.now()) + clockOffset;
}

function keyEvent(kind, key) {
  add(`${kind} ${hex(key.vk)} ${hex(key.scan)} ${now()}`);
}

function loadTrace(text) {
  traceLines = text.split("\n");
  const times = traceLines.map((line) => /^\s*(?:sys)?(?:down|up)\s+\S+\s+\S+\s+(\S+)/.exec(line))
    .filter(Boolean).map((m) => Number(m[1]));
  clockOffset = Math.max(0, ...times) + 1000 - Math.round(performance.now());
  // The switches show the state the trace leaves.
  let orientation = "landscape";
  let ime = "closed";
  for (const line of traceLines) {
    orientation = /^\s*(portrait|landscape)\b/.exec(line)?.[1] || orientation;
    ime = /^\s*ime\s+(open|closed)\b/.exec(line)?.[1] || ime;
  }
  document.querySelector(`input[name=orientation][value=${orientation}]`).checked = true;
  document.querySelector(`input[name=ime][value=${ime}]`).checked = true;
  replay();
}

// The browser's key, or one it does not know with its legacy key code and scan code 0.
function keyOf(event) {
  const key = KEY_BY_CODE.get(event.code);
  $("key-note").textContent = key ? `${event.code}: ${withName(key.vk)}, scan ${hex(key.scan)}`
    : `${event.code || event.key} is not in the key table: key code ${event.keyCode}, scan 0`;
  return key || {vk: event.keyCode & 0xff, scan: 0};
}

// Alt held makes a key a system key, as on Windows.
function onKey(event, down) {
  event.preventDefault();
  const kind = (event.altKey ? "sys" : "") + (down ? "down" : "up");
  keyEvent(kind, keyOf(event));
}

// On-screen keys; the last two carry the scan code of the example's IME toggle.
const SCREEN_KEYS = ["F1", "F2", "F3", "ControlLeft", "ShiftLeft", "KeyH", "KeyQ", "KeyC",
  "ArrowUp", "ArrowDown", "ArrowLeft", "ArrowRight", "Enter"].map((code) => KEY_BY_CODE.get(code))
  .concat([{name: "Right Windows", vk: 0x5c, scan: 0x11}, {name: "F7", vk: 0x76, scan: 0x11}]);

// A held on-screen key repeats as a held keyboard key does: after 500 ms, every 50 ms.
function pressScreenKey(key) {
  keyEvent("down", key);
  const repeat = () => {
    keyEvent("down", key);
    heldScreenKeys.set(key, setTimeout(repeat, 50));
  };
  heldScreenKeys.set(key, setTimeout(repeat, 500));
}

function releaseScreenKey(key) {
  if (!heldScreenKeys.has(key)) return;
  clearTimeout(heldScreenKeys.get(key));
  heldScreenKeys.delete(key);
  keyEvent("up", key);
}

function screenKeyButtons() {
  return SCREEN_KEYS.map((key) => {
    const button = document.createElement("button");
    button.textContent = key.name;
    button.title = `${hex(key.vk)}, scan ${hex(key.scan)}`;
    button.onpointerdown = () => pressScreenKey(key);
    button.onpointerup = button.onpointerleave = () => releaseScreenKey(key);
    return button;
  });
}

// Added files go beside Keytwine.ns for the next runs; this one starts at once.
async function addFiles(files) {
  for (const file of files) addedFiles.set(file.name, new Uint8Array(await file.arrayBuffer()));
  $("files").textContent = "Files beside Keytwine.ns: " + [...addedFiles.keys()].join(", ");
  run();
}

function download() {
  const link = document.createElement("a");
  link.href = URL.createObjectURL(new Blob([$("source").value], {type: "text/plain"}));
  link.download = "Keytwine.ns";
  link.click();
  URL.revokeObjectURL(link.href);
}

function wirePage() {
  const source = $("source");
  source.oninput = () => drawGutter(new Set());
  source.onscroll = () => {
    $("gutter").scrollTop = source.scrollTop;
    markLine(Number($("mark").dataset.line));
  };
  source.onkeydown = (event) => {
    if (event.key === "Enter" && event.ctrlKey) run();
  };
  $("run").onclick = run;
  $("download").onclick = download;
  $("add-files").onchange = (event) => addFiles(event.target.files);
  $("key-area").onkeydown = (event) => onKey(event, true);
  $("key-area").onkeyup = (event) => onKey(event, false);
  $("screen-keys").append(...screenKeyButtons());
  for (const input of document.querySelectorAll("input[type=radio]")) {
    input.onchange = () => add(input.name === "ime" ? `ime ${input.value}` : input.value);
  }
  $("example-trace").onclick = () => {
    const text = engine.FS.readFile("/examples/demo.trace", {encoding: "utf8"});
    $("trace").value = text;
    loadTrace(text);
  };
  $("replay").onclick = () => loadTrace($("trace").value);
  $("clear").onclick = () => loadTrace("");
}

start();
