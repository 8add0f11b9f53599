// Times the provider's XPath evaluator (TinyXML documents) against
// libxml2's xmlXPathEval (libxml2 documents) over the same files.
//
//   xpath-bench [benchmark flags] inventory-10k.xml inventory-100k.xml ...
//
// A file's label is its name without the folder, "inventory-" and ".xml".
// Benchmarks are named "eval/<query>/<label>/<engine>" and
// "parse/<label>/<engine>"; documents are parsed once before the
// evaluation benchmarks, so parsing is timed only by the parse ones.
#include "inventory/InventoryFile.h"
#include "inventory/XPathProcessor.h"

#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <tinyxml.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

// Queries whose meaning is the same under both evaluators' semantics.
struct Query {
  const char* id;
  const char* expression;
  bool nodeSet;  // else a number
};

const Query kQueries[] = {
    {"software-list", "/inventory/software/product", true},
    {"disk-list", "/inventory/hardware/disks/disk", true},
    {"count-files", "count(//file)", false},
    {"count-nested", "count(//component/component)", false},
    {"vendor-equals", "//product[@vendor='Microsoft Corporation']", true},
    {"name-contains", "//product[contains(@name,'Office')]", true},
    {"position", "/inventory/software/product[25]", true},
    {"sum-sizes", "sum(//file/@size)", false},
    {"union", "/inventory/hardware/cpu | /inventory/hardware/disks/disk", true},
    {"rare-name", "//license", true},
    {"path-predicate", "/inventory/software/product[@vendor='Adobe Inc.']/file", true},
    {"count-big-files", "count(//file[@size > 100000000])", false},
};

struct Corpus {
  std::string label;
  std::string path;
  TiXmlDocument tiny;
  XPath::DocumentIndex index;  // built on load, as the inventory page does
  xmlDocPtr lib = nullptr;
  xmlXPathContextPtr context = nullptr;
  ~Corpus() {
    if (context != nullptr) xmlXPathFreeContext(context);
    if (lib != nullptr) xmlFreeDoc(lib);
  }
};

const int kLibxmlOptions = XML_PARSE_NOBLANKS;

std::string LabelOf(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  if (name.rfind("inventory-", 0) == 0) name = name.substr(10);
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".xml") == 0) name.resize(name.size() - 4);
  return name;
}

// Our answer and libxml2's must agree, or the comparison means nothing.
bool SameAnswer(Corpus& corpus, const Query& query) {
  XPath::xpath_processor ours(corpus.tiny.RootElement(), query.expression, &corpus.index);
  xmlXPathObjectPtr theirs = xmlXPathEval(BAD_CAST query.expression, corpus.context);
  bool same = false;
  std::string detail;
  if (theirs != nullptr && query.nodeSet) {
    unsigned count = ours.ComputeNodeSet();
    int libCount = theirs->nodesetval != nullptr ? theirs->nodesetval->nodeNr : 0;
    same = static_cast<int>(count) == libCount;
    for (unsigned i = 0; same && i < count; ++i) {
      TiXmlElement* element = ours.GetNode(i) != nullptr ? ours.GetNode(i)->ToElement() : nullptr;
      xmlNodePtr node = theirs->nodesetval->nodeTab[i];
      const char* id = element != nullptr ? element->Attribute("name") : nullptr;
      xmlChar* libId = xmlGetProp(node, BAD_CAST "name");
      same = element != nullptr && std::string(element->Value()) == reinterpret_cast<const char*>(node->name) &&
             (id == nullptr) == (libId == nullptr) &&
             (id == nullptr || std::string(id) == reinterpret_cast<const char*>(libId));
      xmlFree(libId);
    }
    detail = std::to_string(count) + " nodes, libxml2 " + std::to_string(libCount);
  } else if (theirs != nullptr) {
    double number = ours.ComputeNumber();
    double libNumber = xmlXPathCastToNumber(theirs);
    same = number == libNumber;
    detail = std::to_string(number) + ", libxml2 " + std::to_string(libNumber);
  }
  if (theirs != nullptr) xmlXPathFreeObject(theirs);
  // How much of the evaluator's work budget the query used.
  detail += ", work " + std::to_string(ours.GetWork()) + " steps";
  std::fprintf(stderr, "%-16s %-6s %s%s\n", query.id, corpus.label.c_str(), detail.c_str(), same ? "" : "  MISMATCH");
  return same;
}

