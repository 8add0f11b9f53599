// The provider's own XML parser on shapes that a search per "<", per name
// or per CDATA section would make quadratic. Each shape runs at sizes from
// 64 KB to 4 MB; the complexity fit (BigO, RMS) should say N for every one.
//
//   xml-parser-bench [benchmark flags]
#include "config/XmlParser.h"

#include <benchmark/benchmark.h>

#include <functional>
#include <string>

namespace {

std::string Repeat(const std::string& piece, std::size_t bytes) {
  std::string out;
  out.reserve(bytes + piece.size());
  while (out.size() < bytes) out += piece;
  return out;
}

// Each shape builds a text of about `bytes` bytes.
const struct {
  const char* name;
  std::function<std::string(std::size_t)> make;
} kShapes[] = {
    {"run_of_lt", [](std::size_t b) { return Repeat("<b", b) + ">"; }},
    {"run_of_lt_in_content", [](std::size_t b) { return "<a>" + Repeat("<b", b) + "</a>"; }},
    {"name_of_lt_over_content", [](std::size_t b) { return "<" + Repeat("a<", b / 2) + ">" + Repeat("<a", b / 2); }},
    {"run_of_amp", [](std::size_t b) { return "<a v='" + Repeat("&", b / 2) + "'>" + Repeat("&", b / 2) + "</a>"; }},
    {"long_names", [](std::size_t b) {
       const std::string name(b / 4, 'n');
       return "<" + name + "><" + name + "/></" + name + ">";
     }},
    {"long_attribute_list", [](std::size_t b) { return "<a" + Repeat(" x='1'", b) + "/>"; }},
    {"cdata_run", [](std::size_t b) { return "<a>" + Repeat("t\r<![CDATA[c]]>", b) + "</a>"; }},
    {"nested_names_holding_slash", [](std::size_t b) {
       std::string open, close;
       for (std::size_t i = 0; open.size() < b / 2; ++i) {
         open += "<a/" + std::to_string(i) + ">";
         close = "</a/" + std::to_string(i) + ">" + close;
       }
       return open + close;
     }},
    {"nested_distinct", [](std::size_t b) {
       std::string open, close;
       for (std::size_t i = 0; open.size() < b / 2; ++i) {
         open += "<e" + std::to_string(i) + ">";
         close = "</e" + std::to_string(i) + ">" + close;
       }
       return open + close;
     }},
};

void Parse(benchmark::State& state, std::size_t shape) {
  const std::string text = kShapes[shape].make(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    XmlNode* document = nullptr;
    benchmark::DoNotOptimize(ParseXml(text, &document, nullptr, nullptr));
    delete document;
  }
  state.SetComplexityN(static_cast<benchmark::IterationCount>(text.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

const bool kRegistered = [] {
  for (std::size_t i = 0; i < sizeof kShapes / sizeof kShapes[0]; ++i)
    benchmark::RegisterBenchmark((std::string("parse/") + kShapes[i].name).c_str(), Parse, i)
        ->RangeMultiplier(4)
        ->Range(64 << 10, 4 << 20)
        ->Unit(benchmark::kMillisecond)
        ->Complexity(benchmark::oN);
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
