// Values: making, freeing, copying, assigning and converting.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "tests/script/runtime/runtime_test_support.h"

namespace keytwine::testing {
namespace {

// --- Conversions ---------------------------------------------------------------------------

TEST(Conversions, StringsConvertByTheirLeadingNumber) {
  EXPECT_EQ(TextToInteger("12abc"), 12);
  EXPECT_EQ(TextToInteger("abc"), 0);
  EXPECT_EQ(TextToInteger(""), 0);
  EXPECT_EQ(TextToInteger(nullptr), 0);
  EXPECT_EQ(TextToInteger("  \t-42x"), -42);
  EXPECT_EQ(TextToInteger("+7"), 7);
  EXPECT_EQ(TextToInteger("- 7"), 0);
  EXPECT_EQ(TextToInteger("0x1F"), 0);
}

TEST(Conversions, IntegerTextWrapsInThirtyTwoBits) {
  EXPECT_EQ(TextToInteger("2147483647"), INT32_MAX);
  EXPECT_EQ(TextToInteger("2147483648"), INT32_MIN);
  EXPECT_EQ(TextToInteger("-2147483648"), INT32_MIN);
  EXPECT_EQ(TextToInteger("4294967297"), 1);
  EXPECT_EQ(TextToInteger("-4294967295"), 1);
  // Far past 64 bits: still no overflow, only wrap-around.
  EXPECT_EQ(TextToInteger("99999999999999999999999999"), static_cast<int32_t>(0xE3FFFFFFU));
}

TEST(Conversions, IntegersBecomeDecimalText) {
  NumberText number;
  EXPECT_STREQ(FormatInteger(0, number), "0");
  EXPECT_STREQ(FormatInteger(-5, number), "-5");
  EXPECT_STREQ(FormatInteger(INT32_MIN, number), "-2147483648");
  EXPECT_STREQ(FormatInteger(INT32_MAX, number), "2147483647");
  const ValueData integer = IntegerData(-17);
  const ValueData text = TextData("abc");
  EXPECT_STREQ(ToText(&integer, number), "-17");
  EXPECT_STREQ(ToText(&text, number), "abc");
  EXPECT_STREQ(ToText(nullptr, number), "");
  Owned<char> made = ToNewText(&integer);
  ASSERT_NE(made, nullptr);
  EXPECT_STREQ(made.get(), "-17");
  EXPECT_EQ(ToInteger(&integer), -17);
  EXPECT_EQ(ToInteger(&text), 0);
}

TEST(Conversions, TruthFollowsTypeIntegerValueOrFirstByte) {
  const ValueData zero = IntegerData(0);
  const ValueData negative = IntegerData(-1);
  const ValueData empty = TextData("");
  const ValueData digitZero = TextData("0");
  const ValueData word = TextData("no");
  const ValueData highByte = TextData("\xE9");
  EXPECT_FALSE(IsTrue(&zero));
  EXPECT_TRUE(IsTrue(&negative));
  EXPECT_FALSE(IsTrue(&empty));
  EXPECT_TRUE(IsTrue(&digitZero));  // judged by its first byte, not its number
  EXPECT_TRUE(IsTrue(&word));
  EXPECT_TRUE(IsTrue(&highByte));  // a negative signed byte is still non-zero
  EXPECT_FALSE(IsTrue(nullptr));
}

// --- Making and freeing --------------------------------------------------------------------

TEST(Values, NewValueOwnsZeroedIntegerData) {
  ValuePtr value(NewValue());
  ASSERT_NE(value, nullptr);
  ASSERT_NE(value->data, nullptr);
  EXPECT_EQ(value->data->owner, value.get());
  EXPECT_EQ(value->data->type, kTypeInteger);
  EXPECT_EQ(value->data->integer, 0);
  EXPECT_EQ(value->data->shared, 0);
  EXPECT_EQ(value->name, nullptr);
  EXPECT_EQ(value->elements, nullptr);
  EXPECT_EQ(value->next, nullptr);
}

TEST(Values, NewValueFailsCleanlyWhenEitherAllocationFails) {
  for (uint64_t failing = 1; failing <= 2; ++failing) {
    port::FailAllocationAfter(failing);
    EXPECT_EQ(NewValue(), nullptr) << "allocation " << failing;
  }
  port::FailAllocationAfter(0);
}

TEST(Values, FreeingAnAliasLeavesTheOwnersDataAndList) {
  ValuePtr variable(NewValue());
  ASSERT_NE(AppendToList(&variable->elements, "k", nullptr), nullptr);
  SetTextData(variable->data, Duplicate("text"));
  Value* alias = NewAlias(variable.get());
  ASSERT_NE(alias, nullptr);
  EXPECT_EQ(alias->data, variable->data);
  EXPECT_EQ(alias->elements, variable->elements);
  FreeValue(alias);
  // The owner is intact (ASan would flag a use after free here).
  EXPECT_STREQ(variable->data->text, "text");
  EXPECT_STREQ(variable->elements->name, "k");
}

TEST(Values, FreeAcceptsNothingAndTheFailureMarker) {
  FreeValue(nullptr);
  FreeValue(FailedValue());
  FreeValueChain(nullptr);
  FreeValueChain(FailedValue());
  EXPECT_TRUE(IsFailedValue(FailedValue()));
  EXPECT_FALSE(IsFailedValue(nullptr));
}

TEST(Values, FreeValueDoesNotFollowNext) {
  ValueChainPtr chain(NewValue());
  chain->next = NewValue();
  Value* second = chain->next;
  Value* first = chain.release();
  FreeValue(first);
  chain.reset(second);  // still alive: freed by the pointer, not leaked, not freed twice
  EXPECT_EQ(chain->data->owner, second);
}

// Long lists and deep nesting are released without recursion: a recursive release would
// exhaust the stack long before these sizes.
TEST(Values, FreeingLongAndDeeplyNestedListsUsesNoRecursion) {
  ValuePtr root(NewValue());
  Value* level = root.get();
  constexpr int kDepth = 200000;
  for (int i = 0; i < kDepth; ++i) {
    level->elements = NewValue();
    ASSERT_NE(level->elements, nullptr);
    level->elements->next = NewValue();  // a sibling at every level
    level = level->elements;
  }
  Value* flat = nullptr;
  Value* last = nullptr;
  for (int i = 0; i < kDepth; ++i) {
    Value* value = NewValue();
    ASSERT_NE(value, nullptr);
    (last == nullptr ? flat : last->next) = value;
    last = value;
  }
  last->next = root.release();
  FreeValueChain(flat);  // LeakSanitizer checks that everything went
}

// --- Deep copy -----------------------------------------------------------------------------

// { "one", x = 2, { 3 } } with a pattern and wholeList on the outer entry.
Value* SampleList() {
  Value* list = NewValue();
  list->wholeList = 1;
  list->pattern = reinterpret_cast<CompiledPattern*>(0x10);
  list->data->shared = 1;
  Value* a = AppendToList(&list->elements, nullptr, nullptr);
  SetTextData(a->data, Duplicate("one"));
  const ValueData two = IntegerData(2);
  AppendToList(&list->elements, "x", &two);
  Value* nested = AppendToList(&list->elements, nullptr, nullptr);
  const ValueData three = IntegerData(3);
  AppendToList(&nested->elements, nullptr, &three);
  return list;
}

TEST(DeepCopy, CopiesNamesPayloadsAndNestedListsInOrder) {
  ValueChainPtr original(SampleList());
  const ValueData tail = TextData("tail");
  AppendToList(&original->next, "t", &tail);
  Value* copy = nullptr;
  ASSERT_TRUE(CopyValueChain(original.get(), &copy));
  ValueChainPtr owned(copy);

  EXPECT_EQ(copy->pattern, nullptr);
  EXPECT_EQ(copy->wholeList, 0);
  EXPECT_EQ(copy->data->shared, 0);
  EXPECT_EQ(copy->data->owner, copy);
  const Value* a = copy->elements;
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(TextOf(a), "one");
  EXPECT_NE(a->data->text, original->elements->data->text);  // duplicated, not shared
  const Value* x = a->next;
  EXPECT_STREQ(x->name, "x");
  EXPECT_EQ(x->hash, ComputeNameHash("x"));
  EXPECT_EQ(x->data->integer, 2);
  const Value* nested = x->next;
  ASSERT_NE(nested->elements, nullptr);
  EXPECT_EQ(nested->elements->data->integer, 3);
  EXPECT_NE(nested->elements, original->elements->next->next->elements);
  EXPECT_EQ(nested->next, nullptr);
  ASSERT_NE(copy->next, nullptr);
  EXPECT_STREQ(copy->next->name, "t");
  EXPECT_EQ(TextOf(copy->next), "tail");
}

TEST(DeepCopy, OfNothingIsNothing) {
  Value* copy = FailedValue();
  EXPECT_TRUE(CopyValueChain(nullptr, &copy));
  EXPECT_EQ(copy, nullptr);
}

TEST(DeepCopy, EveryAllocationFailureLeavesNoCopyAndNoLeak) {
  ValueChainPtr original(SampleList());
  bool succeeded = false;
  for (uint64_t failing = 1; !succeeded && failing < 100; ++failing) {
    port::FailAllocationAfter(failing);
    Value* copy = FailedValue();
    succeeded = CopyValueChain(original.get(), &copy);
    port::FailAllocationAfter(0);
    if (!succeeded) {
      EXPECT_EQ(copy, nullptr) << "allocation " << failing;
    }
    FreeValueChain(copy);
  }
  EXPECT_TRUE(succeeded);
}

TEST(DeepCopy, ListsNestedTooDeeplyAreRefused) {
  ValuePtr root(NewValue());
  Value* level = root.get();
  for (int i = 0; i < kMaxListDepth; ++i) {
    level->elements = NewValue();
    level = level->elements;
  }
  Value* copy = FailedValue();
  EXPECT_FALSE(CopyValueChain(root.get(), &copy));  // kMaxListDepth + 1 levels
  EXPECT_EQ(copy, nullptr);
  // One level less, starting below the root: exactly at the bound.
  EXPECT_TRUE(CopyValueChain(root->elements, &copy));
  FreeValueChain(copy);
}

// --- Assignment ----------------------------------------------------------------------------

class Assignment : public RuntimeTest {};

TEST_F(Assignment, CopiesPayloadAndTypeAndLeavesTheElementList) {
  Frame frame = TopFrame();
  ValuePtr destination(NewValue());
  AppendToList(&destination->elements, "kept", nullptr);
  char source[] = "hello";
  const ValueData text = TextData(source);
  ASSERT_TRUE(AssignData(&frame, destination->data, &text));
  source[0] = 'j';  // the destination holds its own copy
  EXPECT_EQ(TextOf(destination.get()), "hello");
  const ValueData number = IntegerData(9);
  ASSERT_TRUE(AssignData(&frame, destination->data, &number));  // the old string is freed
  EXPECT_EQ(destination->data->type, kTypeInteger);
  EXPECT_EQ(destination->data->integer, 9);
  ASSERT_NE(destination->elements, nullptr);
  EXPECT_STREQ(destination->elements->name, "kept");
  EXPECT_TRUE(TakeReports().empty());
}

TEST_F(Assignment, OfAStringToItselfKeepsIt) {
  Frame frame = TopFrame();
  ValuePtr value(NewValue());
  SetTextData(value->data, Duplicate("same"));
  ASSERT_TRUE(AssignData(&frame, value->data, value->data));
  EXPECT_EQ(TextOf(value.get()), "same");
}

TEST_F(Assignment, FailingToCopyTheStringReportsAndLeavesTheDestination) {
  Frame frame = TopFrame();
  frame.position = main_->source;
  ValuePtr destination(NewValue());
  SetTextData(destination->data, Duplicate("old"));
  const ValueData text = TextData("new");
  port::FailAllocationAfter(1);
  EXPECT_FALSE(AssignData(&frame, destination->data, &text));
  port::FailAllocationAfter(0);
  EXPECT_EQ(TextOf(destination.get()), "old");
  EXPECT_EQ(TakeReports(),
            std::vector<std::string>{"### Error: Alloc failed : Keytwine.Keytwine:(1) : x = 1;"});
}

// Script threads assign to the same global while others read it as an assignment source.
// Without the VariableLock a reader could duplicate a string that a writer has just freed
// (ASan reports that), and the final payload could be torn.
TEST_F(Assignment, SharedDataIsAssignedUnderTheEngineLockFromManyThreads) {
  ValuePtr global(NewValue());
  global->data->shared = 1;
  SetTextData(global->data, Duplicate("start"));
  const char* const texts[] = {"alpha", "beta-beta", "gamma-gamma-gamma", "d"};
  constexpr int kRounds = 2000;
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      Frame frame = TopFrame();
      ValuePtr local(NewValue());
      for (int i = 0; i < kRounds; ++i) {
        const ValueData text = TextData(texts[(t + i) % 4]);
        const ValueData number = IntegerData(i);
        EXPECT_TRUE(AssignData(&frame, global->data, i % 3 == 0 ? &number : &text));
        EXPECT_TRUE(AssignData(&frame, local->data, global->data));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::string last = TextOf(global.get());
  bool known = global->data->type == kTypeInteger;
  for (const char* text : texts) known = known || last == text;
  EXPECT_TRUE(known) << last;
}

}  // namespace
}  // namespace keytwine::testing
