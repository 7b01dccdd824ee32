// JSONPath: the input up to its first newline is the expression, the rest the JSON document
// (a fixed sample when there is no newline or the rest is not JSON). Refusals must be tovik
// errors; any other exception, a crash or a hang is a finding.
#include "fuzz/fuzz_support.hpp"
#include "support/base/errors.hpp"
#include "support/base/value_json.hpp"
#include "support/jsonpath/jsonpath.hpp"

namespace fz = tovik::fuzz;
using tovik::Value;

namespace {

const Value& sample() {
  static const Value doc = tovik::parse_json(R"({"store": {"book": [
    {"category": "reference", "author": "Nigel Rees", "title": "Sayings", "price": 8.95},
    {"category": "fiction", "author": "Evelyn Waugh", "title": "Sword", "price": 12.99, "isbn": "0-553"},
    {"category": "fiction", "title": "Moby Dick", "price": 8, "tags": ["a", "b", null, true]}],
    "bicycle": {"color": "red", "price": 19.95}, "content-type": "书"},
    "data": [[1, 2, [3, [4]]], {"id": -1, "": 0}], "code": 0})");
  return doc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fz::as_text(data, size);
  const std::size_t newline = input.find('\n');
  const std::string_view expr = input.substr(0, newline);
  Value own;
  const Value* doc = &sample();
  if (newline != std::string_view::npos) {
    try {
      own = tovik::parse_json(input.substr(newline + 1));
      doc = &own;
    } catch (const tovik::Error&) {
    }
  }
  try {
    const auto path = tovik::jsonpath::Path::compile(expr);
    fz::check(path.text() == expr, "a compiled path keeps its text");
    const std::vector<Value> values = path.evaluate(*doc);
    const std::vector<const Value*> nodes = path.select(*doc);
    fz::check(values.size() == nodes.size(), "evaluate() and select() find the same matches");
  } catch (const tovik::Error&) {
  }
  return 0;
}
