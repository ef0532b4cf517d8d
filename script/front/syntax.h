// The syntax tree: the contract between the parser and the executor.
//
// A parsed script is not an expression tree in the usual sense. Each statement sequence is a
// singly linked chain of nodes in evaluation order: operands come before their operator (postfix
// order), so an expression is a run of nodes that the executor evaluates with a value stack from
// left to right, and statements follow each other on the same chain. Only three things leave the
// chain: a node may own a child chain (the statements of a block, a loop body, a switch body, a
// function body, the elements of a list literal), a T_JUMP names the marker after which execution
// continues, and a pattern literal owns its compiled pattern.
#ifndef KEYTWINE_SCRIPT_FRONT_SYNTAX_H
#define KEYTWINE_SCRIPT_FRONT_SYNTAX_H

#include <cstdint>
#include <memory>
#include <string>

#include "script/front/tokens.h"
#include "script/runtime/engine.h"

namespace keytwine {

// Cached callee of a T_CALL node.
enum CallTargetKind : int32_t {
  kCallTargetNone = 0,
  kCallTargetFunction = 1,  // callTarget is a FunctionEntry
  kCallTargetNative = 2,    // callTarget is a NativeFunction
};

// What the parser knows of a node's neighbourhood, as bits of SyntaxNode::shape, so that the
// executor does not look the chain over on every visit. The first three mark statements and
// conditions that the executor may run in one step; it still checks the values (unshared
// integers, variables that exist) and walks the nodes one by one when they do not allow it. An
// operand below is a number or a plain name (no '&', no "script." part); op is a binary operator.
enum NodeShape : int32_t {
  kShapeNone = 0,
  kShapeStore = 1 << 0,      // name = operand op operand ;  (name plain and kept aside)
  kShapeStep = 1 << 1,       // name ++ ;  or  name -- ;  (name plain)
  kShapeCondition = 1 << 2,  // name op operand, taken by the T_TEST or T_LOOP_BODY after it
  kShapePlainCall = 1 << 3,  // a T_CALL whose name has no script prefix, thread start or dispatch
  // Where a variable node stands, whatever its name: before an operator, before an operand and
  // an operator, before a postfix ++ or -- that ends its statement.
  kShapeBeforeOperator = 1 << 4,
  kShapeBeforePair = 1 << 5,
  kShapePostfixStatement = 1 << 6,
  // A T_CALL_BEGIN whose arguments are operands or `operand operand op`, separated by commas,
  // up to a T_CALL with kShapePlainCall: the arguments can be read in place.
  kShapeDirectCall = 1 << 7,
  // A T_LOOP_BODY whose condition has kShapeCondition and, after its exit jump, either the jump
  // back to the loop's head or a `name ++ ;` step (kShapeStep) and then that jump: after an
  // iteration the executor may run the step and the condition in one step.
  kShapeRepeats = 1 << 8,
};
inline constexpr int32_t kShapesRunInOneStep = kShapeStore | kShapeStep | kShapeCondition;

// One node, allocated zero-filled from engine memory: 72 bytes, so that the allocator serves it
// from 80-byte blocks. The 32-bit fields are kept together, and the two pointer fields that no
// kind uses both share their room.
struct SyntaxNode {
  int32_t kind;  // TokenKind
  // T_NUMBER: the value. The T_CALL of a definition: 1 when its parameters or body may see the
  // call's `arg` (a call binds arg only then), else 0. T_LBRACE: 1 on a brace that stands as a
  // statement (a block), 0 on a list literal; the executor discards what a block leaves on its
  // stack and makes a list of what a list literal leaves (without the mark, `if (a) { b = 1 }`
  // would leave a stray list for the statement after it).
  int32_t number;
  int32_t callTargetKind;  // CallTargetKind
  // The hash of a name node's text after a leading '&', made by the parser so that the executor
  // does not hash the name on every lookup; 0 on other nodes (and may be 0 on a name too).
  NameHash nameHash;
  int32_t shape;  // NodeShape bits
  char* text;     // owned: lowered name or raw literal text; null where there is none
  union {
    // Owned. T_PATTERN: the compiled pattern. T_STRING: the pattern the executor compiled from a
    // literal matched with =~ (see the executor), kept for later evaluations; null until then.
    CompiledPattern* pattern;
    void* callTarget;  // not owned: T_CALL only, the callee cached by the runtime
  };
  const char* position;  // not owned: start of the token the node was made from
  SyntaxNode* next;      // owned: the following node of the chain
  SyntaxNode* child;     // owned: statements, body or list elements (T_LBRACE, T_CALL in a
                         // definition, T_SWITCH, T_LOOP_BODY)
  // Not owned. T_JUMP: the marker it continues after. T_VARIABLE: the '=' of `name = ...` when
  // name is its whole left side and the nodes between leave exactly the value above name's entry
  // (the executor may then keep the variable aside instead of pushing it); null otherwise.
  SyntaxNode* target;
};
static_assert(sizeof(SyntaxNode) <= 72 || sizeof(void*) != 8);

// A zero-filled node with kind and position set; null when memory runs out (the caller reports
// "Alloc failed").
SyntaxNode* NewNode(int32_t kind, const char* position);

// Sets the NodeShape of every statement and condition of the chain and its child chains that has
// one. Recursion follows the nesting of child chains, which the parser bounds.
void MarkShapes(SyntaxNode* first);

// Releases a chain: every node along next, its child chain, compiled pattern and text. Accepts
// null. Iterative: neither a long chain nor deeply nested child chains cost stack.
void ReleaseChain(SyntaxNode* first);

// Releases a function list: every entry along next with its name. Accepts null. The definition
// nodes belong to the script's chain and are not touched.
void ReleaseFunctionList(FunctionEntry* first);

struct ChainDeleter {
  void operator()(SyntaxNode* first) const { ReleaseChain(first); }
};
// Owns a chain (or a node not yet linked into one).
using ChainPtr = std::unique_ptr<SyntaxNode, ChainDeleter>;

// A readable dump of a chain, one node per line: the kind name, then the text in double quotes
// (bytes below 0x20, '"' and '\' escaped), the number of a T_NUMBER, "block" on a block
// statement, "(no pattern)" on a T_PATTERN without one, and "-> @n" on a jump. A node that some
// jump targets starts with its label "@n " (labels counted in order of appearance). Child chains
// follow their owner, indented by two spaces per level. A jump whose target is not in the dumped
// chains shows "-> ?". An empty chain gives the empty text.
std::string DumpChain(const SyntaxNode* first);

}  // namespace keytwine

#endif  // KEYTWINE_SCRIPT_FRONT_SYNTAX_H
