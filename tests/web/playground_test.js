// Drives the playground page in the system's chromium, served from 127.0.0.1, and checks that it
// shows what the keytwine tool prints for the same files.
//   node playground_test.js PLAYGROUND-FOLDER KEYTWINE-TOOL EXAMPLES-FOLDER SCREENSHOT
"use strict";
const {execFileSync, spawnSync} = require("child_process");
const fs = require("fs");
const http = require("http");
const os = require("os");
const path = require("path");
const {chromium} = require("playwright-core");

const [folder, tool, examples, screenshot] = process.argv.slice(2);
let passed = 0;
let failed = 0;

function check(name, actual, expected) {
  if (actual === expected) {
    passed++;
    console.log(`PASS ${name}`);
  } else {
    failed++;
    const [want, got] = [expected.split("\n"), actual.split("\n")];
    let line = 0;
    while (want[line] === got[line]) line++;
    console.log(`FAIL ${name}: line ${line + 1} is ${JSON.stringify(got[line])}, ` +
      `not ${JSON.stringify(want[line])}`);
  }
}

function serve() {
  const server = http.createServer((request, response) => {
    const file = path.join(folder, path.normalize(request.url.split("?")[0]).replace(/\/$/, "/index.html"));
    fs.readFile(file, (error, data) => {
      response.writeHead(error ? 404 : 200);
      response.end(data);
    });
  });
  return new Promise((resolve) => server.listen(0, "127.0.0.1", () => resolve(server)));
}

// Types a configuration into the editor and runs it.
async function runConfiguration(page, text) {
  await page.$eval("#source", (source, value) => { source.value = value; }, text);
  await page.click("#run");
  await page.waitForSelector("body:not(.busy)");
}

const text = (page, selector) => page.$eval(selector, (element) => element.textContent);
const items = (page, selector) =>
  page.$$eval(selector, (elements) => elements.map((e) => e.textContent).join("\n"));

async function main() {
  const server = await serve();
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "keytwine-chromium-"));
  const browser = await chromium.launchPersistentContext(profile, {
    executablePath: "/usr/bin/chromium",
    headless: true,
    viewport: {width: 1400, height: 1000},
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  try {
    const page = await browser.newPage();
    page.on("pageerror", (error) => check("the page raises no error", error.message, ""));
    await page.goto(`http://127.0.0.1:${server.address().port}/`);
    await page.waitForFunction(() => document.getElementById("check-text").textContent !== "");

    // The example, run on load: the table as check prints it, then the example trace replayed.
    const config = path.join(examples, "Keytwine.ns");
    check("the example's table is check's", await text(page, "#check-text"),
      execFileSync(tool, ["check", config], {encoding: "utf8"}));
    check("the table shows every entry", String(await page.$$eval("#table tbody tr", (r) => r.length)),
      String((await text(page, "#check-text")).split("\n").filter((l) => /^\d+ /.test(l)).length));
    await page.click("#example-trace");
    check("the example trace's effects are sim's", await text(page, "#log"),
      execFileSync(tool, ["sim", "--echo", config, path.join(examples, "demo.trace")],
        {encoding: "utf8"}));
    await page.screenshot({path: screenshot, fullPage: true});

    // An error report, as check gives it, and its line marked in the editor.
    const broken = "setholdduration(600);\nswap(0, 0, 0, 0x41, 0x1e, 0x42);\nswap(0, 0,;\n";
    const brokenFile = path.join(profile, "Keytwine.ns");
    fs.writeFileSync(brokenFile, broken);
    await runConfiguration(page, broken);
    const checked = spawnSync(tool, ["check", brokenFile], {encoding: "utf8"});
    check("the table is the broken one's", await text(page, "#check-text"), checked.stdout);
    check("an error report is check's", await items(page, "#errors li"),
      checked.stderr.replace(/\n$/, ""));
    check("its line is marked", await text(page, "#gutter .error"), "3");
    check("the mark is on it", await page.$eval("#mark", (m) => `${m.hidden} ${m.dataset.line}`),
      "false 3");

    // The browser starts no thread and loads no library.
    await runConfiguration(page, 'function f() { }\nerror("thread " + &f());\n#library("ext.so")\n');
    check("no thread, no library", await items(page, "#errors li"),
      "### Error: Library load error : Keytwine : ext.so\nthread -1");
  } finally {
    await browser.close();
    server.close();
    fs.rmSync(profile, {recursive: true, force: true});
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exitCode = failed === 0 ? 0 : 1;
}

main().catch((error) => {
  console.log(`FAIL ${error.stack}`);
  console.log(`${passed} passed, ${failed + 1} failed`);
  process.exitCode = 1;
});
