// The statement parser: a whole script into one chain, control flow laid out as marker and jump
// nodes, and every function definition recorded in the script's function list.
//
//   if (c) S1 else S2   [c] T_TEST T_JUMP->@1 [S1] T_JUMP->@2 @1 T_ELSE [S2] @2 T_IF_END
//   while (c) S         @2 T_LOOP_HEAD [c] T_LOOP_BODY{[S]} T_JUMP->@1 T_JUMP->@2 @1 T_LOOP_END
//   do S while (c);     @2 T_LOOP_HEAD T_LOOP_BODY{[S]} T_DO_COND [c] T_TEST T_JUMP->@1
//                       T_JUMP->@2 @1 T_LOOP_END, then the ';' as an empty statement
//   for (i; c; s) S     [i] T_SEMICOLON @2 T_LOOP_HEAD [c] T_LOOP_BODY{[S]} T_JUMP->@1 [s]
//                       T_SEMICOLON T_JUMP->@2 @1 T_LOOP_END
//   switch (v) {...}    [v] T_SWITCH{body}
//   function f(a) {S}   T_JUMP->@1 T_FUNCTION T_DECLARE a T_CALL f{[S]} @1 T_FUNCTION_END
#include <atomic>
#include <cstring>

#include "script/front/parse_support.h"
#include "script/front/parser.h"
#include "script/port/port.h"
#include "script/text/text.h"

