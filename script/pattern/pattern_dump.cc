// Debugging and test dumps: the parse tree and the automaton as text.
#include "script/pattern/pattern.h"
#include "script/pattern/pattern_internal.h"
#include "script/pattern/pattern_tree.h"

namespace keytwine {
namespace {

using pattern_internal::MeasureTree;
using pattern_internal::ParsePattern;
using pattern_internal::PatternNode;
using pattern_internal::PatternParseState;
using pattern_internal::TextBuilder;
using pattern_internal::WorkArray;

void AppendCaptureName(TextBuilder* out, const char* target) {
  size_t length = 0;
  const char* name = CaptureTargetName(target, &length);
  for (size_t i = 0; i < length; ++i) out->AppendByte(static_cast<unsigned char>(name[i]), "");
}

void AppendClassText(TextBuilder* out, const char* classText) {
  for (const char* p = classText; *p != '\0'; ++p) {
    out->AppendByte(static_cast<unsigned char>(*p), "[]");
  }
}

void AppendLiteral(TextBuilder* out, const char* bytes, const char* quote) {
  out->AppendByte(static_cast<unsigned char>(bytes[0]), quote);
  if (bytes[1] != '\0') out->AppendByte(static_cast<unsigned char>(bytes[1]), quote);
}

struct DumpItem {
  const PatternNode* node;
  const char* text;  // when set, this item only writes the text
};

port::Owned<char> DumpTree(const PatternNode* root) {
  TextBuilder out;
  WorkArray<DumpItem> stack;
  if (!stack.Push({root, nullptr})) return nullptr;
  while (!stack.Empty()) {
    const DumpItem item = stack.Pop();
    if (item.text != nullptr) {
      out.Append(item.text);
      continue;
    }
    const PatternNode* node = item.node;
    if (node == nullptr) {
      out.Append("-");
      continue;
    }
    bool ok = true;
    switch (node->kind) {
      case kPatternLiteral:
        out.Append("Lit(");
        AppendLiteral(&out, node->literal, "()");
        out.Append(")");
        break;
      case kPatternClass:
        out.Append("Class(");
        AppendClassText(&out, node->classText);
        out.Append(")");
        break;
      case kPatternLineStart:
        out.Append("^");
        break;
      case kPatternLineEnd:
        out.Append("$");
        break;
      case kPatternEmpty:
        out.Append("Empty");
        break;
      case kPatternGroupOpen:
        out.Append("Open");
        break;
      case kPatternGroupClose:
        out.Append("Close");
        break;
      case kPatternCaptureMark:
        out.Append(node->startTarget != nullptr ? "Cap<(" : "Cap>(");
        AppendCaptureName(&out, node->startTarget != nullptr ? node->startTarget : node->endTarget);
        out.Append(")");
        break;
      case kPatternGreedyStar:
      case kPatternLazyStar:
        out.Append(node->kind == kPatternGreedyStar ? "Star(" : "Lazy(");
        ok = stack.Push({nullptr, ")"}) && stack.Push({node->left, nullptr});
        break;
      case kPatternConcat:
      case kPatternAlternative:
        out.Append(node->kind == kPatternConcat ? "Cat(" : "Alt(");
        ok = stack.Push({nullptr, ")"}) && stack.Push({node->right, nullptr}) &&
             stack.Push({nullptr, ","}) && stack.Push({node->left, nullptr});
        break;
      default:
        out.Append("?");
        break;
    }
    if (!ok) return nullptr;
  }
  return out.Take();
}

const char* EdgeLabel(int32_t kind) {
  switch (kind) {
    case kPatternEmpty:
      return "e";
    case kPatternGroupOpen:
      return "(";
    case kPatternGroupClose:
      return ")";
    case kPatternLineStart:
      return "^";
    case kPatternLineEnd:
      return "$";
    case kPatternGreedyStar:
      return "*";
    case kPatternLazyStar:
      return "*?";
    default:
      return "?";
  }
}

}  // namespace

port::Owned<char> DumpPatternTree(const char* text) {
  if (text == nullptr) return nullptr;
  PatternParseState ps;
  if (!ParsePattern(&ps, text)) return nullptr;
  int64_t states = 0;
  int64_t edges = 0;
  if (!MeasureTree(ps.root, &states, &edges) || states > kPatternMaxStates) return nullptr;
  return DumpTree(ps.root);
}

port::Owned<char> DumpPattern(const CompiledPattern* pattern) {
  if (pattern == nullptr) return nullptr;
  TextBuilder out;
  out.Append("states=");
  out.AppendNumber(pattern->stateCount);
  out.Append(" start=");
  out.AppendNumber(pattern->startState);
  out.Append(" final=");
  out.AppendNumber(pattern->finalState);
  out.Append(" ^=");
  out.AppendNumber(pattern->lineStartAnchored);
  out.Append(" $=");
  out.AppendNumber(pattern->lineEndAnchored);
  out.Append("\n");
  for (int32_t state = 0; state < pattern->stateCount; ++state) {
    out.AppendNumber(state);
    out.Append(":");
    for (int32_t e = pattern->states[state]; e >= 0; e = pattern->edges[e].next) {
      const PatternEdge& edge = pattern->edges[e];
      out.Append(" ");
      switch (edge.kind) {
        case kPatternLiteral:
          out.Append("'");
          AppendLiteral(&out, edge.literal, "'");
          out.Append("'");
          break;
        case kPatternClass:
          out.Append("[");
          AppendClassText(&out, edge.classText);
          out.Append("]");
          break;
        case kPatternCaptureMark:
          if (edge.startTarget != nullptr) {
            out.Append("<");
            AppendCaptureName(&out, edge.startTarget);
          } else {
            AppendCaptureName(&out, edge.endTarget);
            out.Append(">");
          }
          break;
        default:
          out.Append(EdgeLabel(edge.kind));
          break;
      }
      out.Append("->");
      out.AppendNumber(edge.target);
    }
    out.Append("\n");
  }
  return out.Take();
}

}  // namespace keytwine
