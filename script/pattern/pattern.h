// The script language's regular expressions: the pattern compiler, which
// turns a pattern text into a small nondeterministic automaton, and the backtracking matcher,
// which runs it over a text and hands the named captures (`%name%`) to the runtime.
//
// Text is bytes in the engine's code page; a lead byte (port::IsDBCSLeadByte) followed by a byte
// other than NUL is one two-byte character. All memory comes from port::Alloc; every function
// copes with allocation failure (null result, or no match).
//
// Decisions (see also the comments in pattern_parser.cc, automaton.cc and matcher.cc):
// - A lone trailing backslash is a literal backslash; `\x` as the last two bytes ends the pattern.
// - A `]` outside brackets is a literal `]`.
// - A bracket expression keeps the first 255 bytes of its class text, never splitting a two-byte
//   character or a kept `\d`-style pair.
// - A backslash before a two-byte character escapes the whole character (a two-byte character
//   is one unit everywhere, also when counts and capture names are scanned).
// - As the token table gives, a `}` outside a count is a CountClose postfix that reuses
//   the numbers of the last count (0 and 0 at first, which make a star).
// - Counts saturate at kPatternCountCap. A pattern that needs more than kPatternMaxStates states,
//   creates more than kPatternMaxNodes tree nodes or nests groups deeper than
//   kPatternMaxGroupDepth does not compile (kPatternOverLimit); the runtime reports it and puts an
//   UnmatchablePattern in its place, so that it fails like any match and empties its captures.
// - Matching: a path never enters a (state, position) pair that it already holds (this is the
//   empty-loop guard: it only cuts cycles of empty moves); a capture takes its positions from the
//   winning path only, and one that the winning path did not pass receives the empty string. The
//   search is iterative and remembers failed (state, position) pairs, so it runs in time linear
//   in the text for a given pattern; it finds exactly the path that the plain depth-first search
//   (with the guard) finds.
#ifndef KEYTWINE_SCRIPT_PATTERN_PATTERN_H
#define KEYTWINE_SCRIPT_PATTERN_PATTERN_H

#include <cstddef>
#include <cstdint>

#include "script/port/port.h"

namespace keytwine {

// Kinds of parse-tree nodes and of the automaton edges they produce.
enum PatternKind : int32_t {
  kPatternLiteral = 0,
  kPatternLineStart = 1,
  kPatternLineEnd = 2,
  kPatternClass = 3,
  kPatternConcat = 4,
  kPatternAlternative = 5,
  kPatternGreedyStar = 6,
  kPatternLazyStar = 7,
  kPatternEmpty = 8,
  kPatternGroupOpen = 9,
  kPatternGroupClose = 10,
  kPatternCaptureMark = 11,
};

// Limits of the compiler. Past any of them CompilePattern returns null with kPatternOverLimit.
inline constexpr int32_t kPatternMaxStates = 10000;      // states of the automaton
inline constexpr int32_t kPatternMaxNodes = 50000;       // tree nodes created while parsing
inline constexpr int32_t kPatternMaxGroupDepth = 100;    // nesting of ( groups
inline constexpr int32_t kPatternCountCap = 1000000000;  // a count's number saturates here

// One transition of the automaton, in the list of its source state. The lists are kept as
// indices into CompiledPattern::edges; `next` is -1 at the end of a list.
struct PatternEdge {
  int32_t kind;             // PatternKind of the node that produced it
  int32_t consumes;         // 0: consumes one character (Literal, Class); -1: empty move
  int32_t target;           // state the edge leads to
  int32_t next;             // next edge of the same source state, or -1
  int32_t slot;             // CaptureMark: index into CompiledPattern::captureTargets; else -1
  char literal[2];          // Literal: first and second byte (second 0 for a one-byte character)
  char* classText;          // Class: owned, NUL-terminated class text; else null
  const char* startTarget;  // CaptureMark start: first `%` of the `%name%` token; else null
  const char* endTarget;    // CaptureMark end: the same pointer; else null
  // Class that reads the same in every code page (no item begins with a byte from 0x80 up):
  // it decides by the first byte of a character alone, so its answers are tabled (bit per byte).
  int32_t hasClassBits;
  uint32_t classBits[8];
};

// A compiled pattern: immutable after CompilePattern, may be matched by several threads at once.
// Capture targets point into the pattern text, which must outlive the pattern.
struct CompiledPattern {
  int32_t* states;     // per state: index of the first edge of its list, or -1
  int32_t startState;  // always 0
  int32_t finalState;  // always 1
  int32_t stateCount;
  int32_t lineStartAnchored;  // 1 when a `^` was compiled at the start state
  int32_t lineEndAnchored;    // 1 when a `$` was compiled into the final state

