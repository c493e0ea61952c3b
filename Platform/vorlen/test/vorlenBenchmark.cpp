#include <vorlenPseudoStream.h>

#include <benchmark/benchmark.h>

static void EnabledRecord(benchmark::State &state)
{
  vorlen::SetSink([](const vorlen::LogRecord &r) { benchmark::DoNotOptimize(r.text.data()); });
  for (auto _ : state)
    vorlen::PseudoStream(0, __FILE__, __LINE__, __PRETTY_FUNCTION__)("Bench") << "value " << 42 << " " << 0.5;
  vorlen::SetSink(vorlen::LogSink());
}
BENCHMARK(EnabledRecord);

static void DisabledRecord(benchmark::State &state)
{
  bool verbose = false;
  benchmark::DoNotOptimize(verbose);
  for (auto _ : state)
    vorlen::PseudoStream(0, __FILE__, __LINE__, __PRETTY_FUNCTION__)(verbose) << "value " << 42 << " " << 0.5;
}
BENCHMARK(DisabledRecord);

BENCHMARK_MAIN();
