// Variables: lookup through frames and globals, qualified names, declaration, set-or-declare,
// leaving frames, and the engine's chain of scripts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/script/runtime/runtime_test_support.h"

namespace keytwine::testing {
namespace {

class Variables : public RuntimeTest {};

Value* AddGlobal(Script* script, const char* name, int32_t value) {
  const ValueData data = IntegerData(value);
  return AppendToList(&script->globals, name, &data);
}

TEST_F(Variables, LocalsShadowGlobalsAndInnerBlocksShadowOuterOnes) {
  Value* global = AddGlobal(main_, "v", 1);
  Frame outer = TopFrame();
  FrameGuard outerGuard(outer);
  EXPECT_EQ(LookUpVariable(&outer, "v"), global);
  Value* outerLocal = DeclareVariable(&outer, "v", nullptr);
  ASSERT_NE(outerLocal, nullptr);
  Frame block{};
  block.script = main_;
  block.parent = &outer;
  FrameGuard blockGuard(block);
  EXPECT_EQ(LookUpVariable(&block, "v"), outerLocal);
  // A block may redeclare a name of the block around it.
  Value* blockLocal = DeclareVariable(&block, "v", nullptr);
  ASSERT_NE(blockLocal, nullptr);
  EXPECT_EQ(LookUpVariable(&block, "v"), blockLocal);
  EXPECT_EQ(LookUpVariable(&outer, "v"), outerLocal);
  EXPECT_EQ(LookUpVariable(&block, "w"), nullptr);
  EXPECT_TRUE(TakeReports().empty());
}

TEST_F(Variables, AnUnqualifiedNameSearchesOnlyTheFramesOwnScript) {
  AddGlobal(extra_, "only", 1);
  Frame frame = TopFrame();
  EXPECT_EQ(LookUpVariable(&frame, "only"), nullptr);
}

TEST_F(Variables, AQualifiedNameSelectsTheScriptWithoutRegardToCase) {
  Value* there = AddGlobal(extra_, "count", 7);
  Frame frame = TopFrame();
  EXPECT_EQ(LookUpVariable(&frame, "extra.count"), there);
  EXPECT_EQ(LookUpVariable(&frame, "EXTRA.count"), there);
  EXPECT_EQ(LookUpVariable(&frame, "extra.missing"), nullptr);
  EXPECT_EQ(LookUpVariable(&frame, "ext.count"), nullptr);  // a prefix of the name is no match
  // The text after the first "." is the variable name.
  Value* dotted = AddGlobal(extra_, "a.b", 3);
  EXPECT_EQ(LookUpVariable(&frame, "extra.a.b"), dotted);
  const std::vector<std::string> reports = TakeReports();
  ASSERT_EQ(reports.size(), 1U);
  EXPECT_EQ(reports[0], "### Error: Script not Found : Keytwine.Keytwine : ext.count");
}

TEST_F(Variables, AQualifiedLocalIsFoundBeforeScriptsAreConsulted) {
  // Without #option(explicit) an unknown qualified name ends up declared as a local; later
  // lookups then find that local.
  Frame frame = TopFrame();
  FrameGuard guard(frame);
  EXPECT_EQ(LookUpVariable(&frame, "nowhere.x"), nullptr);
  Value* local = DeclareVariable(&frame, "nowhere.x", nullptr);
  EXPECT_EQ(LookUpVariable(&frame, "nowhere.x"), local);
  EXPECT_EQ(TakeReports(), std::vector<std::string>{
                               "### Error: Script not Found : Keytwine.Keytwine : nowhere.x"});
}

TEST_F(Variables, DeclaringTwiceInOneFrameOverlaps) {
  Frame frame = TopFrame();
  FrameGuard guard(frame);
  const char* source = SetSource("var a;\n  var &a;\n");
  Value* first = DeclareVariable(&frame, "&a", source);
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->name, "a");  // the by-reference mark is dropped
  EXPECT_EQ(DeclareVariable(&frame, "&a", source + 9), nullptr);
  EXPECT_EQ(CountList(frame.locals), 1);
  EXPECT_EQ(TakeReports(), std::vector<std::string>{"### Error: a :Declaration overlaps : "
                                                    "Keytwine.Keytwine:(2) : var &a;"});
}

TEST_F(Variables, DeclarationThatCannotAllocateReportsAllocFailed) {
  Frame frame = TopFrame();
  port::FailAllocationAfter(1);
  EXPECT_EQ(DeclareVariable(&frame, "a", main_->source), nullptr);
  port::FailAllocationAfter(0);
  EXPECT_EQ(frame.locals, nullptr);
  EXPECT_EQ(TakeReports(),
            std::vector<std::string>{"### Error: Alloc failed : Keytwine.Keytwine:(1) : x = 1;"});
}

TEST_F(Variables, SetOrDeclareAssignsInTheFrameChainButNeverAGlobal) {
  AddGlobal(main_, "arg", 5);
  Frame outer = TopFrame();
  FrameGuard outerGuard(outer);
  Frame block{};
  block.script = main_;
  block.parent = &outer;
  FrameGuard blockGuard(block);
  const ValueData one = IntegerData(1);
  Value* declared = SetOrDeclare(&block, "arg", &one);
  ASSERT_NE(declared, nullptr);
  EXPECT_EQ(block.locals, declared);  // the global was not consulted
  EXPECT_EQ(main_->globals->data->integer, 5);
  Value* outerArg = DeclareVariable(&outer, "x", nullptr);
  const ValueData text = TextData("t");
  EXPECT_EQ(SetOrDeclare(&block, "x", &text), outerArg);
  EXPECT_EQ(TextOf(outerArg), "t");
  EXPECT_EQ(CountList(block.locals), 1);
}

TEST_F(Variables, LeavingAFrameFreesLocalsAndPendingLists) {
  Frame frame = TopFrame();
  Value* local = DeclareVariable(&frame, "a", nullptr);
  frame.pendingIncrements = NewAlias(local);
  frame.pendingDecrements = NewAlias(local);
  LeaveFrame(&frame);
  EXPECT_EQ(frame.locals, nullptr);
  EXPECT_EQ(frame.pendingIncrements, nullptr);
  EXPECT_EQ(frame.pendingDecrements, nullptr);
  LeaveFrame(&frame);  // twice is harmless
}

TEST_F(Variables, ScriptsChainFromTheHeadAndCopyItsExplicitFlag) {
  EXPECT_EQ(engine_->engine, engine_);
  EXPECT_EQ(engine_->next, main_);
  EXPECT_EQ(main_->next, extra_);
  EXPECT_EQ(extra_->engine, engine_);
  engine_->optionExplicit = 1;
  Script* third = AppendScript(extra_);  // any script of the chain leads to the head
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->optionExplicit, 1);
  EXPECT_EQ(extra_->next, third);
  EXPECT_EQ(FindScript(extra_, "keytwine", 8), main_);
  EXPECT_EQ(FindScript(engine_, "keytwineX", 8), main_);
  EXPECT_EQ(FindScript(engine_, "", 0), nullptr);  // the head has no name
}

