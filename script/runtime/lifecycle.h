// The engine's life cycle: the engine-wide state, creating and destroying an engine, running the
// top levels of all loaded scripts, script threads started with "&", and the shutdown handshake
// that stops every script activity before the engine is destroyed.
//
//   InitializeRuntime(natives) -> NewEngine -> LoadScriptFile ... -> RunAllScripts
//   -> WaitForScripts -> DestroyEngine -> ShutdownRuntime
#ifndef KEYTWINE_SCRIPT_RUNTIME_LIFECYCLE_H
#define KEYTWINE_SCRIPT_RUNTIME_LIFECYCLE_H

#include <cstdint>

#include "script/runtime/engine.h"

namespace keytwine {

// Engine-wide initialisation: hands the host's native table to the runtime (filling its hash
// column), and installs the loader's directive handler and the script-thread start.
void InitializeRuntime(NativeEntry* natives, int32_t count);
// Engine-wide shutdown: removes what InitializeRuntime installed.
void ShutdownRuntime();

// Runs the top level of every loaded script in chain order. A script whose top level fails
// stops the run (later scripts do not run); otherwise its top-level variables become its
// globals, shared with script threads.
void RunAllScripts(Script* engine);

// Makes every running script activity stop (loops end at their next iteration, calls unwind)
// and returns when none is left.
void WaitForScripts();

// Frees the engine and everything it owns, last loaded script first; libraries are closed in
// reverse order of loading.
void DestroyEngine(Script* engine);

}  // namespace keytwine

#endif  // KEYTWINE_SCRIPT_RUNTIME_LIFECYCLE_H