namespace keytwine {
namespace {

std::atomic<DirectiveHandler> directiveHandler{nullptr};

SyntaxNode* ParseStatement(LexerState& state, SyntaxNode* tail);
SyntaxNode* ParseIf(LexerState& state, SyntaxNode* tail);

// An expression, declaration or jump statement ends with ';' (a T_SEMICOLON node), which may be
// left out right before '}' or the end of the text.
SyntaxNode* ParseTerminator(LexerState& state, SyntaxNode* tail) {
  if (state.kind == T_RBRACE || state.kind == T_END) return tail;
  if (!Expect(state, T_SEMICOLON)) return nullptr;
  tail = AppendNode(state, tail, T_SEMICOLON);
  if (tail == nullptr || ScanToken(state) == 0) return nullptr;
  return tail;
}

// The statements between '{' (the current token) and its '}' become owner's child chain, which
// keeps what was built also when a statement fails. After the '}' an operand may follow.
SyntaxNode* ParseBlockInto(LexerState& state, SyntaxNode* owner) {
  if (!Expect(state, T_LBRACE) || ScanToken(state) == 0) return nullptr;
  SyntaxNode anchor{};
  SyntaxNode* last = &anchor;
  while (last != nullptr && state.kind != T_RBRACE && state.kind != T_END) {
    last = ParseStatement(state, last);
  }
  owner->child = anchor.next;
  if (last == nullptr || !Expect(state, T_RBRACE)) return nullptr;
  state.operandExpected = 1;
  return ScanToken(state) != 0 ? owner : nullptr;
}

// One statement as the child chain of a T_LOOP_BODY.
bool ParseLoopBody(LexerState& state, SyntaxNode* body) {
  SyntaxNode anchor{};
  SyntaxNode* last = ParseStatement(state, &anchor);
  body->child = anchor.next;
  return last != nullptr;
}

// '(' element ')' after a keyword; an empty condition is an error. A '{' or an operand may
// follow the ')'.
SyntaxNode* ParseCondition(LexerState& state, SyntaxNode* tail) {
  if (ScanToken(state) == 0 || !Expect(state, T_LPAREN) || ScanToken(state) == 0) return nullptr;
  if (state.kind == T_RPAREN) return ParseError(state, kSentenceError);
  tail = ParseElement(state, tail);
  if (tail == nullptr || !Expect(state, T_RPAREN)) return nullptr;
  state.operandExpected = 1;
  return ScanToken(state) != 0 ? tail : nullptr;
}

// The jump out of a loop, the jump back to its head and the T_LOOP_END the first one targets.
SyntaxNode* CloseLoop(LexerState& state, SyntaxNode* tail, SyntaxNode* exitJump, SyntaxNode* head) {
  SyntaxNode* backJump = AppendNode(state, tail, T_JUMP);
  if (backJump == nullptr) return nullptr;
  backJump->target = head;
  SyntaxNode* end = AppendNode(state, backJump, T_LOOP_END);
  if (end == nullptr) return nullptr;
  exitJump->target = end;
  return end;
}

SyntaxNode* ParseExpressionStatement(LexerState& state, SyntaxNode* tail) {
  tail = ParseElementList(state, tail);
  return tail != nullptr ? ParseTerminator(state, tail) : nullptr;
}

SyntaxNode* ParseBlock(LexerState& state, SyntaxNode* tail) {
  SyntaxNode* block = AppendNode(state, tail, T_LBRACE);
  if (block == nullptr) return nullptr;
  block->number = 1;  // a block statement, not a list literal
  return ParseBlockInto(state, block);
}

// The directive handler reads the directive itself from the byte after '#' and says where the
// parse goes on; a directive makes no node.
SyntaxNode* ParseDirective(LexerState& state, SyntaxNode* tail) {
  const DirectiveHandler handler = directiveHandler.load(std::memory_order_acquire);
  Script* script = state.context != nullptr ? state.context->script : nullptr;
  if (handler == nullptr || script == nullptr) return ParseError(state, kSentenceError);
  const char* resume = handler(script, script->directory, state.position);
  if (resume == nullptr) return nullptr;
  // A handler that did not move past the '#' would have the parse scan the '#' forever.
  if (resume <= state.tokenStart) return ParseError(state, kSentenceError);
  state.position = resume;
  return ScanToken(state) != 0 ? tail : nullptr;
}

// Items of a declaration list: each parsed at the index level in declaration mode (so names and
// strings in it become T_DECLARE and T_PATTERN), then an optional '= value' whose assignment
// takes the item as its left side.
SyntaxNode* ParseDeclarationList(LexerState& state, SyntaxNode* tail) {
  for (;;) {
    state.declarationMode = 1;
    tail = ParseIndexLevel(state, tail);
    state.declarationMode = 0;
    if (tail == nullptr) return nullptr;
    if (state.kind == T_ASSIGN) {
      tail = ParseElement(state, tail);
      if (tail == nullptr) return nullptr;
    }
    if (state.kind != T_COMMA) return tail;
    tail = AppendNode(state, tail, T_COMMA);
    if (tail == nullptr || ScanToken(state) == 0) return nullptr;
  }
}

SyntaxNode* ParseDeclaration(LexerState& state, SyntaxNode* tail) {
  if (ScanToken(state) == 0) return nullptr;
  tail = ParseDeclarationList(state, tail);
  return tail != nullptr ? ParseTerminator(state, tail) : nullptr;
}

// The then-part and the else-part are statements of their own; an else-if chain is parsed here
// directly, so its links count towards the nesting limit without deepening `depth`.
SyntaxNode* ParseIf(LexerState& state, SyntaxNode* tail) {
  tail = ParseCondition(state, tail);
  if (tail == nullptr) return nullptr;
  tail = AppendNode(state, tail, T_TEST);
  if (tail == nullptr) return nullptr;
  SyntaxNode* toElse = AppendNode(state, tail, T_JUMP);
  if (toElse == nullptr) return nullptr;
  tail = ParseStatement(state, toElse);
  if (tail == nullptr) return nullptr;
  SyntaxNode* toEnd = AppendNode(state, tail, T_JUMP);
  if (toEnd == nullptr) return nullptr;
  tail = AppendNode(state, toEnd, T_ELSE);
  if (tail == nullptr) return nullptr;
  toElse->target = tail;
  if (state.kind == T_ELSE) {
    state.operandExpected = 1;
    if (ScanToken(state) == 0) return nullptr;
    if (state.kind == T_IF) {
      NestingGuard guard(state);
      if (guard.TooDeep()) return ParseError(state, kNestingTooDeep);
      tail = ParseIf(state, tail);
    } else {
      tail = ParseStatement(state, tail);
    }
    if (tail == nullptr) return nullptr;
  }
  tail = AppendNode(state, tail, T_IF_END);
  if (tail == nullptr) return nullptr;
  toEnd->target = tail;
  return tail;
}

SyntaxNode* ParseWhile(LexerState& state, SyntaxNode* tail) {
  SyntaxNode* head = AppendNode(state, tail, T_LOOP_HEAD);
  if (head == nullptr) return nullptr;
  tail = ParseCondition(state, head);
  if (tail == nullptr) return nullptr;
  SyntaxNode* body = AppendNode(state, tail, T_LOOP_BODY);
  if (body == nullptr || !ParseLoopBody(state, body)) return nullptr;
  SyntaxNode* exitJump = AppendNode(state, body, T_JUMP);
  if (exitJump == nullptr) return nullptr;
  return CloseLoop(state, exitJump, exitJump, head);
}

// After the condition the token must end the statement: ';' (left for the next statement, an
// empty one), '}' or the end of the text.
SyntaxNode* ParseDo(LexerState& state, SyntaxNode* tail) {
  SyntaxNode* head = AppendNode(state, tail, T_LOOP_HEAD);
  if (head == nullptr) return nullptr;
  SyntaxNode* body = AppendNode(state, head, T_LOOP_BODY);
  if (body == nullptr || ScanToken(state) == 0 || !ParseLoopBody(state, body)) return nullptr;
  tail = AppendNode(state, body, T_DO_COND);
  if (tail == nullptr || !Expect(state, T_WHILE)) return nullptr;
  tail = ParseCondition(state, tail);
  if (tail == nullptr) return nullptr;
  tail = AppendNode(state, tail, T_TEST);
  if (tail == nullptr) return nullptr;
  if (state.kind != T_SEMICOLON && state.kind != T_RBRACE && state.kind != T_END) {
    return ParseError(state, kSentenceError);
  }
  SyntaxNode* exitJump = AppendNode(state, tail, T_JUMP);
  if (exitJump == nullptr) return nullptr;
  return CloseLoop(state, exitJump, exitJump, head);
}

// The step clause is parsed into a chain of its own and linked after the exit jump once the body
// is known, so that it runs after each completed iteration.
SyntaxNode* ParseFor(LexerState& state, SyntaxNode* tail) {
  if (ScanToken(state) == 0 || !Expect(state, T_LPAREN) || ScanToken(state) == 0) return nullptr;
  tail = ParseElementList(state, tail);
  if (tail == nullptr || !Expect(state, T_SEMICOLON)) return nullptr;
  tail = AppendNode(state, tail, T_SEMICOLON);
  if (tail == nullptr) return nullptr;
  SyntaxNode* head = AppendNode(state, tail, T_LOOP_HEAD);
  if (head == nullptr || ScanToken(state) == 0) return nullptr;
  tail = ParseElement(state, head);
  if (tail == nullptr || !Expect(state, T_SEMICOLON) || ScanToken(state) == 0) return nullptr;
  SyntaxNode stepAnchor{};
  SyntaxNode* stepLast = ParseElementList(state, &stepAnchor);
  ChainPtr step(stepAnchor.next);
  if (stepLast == nullptr || !Expect(state, T_RPAREN)) return nullptr;
  SyntaxNode* body = AppendNode(state, tail, T_LOOP_BODY);
  if (body == nullptr) return nullptr;
  state.operandExpected = 1;
  if (ScanToken(state) == 0 || !ParseLoopBody(state, body)) return nullptr;
  SyntaxNode* exitJump = AppendNode(state, body, T_JUMP);
  if (exitJump == nullptr) return nullptr;
  tail = exitJump;
  if (step != nullptr) {
    exitJump->next = step.release();
    tail = stepLast;
  }
  tail = AppendNode(state, tail, T_SEMICOLON);
  if (tail == nullptr) return nullptr;
  return CloseLoop(state, tail, exitJump, head);
}

SyntaxNode* ParseSwitch(LexerState& state, SyntaxNode* tail) {
  tail = ParseCondition(state, tail);
  if (tail == nullptr) return nullptr;
  SyntaxNode* node = AppendNode(state, tail, T_SWITCH);
  if (node == nullptr) return nullptr;
  return ParseBlockInto(state, node);
}

// case e: gives T_CASE, [e], T_COLON; default: gives T_DEFAULT, T_COLON. Labels are accepted
// wherever a statement is.
SyntaxNode* ParseLabel(LexerState& state, SyntaxNode* tail) {
  const bool isCase = state.kind == T_CASE;
  tail = AppendNode(state, tail, state.kind);
  if (tail == nullptr || ScanToken(state) == 0) return nullptr;
  if (isCase) {
    tail = ParseElement(state, tail);
    if (tail == nullptr) return nullptr;
  }
  if (!Expect(state, T_COLON)) return nullptr;
  tail = AppendNode(state, tail, T_COLON);
  if (tail == nullptr || ScanToken(state) == 0) return nullptr;
  return tail;
}

// break, continue, return (resume) and exit come after their optional value.
SyntaxNode* ParseJump(LexerState& state, SyntaxNode* tail) {
  ChainPtr keyword(MakeNode(state, state.kind));
  if (keyword == nullptr || ScanToken(state) == 0) return nullptr;
  tail = ParseElement(state, tail);
  if (tail == nullptr) return nullptr;
  tail = LinkAfter(tail, keyword.release());
  return ParseTerminator(state, tail);
}

// Appends an entry for the definition node to the end of the script's function list.
bool AddFunctionEntry(LexerState& state, Script* script, const char* name, SyntaxNode* definition) {
  auto* entry = static_cast<FunctionEntry*>(port::AllocZero(sizeof(FunctionEntry)));
  if (entry != nullptr) entry->name = Duplicate(name).release();
  if (entry == nullptr || entry->name == nullptr) {
    port::Free(entry);
    ParseError(state, kAllocFailed);
    return false;
  }
  entry->hash = ComputeNameHash(name);
  entry->definition = definition;
  entry->plainParameters = -1;
  FunctionEntry** end = &script->functions;
  while (*end != nullptr) end = &(*end)->next;
  *end = entry;
  return true;
}

// Whether call certainly calls a function of script: a plain name (no script prefix, thread
// start or dispatch) that a definition already parsed has. A script's own functions come before
// any native, and the first definition of a name stays the one called.
bool CallsScriptFunction(const Script* script, const SyntaxNode* call) {
  const char* name = call->text != nullptr ? call->text : "";
  if (std::strpbrk(name, ".&?") != nullptr) return false;
  for (const FunctionEntry* entry = script->functions; entry != nullptr; entry = entry->next) {
    if (entry->hash == call->nameHash && std::strcmp(entry->name, name) == 0) return true;
  }
  return false;
}

// Whether node could see the `arg` of its call: a name with "arg" in it, a call that may reach a
// native (a native is given the frame), a pattern or a string with references (the names these
// use are known only when they run).
bool MaySeeArg(const Script* script, const SyntaxNode* node) {
  const int32_t kind = node->kind;
  const char* text = node->text != nullptr ? node->text : "";
  if (kind == T_VARIABLE || kind == T_DECLARE) return std::strstr(text, "arg") != nullptr;
  if (kind == T_CALL) return !CallsScriptFunction(script, node);
  return kind == T_PATTERN || (kind == T_STRING && std::strchr(text, '%') != nullptr);
}

// MaySeeArg for the nodes from node up to stop and those of their child chains.
bool ChainMaySeeArg(const Script* script, const SyntaxNode* node, const SyntaxNode* stop) {
  for (; node != nullptr && node != stop; node = node->next) {
    if (MaySeeArg(script, node)) return true;
    if (node->child != nullptr && ChainMaySeeArg(script, node->child, nullptr)) return true;
  }
  return false;
}

// The number of parameters from node up to call when they are plain names, one T_COMMA between
// two, each name once; -1 otherwise (a default, a pattern, '&', a name given twice).
int32_t PlainParameterCount(const SyntaxNode* node, const SyntaxNode* call) {
  int32_t count = 0;
  const SyntaxNode* parameter = node;
  while (parameter != call) {
    if (parameter == nullptr || parameter->kind != T_DECLARE || parameter->text == nullptr ||
        parameter->text[0] == '&') {
      return -1;
    }
    for (const SyntaxNode* before = node; before != parameter; before = before->next->next) {
      if (std::strcmp(before->text, parameter->text) == 0) return -1;
    }
    ++count;
    parameter = parameter->next;
    if (parameter == call) break;
    if (parameter == nullptr || parameter->kind != T_COMMA || parameter->next == call) return -1;
    parameter = parameter->next;
  }
  return count;
}

// A definition is skipped by a jump in normal execution. Its T_CALL node names the function and
// holds the body; the parameters stand between the opening node and the T_CALL node.
SyntaxNode* ParseDefinition(LexerState& state, SyntaxNode* tail) {
  Script* script = state.context != nullptr ? state.context->script : nullptr;
  if (state.depth != 1 || script == nullptr) return ParseError(state, kSentenceError);
  const bool isArgmatch = state.kind == T_ARGMATCH;
  SyntaxNode* skip = AppendNode(state, tail, T_JUMP);
  if (skip == nullptr) return nullptr;
  SyntaxNode* definition = AppendNode(state, skip, state.kind);
  if (definition == nullptr || ScanToken(state) == 0 || !Expect(state, T_CALL)) return nullptr;
  ChainPtr call(MakeNameNode(state, T_CALL));
  if (call == nullptr || ScanToken(state) == 0) return nullptr;
  if (!AddFunctionEntry(state, script, call->text, definition)) return nullptr;
  if (!Expect(state, T_LPAREN) || ScanToken(state) == 0) return nullptr;
  if (isArgmatch && state.kind != T_STRING) return ParseError(state, kArgumentFormatError);
  tail = ParseDeclarationList(state, definition);
  if (tail == nullptr || !Expect(state, T_RPAREN)) return nullptr;
  state.operandExpected = 1;
  if (ScanToken(state) == 0) return nullptr;
  SyntaxNode* name = call.release();
  tail->next = name;
  if (ParseBlockInto(state, name) == nullptr) return nullptr;
  const bool seesArg = ChainMaySeeArg(script, definition->next, name) ||
                       ChainMaySeeArg(script, name->child, nullptr);
  name->number = seesArg ? 1 : 0;
  for (FunctionEntry* entry = script->functions; entry != nullptr; entry = entry->next) {
    if (entry->definition != definition) continue;
    entry->call = name;
    entry->plainParameters = PlainParameterCount(definition->next, name);
  }
  SyntaxNode* end = AppendNode(state, name, T_FUNCTION_END);
  if (end == nullptr) return nullptr;
  skip->target = end;
  return end;
}

SyntaxNode* ParseStatementForm(LexerState& state, SyntaxNode* tail) {
  switch (state.kind) {
    case T_END:
      return tail;
    case T_SEMICOLON:
    case T_COMMA:
    case T_LPAREN:
    case T_NOT:
    case T_BITNOT:
    case T_PLUS:
    case T_MINUS:
    case T_PREINC:
    case T_PREDEC:
    case T_NUMBER:
    case T_STRING:
    case T_VARIABLE:
    case T_CALL:
      return ParseExpressionStatement(state, tail);
    case T_LBRACE:
      return ParseBlock(state, tail);
    case T_DIRECTIVE:
      return ParseDirective(state, tail);
    case T_FUNCTION:
    case T_ARGMATCH:
      return ParseDefinition(state, tail);
    case T_VAR:
      return ParseDeclaration(state, tail);
    case T_IF:
      return ParseIf(state, tail);
    case T_FOR:
      return ParseFor(state, tail);
    case T_WHILE:
      return ParseWhile(state, tail);
    case T_DO:
      return ParseDo(state, tail);
    case T_SWITCH:
      return ParseSwitch(state, tail);
    case T_BREAK:
    case T_CONTINUE:
    case T_RETURN:
    case T_EXIT:
      return ParseJump(state, tail);
    case T_CASE:
    case T_DEFAULT:
      return ParseLabel(state, tail);
    default:  // else without if, '}' outside a block, ')', ']', ':', an infix operator
      return ParseError(state, kSentenceError);
  }
}

// One statement, one level deeper: `depth` tells the top level (1) from nested statements, and
// the nesting guard bounds the recursion of blocks, bodies and branches.
SyntaxNode* ParseStatement(LexerState& state, SyntaxNode* tail) {
  NestingGuard guard(state);
  if (guard.TooDeep()) return ParseError(state, kNestingTooDeep);
  ++state.depth;
  SyntaxNode* result = ParseStatementForm(state, tail);
  --state.depth;
  return result;
}

}  // namespace

SyntaxNode* ParseScript(Frame* context, const char* text, int32_t depth) {
  if (text == nullptr) return nullptr;
  LexerState state = StartLexer(context, text, depth);
  if (ScanToken(state) == 0) {
    ReportFailure(state);
    return nullptr;
  }
  SyntaxNode anchor{};
  SyntaxNode* tail = &anchor;
  while (state.kind != T_END) {
    tail = ParseStatement(state, tail);
    if (tail == nullptr) {
      ReleaseChain(anchor.next);
      // The entries point into the released chain.
      Script* script = context != nullptr ? context->script : nullptr;
      if (script != nullptr) {
        ReleaseFunctionList(script->functions);
        script->functions = nullptr;
      }
      ReportFailure(state);
      return nullptr;
    }
  }
  MarkShapes(anchor.next);
  return anchor.next;
}

void SetDirectiveHandler(DirectiveHandler handler) {
  directiveHandler.store(handler, std::memory_order_release);
}

DirectiveHandler CurrentDirectiveHandler() {
  return directiveHandler.load(std::memory_order_acquire);
}

}  // namespace keytwine
