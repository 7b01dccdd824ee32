// One dispatch of a trivial keyword, with its two info lines going to a log file.
#include <benchmark/benchmark.h>

#include <filesystem>

#include <spdlog/sinks/basic_file_sink.h>

#include "core/base_keyword.hpp"
#include "support/base/log.hpp"

namespace {

class Trivial : public tovik::BaseKeyWord {
 public:
  using BaseKeyWord::BaseKeyWord;
  static const tovik::KeywordClass& keyword_class() {
    static const tovik::KeywordClass cls(
        "Trivial", {&BaseKeyWord::keyword_class()},
        {tovik::keyword<Trivial>("noop", &Trivial::key_noop, "\n        关键字：noop\n        什么也不做\n        ", "",
                                 {tovik::required("text", tovik::ParamKind::Text)})});
    return cls;
  }
  const tovik::KeywordClass& klass() const override { return keyword_class(); }
  tovik::Value key_noop(const tovik::Args&) { return tovik::Value(); }
};

void BM_Dispatch(benchmark::State& state) {
  const auto path = std::filesystem::temp_directory_path() / "tovik_dispatch_bench.log";
  auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(path.string(), true);
  tovik::log::set_sinks({sink});
  Trivial kw(std::make_shared<tovik::Exchange>(), tovik::Value(tovik::Dict{}));
  const tovik::List args{tovik::Value("button#submit")};
  for (auto _ : state) {
    benchmark::DoNotOptimize(kw.member("_key_noop")(args));
  }
  tovik::log::set_sinks({});
  std::filesystem::remove(path);
}
BENCHMARK(BM_Dispatch)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
