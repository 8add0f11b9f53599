// The HTML table reader and the wildcard matcher behind it, against models
// written here from their rules, and tables written by HtmlTable read back.
// The first byte picks the mode.
#include "config/HtmlTable.h"
#include "config/XmlEscape.h"
#include "support/FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsWildcard(char c) { return c == '*' || c == '@'; }

// Wildcard matching by dynamic programming: every wildcard takes the
// shortest run that lets the rest match, the leftmost wildcard first.
struct ModelMatcher {
  ModelMatcher(std::string_view pattern, std::string_view text)
      : p(pattern), t(text), table((p.size() + 1) * (t.size() + 1), 0) {
    // table[i][j]: pattern from i matches text from j.
    Set(p.size(), t.size(), true);
    for (std::size_t i = p.size(); i-- > 0;)
      for (std::size_t j = t.size() + 1; j-- > 0;) {
        bool match;
        if (IsWildcard(p[i]))
          match = Get(i + 1, j) || (j < t.size() && Get(i, j + 1));
        else
          match = j < t.size() && Lower(p[i]) == Lower(t[j]) && Get(i + 1, j + 1);
        Set(i, j, match);
      }
  }

  bool Matches() const { return Get(0, 0); }

  std::vector<std::string> Captures() const {
    std::vector<std::string> captures;
    std::size_t j = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
      if (!IsWildcard(p[i])) {
        ++j;
        continue;
      }
      std::size_t k = j;
      while (!Get(i + 1, k)) ++k;
      if (p[i] == '@') captures.emplace_back(t.substr(j, std::min(k - j, kMaxWildcardCapture)));
      j = k;
    }
    return captures;
  }

  bool Get(std::size_t i, std::size_t j) const { return table[i * (t.size() + 1) + j] != 0; }
  void Set(std::size_t i, std::size_t j, bool v) { table[i * (t.size() + 1) + j] = v ? 1 : 0; }

  std::string_view p, t;
  std::vector<unsigned char> table;
};

std::size_t FindNoCase(std::string_view text, std::string_view what, std::size_t from) {
  for (std::size_t i = from; i + what.size() <= text.size(); ++i) {
    std::size_t k = 0;
    while (k < what.size() && Lower(text[i + k]) == Lower(what[k])) ++k;
    if (k == what.size()) return i;
  }
  return std::string_view::npos;
}

// The first "<tag>", the first "</tag>" after it, and on from there.
std::vector<std::string> ModelFindTagged(std::string_view tag, std::string_view text) {
  const std::string open = "<" + std::string(tag) + ">";
  const std::string close = "</" + std::string(tag) + ">";
  std::vector<std::string> found;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t start = FindNoCase(text, open, pos);
    if (start == std::string_view::npos) break;
    const std::size_t end = FindNoCase(text, close, start + open.size());
    if (end == std::string_view::npos) break;
    const std::size_t from = start + open.size();
    found.emplace_back(text.substr(from, std::min(end - from, kMaxWildcardCapture)));
    pos = end;
  }
  return found;
}

void ReadTables(FuzzedDataProvider& provider) {
  std::string tag = provider.ConsumeBool() ? provider.ConsumeRandomLengthString(8) : "tr";
  const std::string text = provider.ConsumeRemainingBytesAsString();
  std::vector<std::vector<std::string>> rows = ReadHtmlTable(text, tag, "td");
  if (tag.find_first_of("*@") != std::string::npos) return;  // wildcards in the tag change the pattern
  const std::vector<std::string> expected = ModelFindTagged(tag, text);
  FUZZ_CHECK_DETAIL(rows.size() == expected.size(), "text " + Printable(text));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    FUZZ_CHECK_DETAIL(rows[i] == ModelFindTagged("td", expected[i]), "row " + Printable(expected[i]));
    for (const std::string& cell : rows[i]) FUZZ_CHECK(cell.size() <= kMaxWildcardCapture);
  }
}

void MatchPatterns(FuzzedDataProvider& provider) {
  const std::string pattern = provider.ConsumeRandomLengthString(48);
  const std::string text = provider.ConsumeRandomLengthString(2048);
  std::vector<std::string> captures{"kept"};
  const bool matched = MatchWildcard(pattern, text, &captures);
  FUZZ_CHECK(MatchWildcard(pattern, text, nullptr) == matched);
  const ModelMatcher model(pattern, text);
  FUZZ_CHECK_DETAIL(matched == model.Matches(), "pattern " + Printable(pattern) + " text " + Printable(text));
  FUZZ_CHECK(!captures.empty() && captures[0] == "kept");
  captures.erase(captures.begin());
  if (!matched) {
    FUZZ_CHECK(captures.empty());
    return;
  }
  FUZZ_CHECK_DETAIL(captures == model.Captures(), "pattern " + Printable(pattern) + " text " + Printable(text));
}

std::string Show(const std::vector<std::vector<std::string>>& rows) {
  std::string out;
  for (const auto& row : rows) {
    out += "[";
    for (const std::string& cell : row) out += "\"" + Printable(cell, 60) + "\" ";
    out += "] ";
  }
  return out;
}

void WriteAndRead(FuzzedDataProvider& provider) {
  HtmlTable table;
  table.BeginTable("fuzz");
  std::vector<std::vector<std::string>> expected;
  const int rows = provider.ConsumeIntegralInRange(0, 8);
  for (int r = 0; r < rows; ++r) {
    table.BeginRow();
    const std::size_t rowStart = table.GetLength();
    expected.emplace_back();
    const int cells = provider.ConsumeIntegralInRange(0, 6);
    for (int c = 0; c < cells; ++c) {
      switch (provider.ConsumeIntegralInRange(0, 2)) {
        case 0: {
          const std::string text = provider.ConsumeRandomLengthString(1200);
          table.AddCell(text);
          const std::string escaped = EscapeXml(text, XmlEscapeMode::AttributeValue);
          expected.back().push_back(escaped.substr(0, kMaxWildcardCapture));
          break;
        }
        case 1: {
          const unsigned number = provider.ConsumeIntegral<unsigned>();
          table.AddCell(number);
          expected.back().push_back(std::to_string(number));
          break;
        }
        default: {
          // Cells with attributes are not read back.
          table.BeginCell();
          const int attributes = provider.ConsumeIntegralInRange(0, 3);
          for (int a = 0; a < attributes; ++a)
            table.AddCellAttribute(provider.ConsumeRandomLengthString(16), provider.ConsumeRandomLengthString(64));
          FUZZ_CHECK(table.GetState() == HtmlTable::InOpenCell);
          table.EndCell();
          break;
        }
      }
    }
    // A row is read as one capture, cut to 999 bytes: cells past the cut
    // are lost or cut themselves.
    const std::string rowText = table.GetText().substr(rowStart);
    if (rowText.size() > kMaxWildcardCapture)
      expected.back() = ModelFindTagged("td", std::string_view(rowText).substr(0, kMaxWildcardCapture));
    table.EndRow();
  }
  table.EndTable();
  FUZZ_CHECK(table.GetState() == HtmlTable::OutsideTable);
  FUZZ_CHECK(table.GetLength() == table.GetText().size());
  const std::vector<std::vector<std::string>> read = ReadHtmlTable(table.GetText());
  FUZZ_CHECK_DETAIL(read == expected, "table " + Printable(table.GetText(), 2000) + "\nread " + Show(read) +
                                          "\nexpected " + Show(expected));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  FuzzedDataProvider provider(data + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      ReadTables(provider);
      break;
    case 1:
      MatchPatterns(provider);
      break;
    default:
      WriteAndRead(provider);
      break;
  }
  return 0;
}
