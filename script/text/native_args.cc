#include "script/text/native_args.h"

#include "script/text/text.h"

namespace keytwine {

int32_t ArgToInt(const Value* argument) {
  if (argument == nullptr || argument->data == nullptr) return 0;
  return ToInteger(argument->data);
}

port::Owned<char> ArgToText(const Value* argument) {
  if (argument == nullptr || argument->data == nullptr) return Duplicate("");
  const ValueData* data = argument->data;
  // Null when the copy cannot be made: an empty text in its place would lose the argument unseen.
  return data->type == kTypeString ? Duplicate(data->text) : IntToText(data->integer);
}

port::Owned<char16_t> ArgToWide(const Value* argument) {
  const port::Owned<char> text = ArgToText(argument);
  return text != nullptr ? ToWide(text.get()) : nullptr;
}

}  // namespace keytwine
