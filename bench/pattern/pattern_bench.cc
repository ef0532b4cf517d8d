// Pattern matcher benchmarks.
// - Throughput: ordinary patterns that find nothing (so the whole text is searched) over a text
//   of 1 MB of words, numbers, punctuation and line breaks; reported as bytes per second.
// - Catastrophic patterns, exponential for a plain backtracking search, on n `a`s for n = 1k,
//   10k, 100k; the fitted complexity shows linear growth.
// - Short captures: one match of a short text with captures, the cost of a match's setup.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "script/pattern/pattern.h"

namespace keytwine {
namespace {

const std::string& Text() {
  static const std::string text = [] {
    static const char* const kWords[] = {"the",  "quick", "brown", "fox",      "jumps", "over",
                                         "lazy", "dog",   "key",   "mapping",  "shift", "ctrl",
                                         "exec", "swap",  "hold",  "landscape"};
    std::string t;
    uint32_t seed = 1;
    while (t.size() < (1u << 20)) {
      seed = seed * 1103515245u + 12345u;
      const uint32_t r = seed >> 16;
      switch (r % 10) {
        case 0:
          t += std::to_string(r % 100000);
          break;
        case 1:
          t += ", ";
          continue;
        case 2:
          t += ".\n";
          continue;
        default:
          t += kWords[r % 16];
          break;
      }
      t += ' ';
    }
    t.resize(1u << 20);
    return t;
  }();
  return text;
}

void Throughput(benchmark::State& state, const char* pattern) {
  const std::string& text = Text();
  CompiledPattern* compiled = CompilePattern(pattern);
  if (compiled == nullptr) {
    state.SkipWithError("pattern did not compile");
    return;
  }
  if (MatchPattern(nullptr, compiled, text.c_str()) != 0) {
    state.SkipWithError("pattern matches: not a full scan");
    FreePattern(compiled);
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(MatchPattern(nullptr, compiled, text.c_str()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
  FreePattern(compiled);
}

BENCHMARK_CAPTURE(Throughput, literal, "mapping keys");
BENCHMARK_CAPTURE(Throughput, alternation, "zebra|quux|yak");
BENCHMARK_CAPTURE(Throughput, digits_dash, "\\d+-\\d+");
BENCHMARK_CAPTURE(Throughput, word_at_word, "\\w+@\\w+\\.com");
BENCHMARK_CAPTURE(Throughput, line_anchored, "^swap\\s+\\d+$");
BENCHMARK_CAPTURE(Throughput, dot_star, "dog.*zebra");
BENCHMARK_CAPTURE(Throughput, captures, "(\\d+)%n%x(\\w+)%w%");
BENCHMARK_CAPTURE(Throughput, class_counts, "[A-Z][a-z]{2,5}[0-9]");

// A configuration's typical match: a short text split by captures, as
// `"%k%=%v%" = "key" + i + "=value" + i` does; reported as matches per second.
void ShortCaptures(benchmark::State& state, const char* pattern) {
  CompiledPattern* compiled = CompilePattern(pattern);
  size_t captured = 0;
  const CaptureSink sink{&captured, [](void* context, const char*, const char*, size_t length) {
                           *static_cast<size_t*>(context) += length;
                         }};
  char texts[100][24];
  for (int i = 0; i < 100; ++i) std::snprintf(texts[i], sizeof texts[i], "key%d=value%d", i, i);
  int i = 0;
  while (state.KeepRunning()) {
    benchmark::DoNotOptimize(MatchPattern(&sink, compiled, texts[i]));
    i = i == 99 ? 0 : i + 1;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  FreePattern(compiled);
}

BENCHMARK_CAPTURE(ShortCaptures, key_value, "%k%=%v%");
BENCHMARK_CAPTURE(ShortCaptures, anchored_class, "^key[0-9]+=%v%$");

void Catastrophic(benchmark::State& state, const char* pattern) {
  const std::string text(static_cast<size_t>(state.range(0)), 'a');
  CompiledPattern* compiled = CompilePattern(pattern);
  for (auto _ : state) {
    benchmark::DoNotOptimize(MatchPattern(nullptr, compiled, text.c_str()));
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
  FreePattern(compiled);
}

BENCHMARK_CAPTURE(Catastrophic, alt_star, "(a|a)*b")
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Catastrophic, star_star, "(a*)*b")
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Catastrophic, plus_plus, "(a+)+b")
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace keytwine

BENCHMARK_MAIN();
