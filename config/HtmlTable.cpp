#include "config/HtmlTable.h"

#include "config/XmlEscape.h"

namespace {

bool IsWildcard(char c) { return c == '*' || c == '@'; }
char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

struct Span {
  std::size_t offset;
  std::size_t length;
};

// Glob matching that only ever extends the latest wildcard: that gives every
// wildcard the shortest run that lets the rest match, in linear passes
// instead of nested backtracking. Appends the span of every "@".
bool MatchSpans(std::string_view pattern, std::string_view text, std::vector<Span>* captures) {
  struct Run {
    std::size_t start;
    std::size_t end;
  };
  std::vector<Run> runs;  // one per wildcard met so far
  std::size_t p = 0, t = 0;
  std::size_t starP = std::string_view::npos;
  while (t < text.size()) {
    if (p < pattern.size() && IsWildcard(pattern[p])) {
      if (p + 1 == pattern.size()) {  // a final wildcard takes the rest
        runs.push_back({t, text.size()});
        t = text.size();
        p = pattern.size();
        break;
      }
      runs.push_back({t, t});
      starP = p++;
    } else if (p < pattern.size() && LowerAscii(pattern[p]) == LowerAscii(text[t])) {
      ++p;
      ++t;
    } else if (starP != std::string_view::npos) {
      Run& latest = runs.back();
      ++latest.end;
      t = latest.end;
      p = starP + 1;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && IsWildcard(pattern[p])) {
    runs.push_back({t, t});
    ++p;
  }
  if (p != pattern.size()) return false;
  if (captures != nullptr) {
    std::size_t wildcard = 0;
    for (char c : pattern) {
      if (!IsWildcard(c)) continue;
      if (c == '@') captures->push_back({runs[wildcard].start, runs[wildcard].end - runs[wildcard].start});
      ++wildcard;
    }
  }
  return true;
}

}  // namespace

void HtmlTable::BeginTable(const std::string& type) {
  text_.clear();
  text_ += "<table type=\"";
  text_ += type;
  text_ += "\" >\n";
  state_ = InTable;
}

void HtmlTable::EndTable() {
  text_ += "</table>\n";
  state_ = OutsideTable;
}

void HtmlTable::BeginRow() {
  text_ += "\t<tr>";
  state_ = InRow;
}

void HtmlTable::EndRow() {
  text_ += "</tr>\n";
  state_ = InTable;
}

void HtmlTable::BeginCell() {
  text_ += "\t<td ";
  state_ = InOpenCell;
}

void HtmlTable::AddCellAttribute(const std::string& name, const std::string& value) {
  text_ += ' ';
  AppendEscapedXml(text_, name, XmlEscapeMode::AttributeValue);
  text_ += "=\"";
  AppendEscapedXml(text_, value, XmlEscapeMode::AttributeValue);
  text_ += "\" ";
}

void HtmlTable::EndCell() {
  text_ += state_ == InOpenCell ? " />\n" : "</td>\n";
  state_ = InRow;
}

void HtmlTable::AddCell(const std::string& text) {
  text_ += "<td>";
  AppendEscapedXml(text_, text, XmlEscapeMode::AttributeValue);
  text_ += "</td>";
}

void HtmlTable::AddCell(unsigned int number) {
  text_ += "<td>";
  text_ += std::to_string(number);
  text_ += "</td>";
}

bool MatchWildcard(std::string_view pattern, std::string_view text, std::vector<std::string>* captures) {
  std::vector<Span> spans;
  if (!MatchSpans(pattern, text, captures != nullptr ? &spans : nullptr)) return false;
  for (const Span& span : spans)
    captures->emplace_back(text.substr(span.offset, std::min(span.length, kMaxWildcardCapture)));
  return true;
}

std::vector<std::string> FindTagged(std::string_view tag, std::string_view text) {
  const std::string pattern = "*<" + std::string(tag) + ">@</" + std::string(tag) + ">*";
  std::vector<std::string> found;
  std::size_t pos = 0;
  std::vector<Span> spans;
  while (pos <= text.size()) {
    spans.clear();
    const std::string_view rest = text.substr(pos);
    if (!MatchSpans(pattern, rest, &spans)) break;
    found.emplace_back(rest.substr(spans[0].offset, std::min(spans[0].length, kMaxWildcardCapture)));
    pos += spans[0].offset + spans[0].length;
  }
  return found;
}

std::vector<std::vector<std::string>> ReadHtmlTable(std::string_view text, std::string_view rowTag,
                                                    std::string_view cellTag) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& row : FindTagged(rowTag, text)) rows.push_back(FindTagged(cellTag, row));
  return rows;
}
