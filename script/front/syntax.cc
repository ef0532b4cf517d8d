#include "script/front/syntax.h"

#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "script/front/tokens.h"
#include "script/pattern/pattern.h"
#include "script/port/port.h"

namespace keytwine {

SyntaxNode* NewNode(int32_t kind, const char* position) {
  auto* node = static_cast<SyntaxNode*>(port::AllocZero(sizeof(SyntaxNode)));
  if (node == nullptr) return nullptr;
  node->kind = kind;
  node->position = position;
  return node;
}

// Child chains are released by rotating them into the chain: a node with a child C gives C's
// successors to itself as its new child and becomes C's successor, and the walk goes on at C.
// Every node is visited a bounded number of times and no stack grows, however deep the nesting.
void ReleaseChain(SyntaxNode* first) {
  SyntaxNode* node = first;
  while (node != nullptr) {
    SyntaxNode* child = node->child;
    if (child != nullptr) {
      node->child = child->next;
      child->next = node;
      node = child;
      continue;
    }
    SyntaxNode* next = node->next;
    if (node->kind != T_CALL) FreePattern(node->pattern);  // a T_CALL's room holds its callee
    port::Free(node->text);
    port::Free(node);
    node = next;
  }
}

namespace {

// A plain name: no '&' and no "script." part, so that finding it neither declares nor reports.
bool IsPlainName(const SyntaxNode* node) {
  return node != nullptr && node->kind == T_VARIABLE && node->text != nullptr &&
         node->text[0] != 0 && node->text[0] != '&' && std::strchr(node->text, '.') == nullptr;
}

bool IsPlainOperand(const SyntaxNode* node) {
  return IsPlainName(node) || (node != nullptr && node->kind == T_NUMBER);
}

bool IsBinaryOperator(const SyntaxNode* node) {
  return node != nullptr && node->kind >= T_AND && node->kind <= T_MOD;
}

bool IsKind(const SyntaxNode* node, int32_t kind) {
  return node != nullptr && node->kind == kind;
}

// A number or a name without a "script." part: an operand the executor reads without a report.
bool IsQuietOperand(const SyntaxNode* node) {
  return IsKind(node, T_NUMBER) || (IsKind(node, T_VARIABLE) && node->text != nullptr &&
                                    std::strchr(node->text, '.') == nullptr);
}

int32_t VariableShape(const SyntaxNode* node) {
  int32_t shape = kShapeNone;
  const SyntaxNode* second = node->next;
  if (IsBinaryOperator(second)) shape |= kShapeBeforeOperator;
  if (IsQuietOperand(second) && IsBinaryOperator(second->next)) shape |= kShapeBeforePair;
  if ((IsKind(second, T_POSTINC) || IsKind(second, T_POSTDEC)) &&
      IsKind(second->next, T_POSTFIX_DONE) && IsKind(second->next->next, T_SEMICOLON)) {
    shape |= kShapePostfixStatement;
  }
  if (!IsPlainName(node)) return shape;
  if (node->target != nullptr && IsPlainOperand(second) && IsPlainOperand(second->next) &&
      IsBinaryOperator(second->next->next) && second->next->next->next == node->target &&
      IsKind(node->target->next, T_SEMICOLON)) {
    shape |= kShapeStore;
  }
  if ((shape & kShapePostfixStatement) != 0) shape |= kShapeStep;
  if (IsPlainOperand(second) && IsBinaryOperator(second->next) &&
      (IsKind(second->next->next, T_TEST) || IsKind(second->next->next, T_LOOP_BODY))) {
    shape |= kShapeCondition;
  }
  return shape;
}

bool IsPlainCall(const SyntaxNode* node) {
  return IsKind(node, T_CALL) && node->text != nullptr &&
         std::strpbrk(node->text, ".&?") == nullptr;
}

int32_t CallBeginShape(const SyntaxNode* node) {
  const SyntaxNode* at = node->next;
  while (!IsKind(at, T_CALL)) {
    if (!IsPlainOperand(at)) return kShapeNone;
    at = at->next;
    if (IsPlainOperand(at) && IsBinaryOperator(at->next)) at = at->next->next;
    if (IsKind(at, T_COMMA) && !IsKind(at->next, T_CALL)) at = at->next;
  }
  return IsPlainCall(at) ? kShapeDirectCall : kShapeNone;
}

// See kShapeRepeats. The condition before the loop body has its shape already; the step after it
// not yet.
int32_t LoopBodyShape(const SyntaxNode* body) {
  const SyntaxNode* exitJump = body->next;
  if (!IsKind(exitJump, T_JUMP)) return kShapeNone;
  const SyntaxNode* jump = exitJump->next;
  if (IsKind(jump, T_VARIABLE) && (VariableShape(jump) & kShapeStep) != 0) {
    jump = jump->next->next->next->next;  // after `name ++ done ;`
  }
  if (!IsKind(jump, T_JUMP) || !IsKind(jump->target, T_LOOP_HEAD)) return kShapeNone;
  const SyntaxNode* condition = jump->target->next;
  return condition != nullptr && (condition->shape & kShapeCondition) != 0 &&
                 condition->next->next->next == body
             ? kShapeRepeats
             : kShapeNone;
}

int32_t ShapeOf(const SyntaxNode* node) {
  switch (node->kind) {
    case T_LOOP_BODY:
      return LoopBodyShape(node);
    case T_CALL:
      return IsPlainCall(node) ? kShapePlainCall : kShapeNone;
    case T_CALL_BEGIN:
      return CallBeginShape(node);
    case T_VARIABLE:
      return VariableShape(node);
    default:
      return kShapeNone;
  }
}

}  // namespace

void MarkShapes(SyntaxNode* first) {
  for (SyntaxNode* node = first; node != nullptr; node = node->next) {
    node->shape = ShapeOf(node);
    if (node->child != nullptr) MarkShapes(node->child);
  }
}

void ReleaseFunctionList(FunctionEntry* first) {
  while (first != nullptr) {
    FunctionEntry* next = first->next;
    port::Free(first->name);
    port::Free(first);
    first = next;
  }
}

namespace {

struct DumpItem {
  const SyntaxNode* node;
  int indent;
};

// Every node of the chain and its child chains in dump order (a node, its child chain, then the
// node after it), with its indentation.
std::vector<DumpItem> DumpOrder(const SyntaxNode* first) {
  std::vector<DumpItem> order;
  std::vector<DumpItem> pending;
  if (first != nullptr) pending.push_back({first, 0});
  while (!pending.empty()) {
    const DumpItem item = pending.back();
    pending.pop_back();
    order.push_back(item);
    if (item.node->next != nullptr) pending.push_back({item.node->next, item.indent});
    if (item.node->child != nullptr) pending.push_back({item.node->child, item.indent + 1});
  }
  return order;
}

void AppendText(std::string& out, const char* text) {
  out += " \"";
  for (const char* p = text; *p != 0; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else {
      out += static_cast<char>(byte);
    }
  }
  out += '"';
}

}  // namespace

std::string DumpChain(const SyntaxNode* first) {
  const std::vector<DumpItem> order = DumpOrder(first);
  std::unordered_map<const SyntaxNode*, int> labels;
  for (const DumpItem& item : order) {
    if (item.node->kind == T_JUMP && item.node->target != nullptr) labels[item.node->target] = 0;
  }
  int nextLabel = 1;
  for (const DumpItem& item : order) {
    auto found = labels.find(item.node);
    if (found != labels.end() && found->second == 0) found->second = nextLabel++;
  }
  std::string out;
  for (const DumpItem& item : order) {
    const SyntaxNode* node = item.node;
    out.append(static_cast<size_t>(item.indent) * 2, ' ');
    auto label = labels.find(node);
    if (label != labels.end() && label->second != 0) {
      out += '@' + std::to_string(label->second) + ' ';
    }
    out += TokenName(node->kind);
    if (node->text != nullptr) AppendText(out, node->text);
    if (node->kind == T_NUMBER) out += ' ' + std::to_string(node->number);
    if (node->kind == T_LBRACE && node->number != 0) out += " block";
    if (node->kind == T_PATTERN && node->pattern == nullptr) out += " (no pattern)";
    if (node->kind == T_JUMP) {
      auto target = labels.find(node->target);
      out += target != labels.end() && target->second != 0
                 ? " -> @" + std::to_string(target->second)
                 : std::string(" -> ?");
    }
    out += '\n';
  }
  return out;
}

}  // namespace keytwine
