// The cost of the log path: a library message below the level, and whole lines delivered to
// a handler on the calling thread.
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "AVUtilStubs.h"
#include "KivLoad.h"
#include "KivLog.h"

using namespace kiv;

namespace {

void CallCallback(int ALevel, const char* AFormat, ...) {
  va_list args;
  va_start(args, AFormat);
  AVLogCallback(nullptr, ALevel, AFormat, args);
  va_end(args);
}

struct TBenchLogger {
  TBenchLogger() {
    if (!KivLoader->Load(AVLibraries)) {
      std::fprintf(stderr, "%s\n", KivLoader->LastErrMsg().c_str());
      std::exit(1);
    }
    Logger.SetLogLevel(llInfo);
    Logger.SetTriggerEventInMainThread(false);
    Logger.SetOnLog([this](TComponent*, int32_t, TLogLevel, const std::string& AMsg) {
      Delivered += AMsg.size();
    });
  }
  TKivLogger Logger{nullptr};
  size_t Delivered = 0;
};

TBenchLogger& Bench() {
  static TBenchLogger bench;
  return bench;
}

// The callback alone: the level test happens before any lock or formatting.
void BM_CallbackBelowLevel(benchmark::State& AState) {
  Bench();
  for (auto _ : AState) CallCallback(AV_LOG_DEBUG, "frame %d decoded\n", 42);
}
BENCHMARK(BM_CallbackBelowLevel);

// The same through av_log, as the media library reaches it.
void BM_AvLogBelowLevel(benchmark::State& AState) {
  Bench();
  for (auto _ : AState) av::av_log(nullptr, AV_LOG_DEBUG, "frame %d decoded\n", 42);
}
BENCHMARK(BM_AvLogBelowLevel);

// Whole library lines (all different, so none collapses) to a handler on the calling thread.
void BM_AvLogLinesToHandler(benchmark::State& AState) {
  TBenchLogger& bench = Bench();
  int64_t n = 0;
  for (auto _ : AState) av::av_log(nullptr, AV_LOG_INFO, "frame %lld decoded\n", (long long)++n);
  AState.SetItemsProcessed(AState.iterations());
  benchmark::DoNotOptimize(bench.Delivered);
}
BENCHMARK(BM_AvLogLinesToHandler);

// A component's message to the same handler.
void BM_LogToHandler(benchmark::State& AState) {
  TBenchLogger& bench = Bench();
  const std::string text = "TKivDecoder.Decode(): frame decoded";
  for (auto _ : AState) bench.Logger.Log(nullptr, llError, text);
  AState.SetItemsProcessed(AState.iterations());
}
BENCHMARK(BM_LogToHandler);

}  // namespace

BENCHMARK_MAIN();
