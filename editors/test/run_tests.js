// Checks the editor support of .ns files:
// - every sample (samples/*.ns and examples/Keytwine.ns) tokenized with the TextMate grammar gives
//   the tokens of its expected file (expected/NAME.txt, one token a line: `line:col "text"
//   scopes`); UPDATE=1 rewrites the expected files instead;
// - the grammar scopes exactly the lexer's keywords and the host's natives, in any letter case;
// - the lint problem matcher reads the lines `keytwine lint` prints.
'use strict';

const fs = require('fs');
const path = require('path');
const textmate = require('vscode-textmate');
const oniguruma = require('vscode-oniguruma');

const testDir = __dirname;
const repoDir = path.resolve(testDir, '..', '..');
const vscodeDir = path.join(repoDir, 'editors', 'vscode');
const grammarPath = path.join(vscodeDir, 'syntaxes', 'keytwine.tmLanguage.json');
const rootScope = 'source.keytwine';
const updating = process.env.UPDATE === '1';

const results = {passed: 0, failed: 0};

function pass() {
  results.passed++;
}

function fail(name, detail) {
  results.failed++;
  console.log(`FAIL ${name}\n${detail}`);
}

async function loadGrammar() {
  const wasm = fs.readFileSync(require.resolve('vscode-oniguruma/release/onig.wasm'));
  await oniguruma.loadWASM(wasm);
  const registry = new textmate.Registry({
    onigLib: Promise.resolve({
      createOnigScanner: (patterns) => new oniguruma.OnigScanner(patterns),
      createOnigString: (text) => new oniguruma.OnigString(text),
    }),
    loadGrammar: async (scope) => {
      if (scope !== rootScope) return null;
      return textmate.parseRawGrammar(fs.readFileSync(grammarPath, 'utf8'), grammarPath);
    },
  });
  return registry.loadGrammar(rootScope);
}

// Tokens of a text as [{line, column, text, scopes}], scopes without the root scope; tokens of
// blanks alone are left out.
function tokenize(grammar, text) {
  const lines = text.split(/\r?\n/);
  if (lines[lines.length - 1] === '') lines.pop();
  const tokens = [];
  let stack = textmate.INITIAL;
  lines.forEach((line, index) => {
    const result = grammar.tokenizeLine(line, stack);
    for (const token of result.tokens) {
      const piece = line.slice(token.startIndex, token.endIndex);
      const scopes = token.scopes.slice(1);
      if (piece.trim() === '') continue;
      tokens.push({line: index + 1, column: token.startIndex + 1, text: piece, scopes});
    }
    stack = result.ruleStack;
  });
  return tokens;
}

function describe(tokens) {
  return tokens
      .map((t) => `${t.line}:${t.column} ${JSON.stringify(t.text)} ${t.scopes.join(' ')}`.trimEnd())
      .map((line) => line + '\n')
      .join('');
}

function firstDifference(expected, actual) {
  const want = expected.split('\n');
  const got = actual.split('\n');
  for (let i = 0; i < Math.max(want.length, got.length); i++) {
    if (want[i] !== got[i]) {
      return `  line ${i + 1} of the expected file\n  expected: ${want[i]}\n  actual:   ${got[i]}`;
    }
  }
  return '';
}

function checkSample(grammar, name, sourcePath) {
  const expectedPath = path.join(testDir, 'expected', `${name}.txt`);
  const actual = describe(tokenize(grammar, fs.readFileSync(sourcePath, 'utf8')));
  if (updating) {
    fs.writeFileSync(expectedPath, actual);
    console.log(`updated expected/${name}.txt`);
    pass();
    return;
  }
  if (!fs.existsSync(expectedPath)) {
    fail(`tokens of ${name}`, `  expected/${name}.txt is missing (UPDATE=1 writes it)`);
    return;
  }
  const expected = fs.readFileSync(expectedPath, 'utf8');
  if (expected === actual) {
    pass();
  } else {
    fail(`tokens of ${name}`, firstDifference(expected, actual));
  }
}

function checkSamples(grammar) {
  const samplesDir = path.join(testDir, 'samples');
  for (const file of fs.readdirSync(samplesDir).filter((f) => f.endsWith('.ns')).sort()) {
    checkSample(grammar, path.basename(file, '.ns'), path.join(samplesDir, file));
  }
  checkSample(grammar, 'Keytwine', path.join(repoDir, 'examples', 'Keytwine.ns'));
}

