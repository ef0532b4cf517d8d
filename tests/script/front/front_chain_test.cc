// What the front-end cases cannot show: chains too large to parse, dumps of chains no parse
// gives, and parses without a context.
#include <gtest/gtest.h>
#include <malloc.h>

#include "script/front/parser.h"
#include "script/front/syntax.h"
#include "script/pattern/pattern.h"
#include "script/text/text.h"

namespace keytwine::testing {
namespace {

SyntaxNode* Node(int32_t kind, const char* text = nullptr, SyntaxNode* next = nullptr) {
  SyntaxNode* node = NewNode(kind, nullptr);
  if (text != nullptr) node->text = Duplicate(text).release();
  node->next = next;
  return node;
}

// Blocks in blocks, each with a node after it and one before its inner block, some of those with a
// compiled pattern: a release that recursed would exhaust the stack (the cases release long
// chains). Blocks that the allocator keeps at hand after a free still count as in use, hence the
// slack.
TEST(FrontChain, ReleaseWalksDeepChildrenWithoutRecursion) {
  const size_t inUse = mallinfo2().uordblks;
  SyntaxNode* outer = Node(T_LBRACE);
  SyntaxNode* block = outer;
  for (int i = 0; i < 100000; ++i, block = block->child->next) {
    block->child = Node(T_VARIABLE, "a%x%", Node(T_LBRACE));
    if (i % 1000 == 0) block->child->pattern = CompilePattern("a%x%");
    block->next = Node(T_SEMICOLON);
  }
  ReleaseChain(outer);
  EXPECT_LT(mallinfo2().uordblks, inUse + 1000000);
}

// Nothing is reported without a context, where no definition or directive is accepted either.
TEST(FrontChain, ParsesWithoutAContextOrText) {
  const ChainPtr chain(ParseScript(nullptr, "x = 1;", 0));
  EXPECT_EQ(DumpChain(chain.get()), "T_VARIABLE \"x\"\nT_NUMBER 1\nT_ASSIGN\nT_SEMICOLON\n");
  for (const char* text : {"function f() {}", "#import(a)", "x = (1"})
    EXPECT_EQ(ParseScript(nullptr, text, 0), nullptr) << text;
  EXPECT_EQ(ParseScript(nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(ParseReference(nullptr, nullptr), nullptr);
}

}  // namespace
}  // namespace keytwine::testing
