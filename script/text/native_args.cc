#include "script/text/native_args.h"

#include <utility>

#include "script/text/text.h"

namespace keytwine {

int32_t ArgToInt(const Value* argument) {
  if (argument == nullptr || argument->data == nullptr) return 0;
  return ToInteger(argument->data);
}

port::Owned<char> ArgToText(const Value* argument) {
  port::Owned<char> text;
  if (argument != nullptr && argument->data != nullptr) {
    const ValueData* data = argument->data;
    text = data->type == kTypeString ? Duplicate(data->text) : IntToText(data->integer);
  }
  // No value, or its copy could not be made: an empty string.
  return text != nullptr ? std::move(text) : Duplicate("");
}

port::Owned<char16_t> ArgToWide(const Value* argument) {
  const port::Owned<char> text = ArgToText(argument);
  return ToWide(text != nullptr ? text.get() : "");
}

}  // namespace keytwine