// Words listed in a source file, found by a pattern whose first group is the word.
function wordsIn(relativePath, pattern) {
  const text = fs.readFileSync(path.join(repoDir, relativePath), 'utf8');
  return [...text.matchAll(pattern)].map((match) => match[1]);
}

function letterCases(word) {
  return [word, word.toUpperCase(), word[0].toUpperCase() + word.slice(1)];
}

// Each word, in each letter case, placed in `sourceOf(word)`, must give one token whose innermost
// scope passes `accepts`.
function checkWords(grammar, name, words, sourceOf, accepts) {
  if (words.length === 0) {
    fail(name, '  no words found in the source: has its layout changed?');
    return;
  }
  const wrong = [];
  for (const spelling of words.flatMap(letterCases)) {
    const token = tokenize(grammar, sourceOf(spelling)).find((t) => t.text === spelling);
    const scope = token ? token.scopes[token.scopes.length - 1] : '(no token)';
    if (!accepts(scope)) wrong.push(`  ${spelling}: ${scope}`);
  }
  if (wrong.length === 0) {
    pass();
  } else {
    fail(name, wrong.join('\n'));
  }
}

function checkVocabulary(grammar) {
  const keywords = wordsIn('script/front/lexer.cc', /\{"([a-z]+)", T_[A-Z]+\}/g);
  checkWords(grammar, 'keywords of the lexer', keywords, (word) => `${word} `,
      (scope) => /^(keyword\.control|storage\.type)\./.test(scope));
  const natives = wordsIn('host/natives.cc', /\{"_sfunc_([a-z]+)"/g);
  checkWords(grammar, 'natives of the host', natives, (word) => `${word}(1);`,
      (scope) => scope.startsWith('support.function.builtin.'));
}

// The lint lines, and what the problem matcher must read from them (null: not a problem line).
const lintLines = [
  ['Keytwine.ns:12: warning: x is assigned but never read [unused-variable]',
    {file: 'Keytwine.ns', line: '12', severity: 'warning',
      message: 'x is assigned but never read', code: 'unused-variable'}],
  ['C:\\cfg\\keys.ns:3: error: Sentence error',
    {file: 'C:\\cfg\\keys.ns', line: '3', severity: 'error', message: 'Sentence error'}],
  ['my keys/a:b.ns:7: warning: a[1] is read before [it] is set [read-before-set]',
    {file: 'my keys/a:b.ns', line: '7', severity: 'warning',
      message: 'a[1] is read before [it] is set', code: 'read-before-set'}],
  ['### Error: Sentence error : Keytwine:(3) : x = 1 y = 2', null],
  ['Keytwine.ns:3: note: not a problem', null],
];

function matcherReading(pattern, line) {
  const match = new RegExp(pattern.regexp).exec(line);
  if (!match) return null;
  const reading = {};
  for (const field of ['file', 'line', 'severity', 'message', 'code']) {
    if (pattern[field] !== undefined && match[pattern[field]] !== undefined) {
      reading[field] = match[pattern[field]];
    }
  }
  return reading;
}

function checkLintMatcher() {
  const manifest = JSON.parse(fs.readFileSync(path.join(vscodeDir, 'package.json'), 'utf8'));
  const matcher = manifest.contributes.problemMatchers[0];
  const wrong = [];
  for (const [line, want] of lintLines) {
    const got = matcherReading(matcher.pattern, line);
    if (JSON.stringify(got) !== JSON.stringify(want)) {
      wrong.push(`  ${line}\n    expected ${JSON.stringify(want)}\n    actual   ${JSON.stringify(got)}`);
    }
  }
  if (wrong.length === 0) {
    pass();
  } else {
    fail('lint problem matcher', wrong.join('\n'));
  }
  const tasks = JSON.parse(fs.readFileSync(path.join(vscodeDir, 'tasks.json'), 'utf8'));
  const used = tasks.tasks.map((task) => task.problemMatcher);
  if (used.every((name) => name === `$${matcher.name}`)) {
    pass();
  } else {
    fail('lint task', `  the tasks use ${used.join(', ')}, the extension gives $${matcher.name}`);
  }
}

async function main() {
  const grammar = await loadGrammar();
  checkSamples(grammar);
  checkVocabulary(grammar);
  checkLintMatcher();
  console.log(`${results.passed} passed, ${results.failed} failed`);
  process.exitCode = results.failed === 0 ? 0 : 1;
}

main().catch((error) => {
  console.log(error.stack || String(error));
  console.log(`${results.passed} passed, ${results.failed + 1} failed`);
  process.exitCode = 1;
});
