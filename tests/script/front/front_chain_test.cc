// What the front-end cases cannot show: chains too large to parse in a test, jumps out of the
// dumped chain, and parses without a loading script.
#include <gtest/gtest.h>
#include <malloc.h>

#include "script/front/parser.h"
#include "script/front/syntax.h"
#include "script/pattern/pattern.h"
#include "script/text/text.h"

namespace keytwine::testing {
namespace {

SyntaxNode* Node(int32_t kind, const char* text = nullptr) {
  SyntaxNode* node = NewNode(kind, nullptr);
  if (node != nullptr && text != nullptr) node->text = Duplicate(text).release();
  return node;
}

// A release that recursed along next or child would exhaust the stack. The megabytes built must
// come back: blocks that the allocator keeps at hand after a free still count as in use, hence
// the slack (the debug build's leak checker is exact).
TEST(FrontChain, ReleaseWalksLongChainsAndDeepChildrenWithoutRecursion) {
  const size_t inUse = mallinfo2().uordblks;
  SyntaxNode* first = Node(T_SEMICOLON);
  SyntaxNode* tail = first;
  for (int i = 0; i < 1000000; ++i) tail = tail->next = Node(T_VARIABLE, "a");
  ReleaseChain(first);
  // Blocks in blocks, each with a node after it and one before its inner block, some of them
  // pattern literals.
  SyntaxNode* outer = Node(T_LBRACE);
  SyntaxNode* block = outer;
  for (int i = 0; i < 100000; ++i) {
    SyntaxNode* literal = Node(i % 1000 == 0 ? T_PATTERN : T_VARIABLE, "a%x%");
    if (literal->kind == T_PATTERN) literal->pattern = CompilePattern(literal->text);
    literal->next = Node(T_LBRACE);
    block->child = literal;
    block->next = Node(T_SEMICOLON);
    block = literal->next;
  }
  ReleaseChain(outer);
  EXPECT_LT(mallinfo2().uordblks, inUse + 1000000);
}

// Neither comes out of a parse that succeeds.
TEST(FrontChain, DumpShowsAJumpOutOfTheChainAndAnUncompiledPattern) {
  SyntaxNode* jump = Node(T_JUMP);
  SyntaxNode* elsewhere = Node(T_ELSE);
  jump->target = elsewhere;
  jump->next = Node(T_PATTERN, "p");
  EXPECT_EQ(DumpChain(jump), "T_JUMP -> ?\nT_PATTERN \"p\" (no pattern)\n");
  ReleaseChain(jump);
  ReleaseChain(elsewhere);
}

TEST(FrontChain, WithoutAContextNothingIsReportedAndNoDefinitionOrDirectiveIsAccepted) {
  const ChainPtr chain(ParseScript(nullptr, "x = 1;", 0));
  EXPECT_EQ(DumpChain(chain.get()), "T_VARIABLE \"x\"\nT_NUMBER 1\nT_ASSIGN\nT_SEMICOLON\n");
  for (const char* text : {"function f() {}", "#import(a)", "x = (1"}) {
    EXPECT_EQ(ParseScript(nullptr, text, 0), nullptr) << text;
  }
  Script script{};
  Frame frame{};
  frame.script = &script;
  script.engine = &script;
  EXPECT_EQ(ParseScript(&frame, nullptr, 0), nullptr);
  EXPECT_EQ(ParseReference(&frame, nullptr), nullptr);
  // Below a starting depth of 0 a definition is never at the top level.
  EXPECT_EQ(ParseScript(&frame, "function f() {}", 1), nullptr);
  EXPECT_EQ(script.functions, nullptr);
}

}  // namespace
}  // namespace keytwine::testing
