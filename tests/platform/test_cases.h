// The groups of end-to-end checks that the driver runs, in this order.
#ifndef KEYTWINE_TESTS_PLATFORM_TEST_CASES_H
#define KEYTWINE_TESTS_PLATFORM_TEST_CASES_H

#include "tests/platform/test_env.h"

namespace keytwine::wintest {

void RunKeyTests(Env& env);
void RunLaunchTests(Env& env);
void RunStartupDelayTests(Env& env);
void RunSecondStartTests(Env& env);
void RunDebugModeTests(Env& env);
void RunErrorTests(Env& env);
void RunScriptTests(Env& env);
void RunCheckTests(Env& env);

}  // namespace keytwine::wintest

#endif  // KEYTWINE_TESTS_PLATFORM_TEST_CASES_H