void EvaluateOurs(benchmark::State& state, Corpus* corpus, const Query* query) {
  TiXmlElement* root = corpus->tiny.RootElement();
  for (auto _ : state) {
    XPath::xpath_processor processor(root, query->expression, &corpus->index);
    if (query->nodeSet) {
      unsigned count = processor.ComputeNodeSet();
      benchmark::DoNotOptimize(count);
    } else {
      std::string text = processor.ComputeString();
      benchmark::DoNotOptimize(text.data());
    }
  }
}

void EvaluateLibxml2(benchmark::State& state, Corpus* corpus, const Query* query) {
  for (auto _ : state) {
    xmlXPathObjectPtr result = xmlXPathEval(BAD_CAST query->expression, corpus->context);
    if (!query->nodeSet) {
      xmlChar* text = xmlXPathCastToString(result);
      benchmark::DoNotOptimize(text);
      xmlFree(text);
    }
    benchmark::DoNotOptimize(result);
    xmlXPathFreeObject(result);
  }
}

void ParseOurs(benchmark::State& state, Corpus* corpus) {
  for (auto _ : state) {
    TiXmlDocument document;
    XPath::DocumentIndex index;
    bool loaded = LoadInventoryFile(document, corpus->path);
    index.Build(document.RootElement());
    benchmark::DoNotOptimize(loaded);
  }
}

void ParseLibxml2(benchmark::State& state, Corpus* corpus) {
  for (auto _ : state) {
    xmlDocPtr document = xmlReadFile(corpus->path.c_str(), nullptr, kLibxmlOptions);
    benchmark::DoNotOptimize(document);
    xmlFreeDoc(document);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  xmlInitParser();
  std::vector<std::unique_ptr<Corpus>> corpora;
  for (int i = 1; i < argc; ++i) {
    auto corpus = std::make_unique<Corpus>();
    corpus->path = argv[i];
    corpus->label = LabelOf(corpus->path);
    if (!LoadInventoryFile(corpus->tiny, corpus->path)) {
      std::fprintf(stderr, "TinyXML cannot load %s: %s\n", argv[i], corpus->tiny.ErrorDesc());
      return 1;
    }
    corpus->index.Build(corpus->tiny.RootElement());
    corpus->lib = xmlReadFile(corpus->path.c_str(), nullptr, kLibxmlOptions);
    if (corpus->lib == nullptr) {
      std::fprintf(stderr, "libxml2 cannot load %s\n", argv[i]);
      return 1;
    }
    corpus->context = xmlXPathNewContext(corpus->lib);
    corpora.push_back(std::move(corpus));
  }
  if (corpora.empty()) {
    std::fprintf(stderr, "usage: %s [benchmark flags] inventory.xml...\n", argv[0]);
    return 2;
  }
  bool agree = true;
  for (auto& corpus : corpora) {
    for (const Query& query : kQueries) agree = SameAnswer(*corpus, query) && agree;
  }
  if (!agree) {
    std::fprintf(stderr, "the evaluators disagree; no timing\n");
    return 1;
  }
  for (auto& corpus : corpora) {
    benchmark::RegisterBenchmark(("parse/" + corpus->label + "/ours").c_str(), ParseOurs, corpus.get())
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("parse/" + corpus->label + "/libxml2").c_str(), ParseLibxml2, corpus.get())
        ->Unit(benchmark::kMicrosecond);
  }
  for (const Query& query : kQueries) {
    for (auto& corpus : corpora) {
      std::string name = std::string("eval/") + query.id + "/" + corpus->label;
      benchmark::RegisterBenchmark((name + "/ours").c_str(), EvaluateOurs, corpus.get(), &query)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark((name + "/libxml2").c_str(), EvaluateLibxml2, corpus.get(), &query)
          ->Unit(benchmark::kMicrosecond);
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  corpora.clear();
  xmlCleanupParser();
  return 0;
}
