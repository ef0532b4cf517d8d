#include "script/front/syntax.h"

#include <gtest/gtest.h>

#include <string>

#include "script/front/tokens.h"
#include "script/pattern/pattern.h"
#include "script/port/port.h"
#include "script/text/text.h"
#include "tests/script/front/front_harness.h"

namespace keytwine::testing {
namespace {

SyntaxNode* Node(int32_t kind, const char* text = nullptr) {
  SyntaxNode* node = NewNode(kind, nullptr);
  EXPECT_NE(node, nullptr);
  if (text != nullptr) node->text = Duplicate(text).release();
  return node;
}

TEST(FrontTokenKinds, CodesAndNamesMatch) {
  EXPECT_EQ(TokenName(T_END), std::string("T_END"));
  EXPECT_EQ(TokenName(T_SEMICOLON), std::string("T_SEMICOLON"));
  EXPECT_EQ(TokenName(T_POSTFIX_DONE), std::string("T_POSTFIX_DONE"));
  EXPECT_EQ(TokenName(T_CALL), std::string("T_CALL"));
  EXPECT_EQ(TokenName(T_FUNCTION_END), std::string("T_FUNCTION_END"));
  EXPECT_EQ(TokenName(T_RETURN), std::string("T_RETURN"));
  EXPECT_EQ(TokenName(T_DO_COND), std::string("T_DO_COND"));
  EXPECT_EQ(TokenName(73), std::string("T_?"));
  EXPECT_EQ(TokenName(-1), std::string("T_?"));
  // Every name is unique and spells "T_" and upper-case words.
  for (int32_t a = kFirstTokenKind; a <= kLastTokenKind; ++a) {
    const std::string name = TokenName(a);
    EXPECT_EQ(name.rfind("T_", 0), 0u) << a;
    EXPECT_EQ(name.find_first_not_of("T_ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos) << a;
    for (int32_t b = a + 1; b <= kLastTokenKind; ++b) EXPECT_NE(name, TokenName(b)) << a << b;
  }
}

TEST(FrontSyntaxNodes, NewNodeIsZeroFilledWithKindAndPosition) {
  const char* source = "x";
  SyntaxNode* node = NewNode(T_VARIABLE, source);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->kind, T_VARIABLE);
  EXPECT_EQ(node->position, source);
  EXPECT_EQ(node->text, nullptr);
  EXPECT_EQ(node->pattern, nullptr);
  EXPECT_EQ(node->number, 0);
  EXPECT_EQ(node->callTarget, nullptr);
  EXPECT_EQ(node->callTargetKind, kCallTargetNone);
  EXPECT_EQ(node->next, nullptr);
  EXPECT_EQ(node->child, nullptr);
  EXPECT_EQ(node->target, nullptr);
  EXPECT_EQ(node->blockStatement, 0);
  ReleaseChain(node);
}

TEST(FrontSyntaxNodes, NewNodeFailsCleanlyWhenMemoryRunsOut) {
  port::FailAllocationAfter(1);
  EXPECT_EQ(NewNode(T_END, nullptr), nullptr);
  port::FailAllocationAfter(0);
}

TEST(FrontSyntaxNodes, ReleaseAcceptsNull) {
  ReleaseChain(nullptr);
  ReleaseFunctionList(nullptr);
}

// Releases that recursed along next or child would exhaust the stack on these; the leak detector
// checks that every node, text and pattern goes.
TEST(FrontSyntaxNodes, ReleaseWalksLongChainsAndDeepChildrenWithoutRecursion) {
  constexpr int kCount = 1000000;
  SyntaxNode* first = Node(T_SEMICOLON);
  SyntaxNode* tail = first;
  for (int i = 0; i < kCount; ++i) tail = tail->next = Node(T_VARIABLE, "a");
  ReleaseChain(first);

  // Blocks nested inside blocks, each with a following node and a node before its inner block,
  // now and then a pattern literal.
  SyntaxNode* outer = Node(T_LBRACE);
  SyntaxNode* block = outer;
  for (int i = 0; i < kCount / 10; ++i) {
    SyntaxNode* literal = Node(i % 1000 == 0 ? T_PATTERN : T_VARIABLE, "a%x%");
    if (literal->kind == T_PATTERN) literal->pattern = CompilePattern(literal->text);
    literal->next = Node(T_LBRACE);
    block->child = literal;
    block->next = Node(T_SEMICOLON);
    block = literal->next;
  }
  ReleaseChain(outer);
}

TEST(FrontSyntaxNodes, ReleaseOfAFunctionListLeavesTheDefinitions) {
  SyntaxNode* definition = Node(T_FUNCTION);
  FunctionEntry* second = static_cast<FunctionEntry*>(port::AllocZero(sizeof(FunctionEntry)));
  second->name = Duplicate("g").release();
  second->definition = definition;
  FunctionEntry* first = static_cast<FunctionEntry*>(port::AllocZero(sizeof(FunctionEntry)));
  first->name = Duplicate("f").release();
  first->definition = definition;
  first->next = second;
  ReleaseFunctionList(first);
  EXPECT_EQ(definition->kind, T_FUNCTION);
  ReleaseChain(definition);
}

TEST(FrontChainDump, ShowsKindsTextsNumbersFlagsAndIndentedChildren) {
  SyntaxNode* block = Node(T_LBRACE);
  block->blockStatement = 1;
  SyntaxNode* text = Node(T_STRING, "q\"\\\n\t\r\x01");
  block->child = text;
  SyntaxNode* list = text->next = Node(T_LBRACE);
  list->child = Node(T_NUMBER);
  list->child->number = -7;
  block->next = Node(T_PATTERN, "p");
  block->next->next = Node(T_CALL, "f");
  EXPECT_EQ(DumpChain(block), Lines(R"(
T_LBRACE block
  T_STRING "q\"\\\n\t\r\x01"
  T_LBRACE
    T_NUMBER -7
T_PATTERN "p" (no pattern)
T_CALL "f"
)"));
  ReleaseChain(block);
  EXPECT_EQ(DumpChain(nullptr), "");
}

TEST(FrontChainDump, LabelsJumpTargetsInOrderOfAppearance) {
  SyntaxNode* back = Node(T_JUMP);
  SyntaxNode* head = back->next = Node(T_LOOP_HEAD);
  SyntaxNode* body = head->next = Node(T_LOOP_BODY);
  SyntaxNode* inner = body->child = Node(T_JUMP);
  SyntaxNode* end = body->next = Node(T_LOOP_END);
  SyntaxNode* lost = end->next = Node(T_JUMP);
  back->target = end;
  inner->target = head;
  SyntaxNode* elsewhere = Node(T_ELSE);
  lost->target = elsewhere;
  EXPECT_EQ(DumpChain(back), Lines(R"(
T_JUMP -> @2
@1 T_LOOP_HEAD
T_LOOP_BODY
  T_JUMP -> @1
@2 T_LOOP_END
T_JUMP -> ?
)"));
  ReleaseChain(back);
  ReleaseChain(elsewhere);
}

}  // namespace
}  // namespace keytwine::testing
