// Element lists: search, append, indexing with growth, and global promotion.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/script/runtime/runtime_test_support.h"

namespace keytwine::testing {
namespace {

class Lists : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    frame_ = TopFrame();
    frame_.position = main_->source;
    variable_ = DeclareVariable(&frame_, "a", frame_.position);
    ASSERT_NE(variable_, nullptr);
  }
  void TearDown() override {
    LeaveFrame(&frame_);
    RuntimeTest::TearDown();
  }

  Value* At(Value* base, int32_t position) {
    const ValueData index = IntegerData(position);
    return ElementOf(&frame_, base, &index);
  }
  Value* Named(Value* base, const char* name) {
    const ValueData index = TextData(name);
    return ElementOf(&frame_, base, &index);
  }

  Frame frame_{};
  Value* variable_ = nullptr;
};

TEST_F(Lists, IndexingAFreshVariableCreatesTheElementsUpToIt) {
  Value* fifth = At(variable_, 5);
  ASSERT_NE(fifth, nullptr);
  EXPECT_EQ(CountList(variable_->elements), 6);
  for (const Value* e = variable_->elements; e != nullptr; e = e->next) {
    EXPECT_EQ(e->name, nullptr);
    EXPECT_EQ(e->data->type, kTypeInteger);
    EXPECT_EQ(e->data->integer, 0);
  }
  Value* third = At(variable_, 2);
  EXPECT_EQ(third, variable_->elements->next->next);
  EXPECT_EQ(At(variable_, 5), fifth);
  EXPECT_EQ(CountList(variable_->elements), 6);
}

TEST_F(Lists, NamedElementsFollowPositionalOnesAndCountAsPositions) {
  At(variable_, 1);
  Value* x = Named(variable_, "x");
  ASSERT_NE(x, nullptr);
  EXPECT_STREQ(x->name, "x");
  EXPECT_EQ(x->hash, ComputeNameHash("x"));
  EXPECT_EQ(variable_->elements->next->next, x);
  EXPECT_EQ(At(variable_, 2), x);  // positions count named elements too
  EXPECT_EQ(Named(variable_, "x"), x);
  EXPECT_EQ(CountList(variable_->elements), 3);
}

TEST_F(Lists, ATextIndexSpellingANumberNamesAnElement) {
  Value* position1 = At(variable_, 1);
  Value* named1 = Named(variable_, "1");
  ASSERT_NE(named1, nullptr);
  EXPECT_NE(named1, position1);
  EXPECT_STREQ(named1->name, "1");
  EXPECT_EQ(At(variable_, 2), named1);
}

TEST_F(Lists, TheEmptyTextIndexStandsForTheVariableItself) {
  EXPECT_EQ(Named(variable_, ""), variable_);
  EXPECT_EQ(variable_->elements, nullptr);
}

TEST_F(Lists, NegativeIndexReportsIndexError) {
  EXPECT_EQ(At(variable_, -1), nullptr);
  EXPECT_EQ(variable_->elements, nullptr);
  EXPECT_EQ(TakeReports(),
            std::vector<std::string>{"### Error: Index error : Keytwine.Keytwine:(1) : x = 1;"});
}

TEST_F(Lists, NewElementsTakeTheSharedFlagOfTheBase) {
  variable_->data->shared = 1;
  At(variable_, 1);
  Named(variable_, "k");
  for (const Value* e = variable_->elements; e != nullptr; e = e->next) {
    EXPECT_EQ(e->data->shared, 1);
  }
}

// A stack entry for a variable is an alias; the list it grows must be the variable's.
TEST_F(Lists, GrowingThroughAnAliasGrowsTheOwnersList) {
  ValuePtr alias(NewAlias(variable_));
  ASSERT_EQ(alias->elements, nullptr);
  Value* element = At(alias.get(), 2);
  ASSERT_NE(element, nullptr);
  EXPECT_EQ(variable_->elements, alias->elements);
  EXPECT_EQ(CountList(variable_->elements), 3);
  ValuePtr second(NewAlias(variable_));
  EXPECT_EQ(Named(second.get(), "n"), variable_->elements->next->next->next);
}

TEST_F(Lists, NestedIndexingBuildsNestedLists) {
  Value* row = At(variable_, 1);
  Value* cell = At(row, 2);
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(CountList(variable_->elements), 2);
  EXPECT_EQ(CountList(row->elements), 3);
  EXPECT_EQ(row->elements->next->next, cell);
}

TEST_F(Lists, GrowingToAHugeIndexFailsAndLeavesTheList) {
  At(variable_, 3);
  Value* before = variable_->elements;
  EXPECT_EQ(At(variable_, 2000000000), nullptr);
  EXPECT_EQ(At(variable_, kMaxListElements), nullptr);
  EXPECT_EQ(variable_->elements, before);
  EXPECT_EQ(CountList(variable_->elements), 4);
  const std::string failed = "### Error: Alloc failed : Keytwine.Keytwine:(1) : x = 1;";
  EXPECT_EQ(TakeReports(), (std::vector<std::string>{failed, failed}));
}