TEST(ScriptChain, ReleasesEverythingTheScriptsOwn) {
  Script* engine = NewEngine(0);
  ASSERT_NE(engine, nullptr);
  for (int i = 0; i < 3; ++i) {
    Script* script = AppendScript(engine);
    script->name = EngineString("s");
    script->directory = EngineString("/d");
    script->source = EngineString("text");
    const ValueData text = TextData("g");
    Value* global = AppendToList(&script->globals, "g", &text);
    AppendToList(&global->elements, "e", &text);
    auto* entry = static_cast<FunctionEntry*>(port::AllocZero(sizeof(FunctionEntry)));
    entry->name = EngineString("f");
    script->functions = entry;
    auto* library = static_cast<LibraryEntry*>(port::AllocZero(sizeof(LibraryEntry)));
    library->next = static_cast<LibraryEntry*>(port::AllocZero(sizeof(LibraryEntry)));
    script->libraries = library;  // modules that failed to load: null handles
  }
  static int released = 0;
  engine->next->topLevel = reinterpret_cast<SyntaxNode*>(&released);
  FreeScriptChain(engine, [](SyntaxNode* first) {
    EXPECT_EQ(first, reinterpret_cast<SyntaxNode*>(&released));
    ++released;
  });
  EXPECT_EQ(released, 1);  // LeakSanitizer checks the rest
}

TEST(ScriptChain, EngineHeadFailsCleanlyWithoutMemory) {
  port::FailAllocationAfter(1);
  EXPECT_EQ(NewEngine(0), nullptr);
  port::FailAllocationAfter(0);
  Script* engine = NewEngine(1);
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(engine->optionExplicit, 1);
  port::FailAllocationAfter(1);
  EXPECT_EQ(AppendScript(engine), nullptr);
  port::FailAllocationAfter(0);
  EXPECT_EQ(engine->next, nullptr);
  FreeScriptChain(engine, nullptr);
}

}  // namespace
}  // namespace keytwine::testing
