// Every message the engine reports, in one place: the texts users see after "### Error: " and
// look up in the guide's error table (docs/configuration.md), so each one names one cause.
#ifndef KEYTWINE_SCRIPT_RUNTIME_REPORT_TEXTS_H
#define KEYTWINE_SCRIPT_RUNTIME_REPORT_TEXTS_H

namespace keytwine {

// Loading and parsing.
inline constexpr char kSentenceError[] = "Sentence error";
inline constexpr char kParenthesisError[] = "Parenthesis error";
inline constexpr char kArgumentFormatError[] = "Argument format error";
inline constexpr char kFileOpenError[] = "File open error";
inline constexpr char kLibraryLoadError[] = "Library load error";
inline constexpr char kNulInScript[] = "NUL byte in the script";

// Limits of the engine (their values are listed in the guide).
inline constexpr char kNestingTooDeep[] = "Nesting too deep";
inline constexpr char kCallDepthExceeded[] = "Call depth exceeded";
inline constexpr char kListTooLong[] = "List too long";
inline constexpr char kPatternTooLarge[] = "Pattern too large";

// Running.
inline constexpr char kAllocFailed[] = "Alloc failed";
inline constexpr char kIndexError[] = "Index error";
inline constexpr char kDivideByZero[] = "Divide by ZERO";
inline constexpr char kIllegalOperator[] = "Illegal operator";
inline constexpr char kIllegalToString[] = "Illegal operator to string";
inline constexpr char kIllegalToHash[] = "Illegal operator to hash";
inline constexpr char kScriptNotFound[] = "Script not Found";
inline constexpr char kFunctionNotFound[] = "Function not Found";
inline constexpr char kFunctionError[] = "Function error";
inline constexpr char kTooFewArguments[] = "Too few arguments";
inline constexpr char kArgumentError[] = "Argument error";

// Suffixes after a name: "x :Declaration overlaps".
inline constexpr char kDeclarationOverlaps[] = " :Declaration overlaps";
inline constexpr char kVariableNotDefined[] = " :Variable is not defined";

}  // namespace keytwine

#endif  // KEYTWINE_SCRIPT_RUNTIME_REPORT_TEXTS_H
