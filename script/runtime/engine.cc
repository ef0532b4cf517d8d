// Script records: the engine head, the chain of loaded scripts and their release.
#include <cstring>
#include <new>

#include "script/runtime/engine.h"
#include "script/text/text.h"

namespace keytwine {

namespace {

// A zeroed Script record with its lock constructed; null when memory runs out.
Script* NewScriptRecord() {
  void* block = port::AllocZero(sizeof(Script));
  if (block == nullptr) return nullptr;
  return new (block) Script{};
}

void FreeFunctions(FunctionEntry* entry) {
  while (entry != nullptr) {
    FunctionEntry* next = entry->next;
    port::Free(entry->name);
    port::Free(entry);
    entry = next;
  }
}

// Modules are closed in reverse order of loading: a later one may depend on an earlier one.
void FreeLibraries(LibraryEntry* first) {
  LibraryEntry* entry = ReverseChain(first);
  while (entry != nullptr) {
    LibraryEntry* next = entry->next;
    port::CloseLibrary(entry->module);
    port::Free(entry);
    entry = next;
  }
}

void FreeScriptRecord(Script* script, void (*releaseTree)(SyntaxNode* first)) {
  port::Free(script->name);
  port::Free(script->directory);
  port::Free(script->source);
  if (script->topLevel != nullptr && releaseTree != nullptr) releaseTree(script->topLevel);
  FreeValueChain(script->globals);
  FreeFunctions(script->functions);
  FreeLibraries(script->libraries);
  script->~Script();
  port::Free(script);
}

}  // namespace

Script* NewEngine(int32_t optionExplicit) {
  Script* engine = NewScriptRecord();
  if (engine == nullptr) return nullptr;
  engine->engine = engine;
  engine->optionExplicit = optionExplicit;
  return engine;
}

Script* AppendScript(Script* engine) {
  if (engine == nullptr) return nullptr;
  Script* head = engine->engine != nullptr ? engine->engine : engine;
  Script* script = NewScriptRecord();
  if (script == nullptr) return nullptr;
  script->engine = head;
  script->optionExplicit = head->optionExplicit;
  Script* last = head;
  while (last->next != nullptr) last = last->next;
  last->next = script;
  return script;
}

Script* FindScript(Script* engine, const char* name, size_t length) {
  if (engine == nullptr || name == nullptr) return nullptr;
  Script* head = engine->engine != nullptr ? engine->engine : engine;
  for (Script* script = head; script != nullptr; script = script->next) {
    if (script->name != nullptr && std::strlen(script->name) == length &&
        CompareNoCaseN(script->name, name, length) == 0) {
      return script;
    }
  }
  return nullptr;
}

void FreeScriptChain(Script* head, void (*releaseTree)(SyntaxNode* first)) {
  // Last loaded first, the head last; iterative, however many scripts were imported.
  Script* script = ReverseChain(head);
  while (script != nullptr) {
    Script* next = script->next;
    FreeScriptRecord(script, releaseTree);
    script = next;
  }
}

}  // namespace keytwine
