// Reading the 500-sheet workbook that bench/runner_bench.sh runs: the part of collection that
// does not depend on the runner.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "examples/workbook_writer.hpp"
#include "support/xlsx/workbook.hpp"

namespace {

namespace fs = std::filesystem;

// One workbook for all benchmarks of the process, removed at exit.
class BenchWorkbook {
 public:
  BenchWorkbook() {
    path_ = fs::temp_directory_path() / ("tovik_workbook_bench_" + std::to_string(::getpid()) + ".xlsx");
    std::vector<tovik::examples::SheetRows> sheets;
    for (int i = 0; i < 500; ++i)
      sheets.push_back({"case_" + std::to_string(i), {{1, "contains", "assert", "a", "in", "abc"}}});
    tovik::examples::write_workbook(path_, sheets);
  }
  ~BenchWorkbook() {
    std::error_code ec;
    fs::remove(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

const fs::path& workbook() {
  static const BenchWorkbook book;
  return book.path();
}

void BM_ReadWorkbook500(benchmark::State& state) {
  const fs::path& path = workbook();
  for (auto _ : state) {
    tovik::xlsx::Workbook book = tovik::xlsx::read_workbook(path);
    benchmark::DoNotOptimize(book.sheets.data());
  }
  state.SetItemsProcessed(state.iterations() * 500);  // sheets
}
BENCHMARK(BM_ReadWorkbook500)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The workbook part alone: what opening the zip and listing the tabs costs.
void BM_SheetNames500(benchmark::State& state) {
  const fs::path& path = workbook();
  for (auto _ : state) benchmark::DoNotOptimize(tovik::xlsx::sheet_names(path));
}
BENCHMARK(BM_SheetNames500)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