  PatternEdge* edges;
  int32_t edgeCount;

  // The captures in slot order: distinct start targets in the
  // order of the states and of each state's edge list.
  const char** captureTargets;
  int32_t captureCount;

  // Matcher support: which states remember failed positions, and their row in the memo.
  // [0] serves texts without two-byte characters, [1] texts with them. -1 = not remembered.
  int32_t* memoIndex[2];
  int32_t memoCount[2];
  int32_t classNeedsLeadBytes;  // some Class edge has no table (see hasClassBits)
  // When every match must begin by consuming a character: the bytes such a character can begin
  // with (bit per byte). Start positions at other bytes are skipped.
  int32_t hasFirstBytes;
  uint32_t firstBytes[8];
};

// --- Compiler ----------------------------------------------------------------------------

// Why CompilePattern gave no pattern.
enum PatternFailure : int32_t {
  kPatternCompiled = 0,
  kPatternOutOfMemory = 1,
  kPatternOverLimit = 2,  // past one of the limits above
};

// Compiles a NUL-terminated pattern text. Null when memory cannot be had or a limit above is
// passed; failure (when given) says which. The text must outlive the result.
CompiledPattern* CompilePattern(const char* text, PatternFailure* failure = nullptr);
// A pattern that never matches and has the captures of text (each `%name%` that the compiler
// would see, in the order of the text): what the runtime uses for a pattern too large to compile.
// Null when memory runs out. The text must outlive the result.
CompiledPattern* UnmatchablePattern(const char* text);
// Frees a pattern; null is ignored.
void FreePattern(CompiledPattern* pattern);

// Expands the escape at `at` (which points at a backslash) into `out` (at least 12 bytes) as a
// NUL-terminated text and returns the position just past the escape. With expandAll false the
// seven escapes \d \s \w \D \S \W \\ are copied as their two bytes.
const char* ExpandEscape(const char* at, char* out, bool expandAll);

// --- Matcher -----------------------------------------------------------------------------

// Where the captured texts go: the runtime's "resolve the %target% in the frame and assign".
// `target` points at the first `%` of the capture's `%name%` token in the pattern text (see
// CaptureTargetName); `text` holds `length` bytes and is NOT NUL-terminated; it is valid only
// during the call, so the receiver copies it. Matching in a frame, MatchPattern(frame, pattern,
// text), is MatchPattern(&sink, pattern, text) with a sink whose context is the frame and whose
// assign runs ResolveCaptureTarget and Assign ValueData (a failing target is reported and skipped;
// the matcher offers every capture regardless); no frame is a null sink.
struct CaptureSink {
  void* context;
  void (*assign)(void* context, const char* target, const char* text, size_t length);
};

// 1 when the pattern matches somewhere in the text, else 0 (also for a null pattern or an empty
// text), or -1 when the matcher ran out of memory (or past its memo budget) before it could
// decide. With a sink, every capture of the pattern is assigned, in slot order, before the call
// returns: its text from the winning path on a match, the empty string otherwise. Thread-safe on
// one pattern.
int32_t MatchPattern(const CaptureSink* sink, const CompiledPattern* pattern, const char* text);

// The name of a capture target: the bytes after the `%` at target up to the next `%` or the end
// of the text. Returns the first byte and stores the length.
const char* CaptureTargetName(const char* target, size_t* length);

// --- Debugging and tests --------------------------------------------------------------------

// The automaton as text: a header line "states=N start=0 final=1 ^=A $=B", then one line per
// state, "S:" followed by its edges in list order, each " LABEL->T". Labels: 'c' literal (bytes
// outside 0x21..0x7E as \xHH), [text] class, e empty, ( ), ^ $, * greedy-star link, *? lazy-star
// link, <name capture start, name> capture end. Null on memory failure or for a null pattern.
port::Owned<char> DumpPattern(const CompiledPattern* pattern);

// Parses a pattern text and returns its tree as text: Lit(c) Class(text) ^ $ Cat(x,y) Alt(x,y)
// Star(x) Lazy(x) Empty Open Close Cap<(name) Cap>(name), and - for a null subtree. Null when
// the pattern would not compile.
port::Owned<char> DumpPatternTree(const char* text);

}  // namespace keytwine

#endif  // KEYTWINE_SCRIPT_PATTERN_PATTERN_H
