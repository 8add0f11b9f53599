// Small HTML tables of replies, and reading back tables written with them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Appends table markup to its text; texts are escaped with the
// attribute-value rules of the XML library.
class HtmlTable {
 public:
  enum State { OutsideTable = 0, InTable = 1, InRow = 2, InOpenCell = 4 };

  void BeginTable(const std::string& type);  // discards the earlier text
  void EndTable();
  void BeginRow();
  void EndRow();
  // A cell with attributes: BeginCell, any AddCellAttribute, EndCell.
  void BeginCell();
  void AddCellAttribute(const std::string& name, const std::string& value);
  void EndCell();
  // A whole cell with content.
  void AddCell(const std::string& text);
  void AddCell(const char* text) { AddCell(std::string(text == nullptr ? "" : text)); }
  void AddCell(unsigned int number);

  const std::string& GetText() const { return text_; }
  std::size_t GetLength() const { return text_.size(); }
  State GetState() const { return state_; }

 private:
  std::string text_;
  State state_ = OutsideTable;
};

// Longest capture of a wildcard match, in bytes.
constexpr std::size_t kMaxWildcardCapture = 999;

// Matches text against pattern: "*" matches any run of characters (the
// shortest that lets the rest match), "@" the same and captures it, every
// other character itself with ASCII letter case ignored. Captures (cut to
// kMaxWildcardCapture bytes) are appended when captures is given.
bool MatchWildcard(std::string_view pattern, std::string_view text, std::vector<std::string>* captures = nullptr);

// The text of every "<tag>...</tag>" pair, in order (tags without
// attributes only; nothing is unescaped).
std::vector<std::string> FindTagged(std::string_view tag, std::string_view text);

// Rows found with rowTag, each as the list of its cells found with cellTag.
std::vector<std::vector<std::string>> ReadHtmlTable(std::string_view text, std::string_view rowTag = "tr",
                                                    std::string_view cellTag = "td");