// Each new element takes two allocations (record and data); every failure point in the middle
// of a growth must remove what was made so far.
TEST_F(Lists, AnAllocationFailureMidwayRemovesTheNewElements) {
  At(variable_, 0);
  for (uint64_t failing = 1; failing <= 10; ++failing) {
    port::FailAllocationAfter(failing);
    EXPECT_EQ(At(variable_, 5), nullptr) << "allocation " << failing;
    port::FailAllocationAfter(0);
    EXPECT_EQ(CountList(variable_->elements), 1) << "allocation " << failing;
  }
  EXPECT_EQ(TakeReports().size(), 10U);
  EXPECT_NE(At(variable_, 5), nullptr);
}

TEST_F(Lists, ANamedElementThatCannotBeMadeReportsAllocFailed) {
  for (uint64_t failing = 1; failing <= 3; ++failing) {  // record, data, name
    port::FailAllocationAfter(failing);
    EXPECT_EQ(Named(variable_, "key"), nullptr);
    port::FailAllocationAfter(0);
  }
  EXPECT_EQ(variable_->elements, nullptr);
  EXPECT_EQ(TakeReports().size(), 3U);
}

TEST(ListSearch, ComparesHashThenExactText) {
  Value* list = nullptr;
  ASSERT_NE(AppendToList(&list, "first", nullptr), nullptr);
  // "ab" and "b`" have the same hash (2*'a'+'b' == 2*'b'+'`'): the text must decide.
  ASSERT_EQ(ComputeNameHash("ab"), ComputeNameHash("b`"));
  Value* ab = AppendToList(&list, "ab", nullptr);
  Value* tick = AppendToList(&list, "b`", nullptr);
  AppendToList(&list, nullptr, nullptr);
  ValueChainPtr owned(list);
  EXPECT_EQ(FindInList(list, "ab"), ab);
  EXPECT_EQ(FindInList(list, "b`"), tick);
  EXPECT_EQ(FindInList(list, "AB"), nullptr);  // case-sensitive: the lexer lowers names
  EXPECT_EQ(FindInList(list, ""), nullptr);    // positional elements have no name
  EXPECT_EQ(FindInList(list, nullptr), nullptr);
}

TEST(ListSearch, FirstMatchWins) {
  Value* list = nullptr;
  Value* first = AppendToList(&list, "same", nullptr);
  AppendToList(&list, "same", nullptr);
  ValueChainPtr owned(list);
  EXPECT_EQ(FindInList(list, "same"), first);
}

TEST(ListAppend, AddsAtTheEndWithACopyOfNameAndData) {
  Value* list = nullptr;
  char name[] = "n";
  const ValueData text = TextData("v");
  AppendToList(&list, "head", nullptr);
  Value* added = AppendToList(&list, name, &text);
  ValueChainPtr owned(list);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(list->next, added);
  name[0] = 'z';
  EXPECT_STREQ(added->name, "n");
  EXPECT_EQ(added->data->shared, 0);
  EXPECT_EQ(TextOf(added), "v");
}

TEST(ListAppend, FailureAppendsNothing) {
  Value* list = nullptr;
  AppendToList(&list, "head", nullptr);
  ValueChainPtr owned(list);
  const ValueData text = TextData("v");
  for (uint64_t failing = 1; failing <= 4; ++failing) {  // record, data, name, string
    port::FailAllocationAfter(failing);
    EXPECT_EQ(AppendToList(&list, "n", &text), nullptr);
    port::FailAllocationAfter(0);
    EXPECT_EQ(list->next, nullptr);
  }
}

TEST(GlobalPromotion, MarksEveryValueAndNestedElementShared) {
  Value* list = nullptr;
  Value* a = AppendToList(&list, "a", nullptr);
  AppendToList(&list, "b", nullptr);
  Value* inner = AppendToList(&a->elements, nullptr, nullptr);
  AppendToList(&inner->elements, "deep", nullptr);
  ValueChainPtr owned(list);
  EXPECT_TRUE(MarkShared(list));
  EXPECT_EQ(list->data->shared, 1);
  EXPECT_EQ(list->next->data->shared, 1);
  EXPECT_EQ(inner->data->shared, 1);
  EXPECT_EQ(inner->elements->data->shared, 1);
}

TEST(GlobalPromotion, StopsAtTheNestingBound) {
  ValuePtr root(NewValue());
  Value* level = root.get();
  for (int i = 0; i < kMaxListDepth; ++i) {
    level->elements = NewValue();
    level = level->elements;
  }
  EXPECT_FALSE(MarkShared(root.get()));
  EXPECT_EQ(root->data->shared, 1);
  EXPECT_EQ(level->data->shared, 0);  // one level past the bound
  EXPECT_TRUE(MarkShared(root->elements));
  EXPECT_EQ(level->data->shared, 1);
}

}  // namespace
}  // namespace keytwine::testing
