// The parser entry points: a whole script into its chain (statement parser), and one variable
// reference at run time (expression parser). The chain shapes they build are described with
// SyntaxNode (script/front/syntax.h).
#ifndef KEYTWINE_SCRIPT_FRONT_PARSER_H
#define KEYTWINE_SCRIPT_FRONT_PARSER_H

#include <cstdint>

#include "script/front/syntax.h"
#include "script/runtime/engine.h"

namespace keytwine {

// Deepest nesting of parentheses, braces, brackets, calls, prefix operators, statements and
// else-if links that one parse accepts. Each level costs a few stack frames of the recursive
// descent; past it the parse fails with "Sentence error" instead of overflowing the stack. It
// also bounds the nesting of child chains that the executor walks recursively.
inline constexpr int32_t kMaxNesting = 200;

// Parses a whole script. context is the load's frame: errors are reported through it, and its
// script receives the function definitions (appended to script->functions). depth is the
// starting statement depth (0 for a script file; definitions are accepted only at depth 1).
// Returns the first node of the chain; null for an empty script or after a reported error. When
// the parse fails, everything built is released and the script's function list is emptied.
SyntaxNode* ParseScript(Frame* context, const char* text, int32_t depth);

// Parses one variable reference at run time (the text of a %name% reference): a name with any
// number of [...] indexes, or another primary. Names become T_DECLARE nodes while the context's
// declareNames flag is 1. Returns the chain, or null when the text fails to parse (errors of the
// scan are reported; trailing text after a complete reference fails without a report) or holds
// nothing. Uses only its own state: safe in several script threads at once.
SyntaxNode* ParseReference(Frame* context, const char* text);

// Carries out one directive for the statement parser: script is the script being parsed,
// directory its directory, position the byte after the '#'. Returns the byte after the
// directive's closing ')', where the parse goes on, or null after reporting an error (the parse
// then fails).
using DirectiveHandler = const char* (*)(Script* script, const char* directory,
                                         const char* position);

// Installs the handler that the statement parser calls for '#'; null removes it. Without a
// handler a directive is a "Sentence error". Set it before parsing starts.
void SetDirectiveHandler(DirectiveHandler handler);
DirectiveHandler CurrentDirectiveHandler();

}  // namespace keytwine

#endif  // KEYTWINE_SCRIPT_FRONT_PARSER_H
