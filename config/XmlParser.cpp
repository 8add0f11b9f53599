#include "config/XmlParser.h"

#include "config/XmlEscape.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <unordered_map>
#include <vector>

namespace {

constexpr std::size_t npos = std::string_view::npos;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
// What may follow the name in the end-tag search: white space, "/" or ">".
bool IsTagDelimiter(char c) { return IsSpace(c) || c == '/' || c == '>'; }
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// A name as a polynomial hash of its upper-cased bytes (modulo 2^61 - 1)
// and its length. Keys of different names are taken to differ; the
// chance that two names of a text share one is about the text's length in
// 2^61.
struct NameKey {
  std::uint64_t hash;
  std::size_t size;
  bool operator<(const NameKey& other) const { return hash != other.hash ? hash < other.hash : size < other.size; }
};
constexpr std::uint64_t kHashModulus = (std::uint64_t{1} << 61) - 1;
constexpr std::uint64_t kHashBase = 1000003;
// hash(c + rest) from hash(rest): the hash of text[i, end) is the sum of
// byte(i + j) * base^j, so keys of every suffix of a run come in one pass
// from its end.
std::uint64_t PrependByte(std::uint64_t hash, char c) {
  const unsigned __int128 product = static_cast<unsigned __int128>(hash) * kHashBase;
  std::uint64_t value = static_cast<std::uint64_t>(product & kHashModulus) + static_cast<std::uint64_t>(product >> 61);
  value += static_cast<unsigned char>(UpperAscii(c)) + 1u;
  while (value >= kHashModulus) value -= kHashModulus;
  return value;
}
std::uint64_t MultiplyModulo(std::uint64_t a, std::uint64_t b) {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  std::uint64_t value = static_cast<std::uint64_t>(product & kHashModulus) + static_cast<std::uint64_t>(product >> 61);
  while (value >= kHashModulus) value -= kHashModulus;
  return value;
}
// Names up to this long are compared byte by byte; longer ones by key.
constexpr std::size_t kShortName = 64;

struct ParseError {
  const char* text;
  std::size_t position;
};

// Every search is bounded by the end of the content being parsed (the start
// of its element's end tag), as if the text were cut there.
class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  // Throws ParseError, or std::bad_alloc when memory runs out.
  void Run(XmlNode* document);
  std::size_t Current() const { return current_; }

 private:
  struct Frame {
    XmlNode* parent;
    std::size_t limit;   // end of this content
    std::size_t resume;  // where parsing goes on once the content is done
    std::size_t cdata;   // index into cdata_ once the content held CDATA, else npos
  };
  // The value of an element whose content holds CDATA, kept here while it
  // grows and set once its content is done: setting it into the node at
  // every section would re-encode all of it each time. The node's value
  // would be normalized + tail; raw is character data since the last
  // section, in file form.
  struct CdataText {
    std::string normalized;  // carriage returns already made line feeds
    std::string tail;        // appended since, not yet normalized
    std::string raw;
  };

  std::size_t Find(char c, std::size_t from, std::size_t limit) const;
  std::size_t Find(std::string_view what, std::size_t from, std::size_t limit) const;
  bool StartsWith(std::size_t pos, std::string_view what, std::size_t limit) const;
  bool NameAt(std::size_t pos, std::string_view name, std::size_t limit) const;
  std::size_t NameEnd(std::size_t from, std::size_t end) const;
  void AppendText(Frame& frame, std::string_view text);
  void AppendCdata(Frame& frame, std::string_view section);
  void FinishContent(const Frame& frame);
  std::size_t ParseConstruct(std::size_t lt, std::vector<Frame>& frames);
  std::size_t ParseElement(std::size_t lt, std::vector<Frame>& frames);
  void ParseAttributes(XmlNode* node, std::size_t pos, std::size_t end);
  std::size_t FindEndTag(std::string_view name, std::size_t from, std::size_t limit);
  std::string_view Segment(std::size_t pos) const;
  struct Tags {
    const std::size_t* begin;
    const std::size_t* end;
  };
  Tags TagsNamed(std::string_view segment);
  void BuildIndex();

  std::string_view text_;
  std::size_t current_ = 0;  // start of the construct being parsed
  // End tags of nested same-name elements met while searching for an outer
  // end tag, by the position of their start tag; keeps deep same-name
  // nesting linear.
  std::unordered_map<std::size_t, std::size_t> endTags_;
  // Every "<" of the text by the first part of the name that follows it
  // (after "</" for end tags), up to white space, "/" or ">". An end-tag
  // search visits only the tags that can match, which keeps deep nesting of
  // different names from turning quadratic. Built on first use.
  // Keys stand for the names: the names of a run of "<" without white space
  // overlap, and hashing each would take the square of the run. Sorted by
  // key, then by position; tagPositions_ runs alongside.
  bool indexed_ = false;
  std::vector<NameKey> tagKeys_;
  std::vector<std::size_t> tagPositions_;
  std::vector<CdataText> cdata_;
};

std::string_view Parser::Segment(std::size_t pos) const {
  std::size_t end = pos;
  while (end < text_.size() && !IsTagDelimiter(text_[end])) ++end;
  return text_.substr(pos, end - pos);
}

void Parser::BuildIndex() {
  indexed_ = true;
  // (name start, "<") in ascending order: the name follows "<", or "</".
  std::vector<std::pair<std::size_t, std::size_t>> starts;
  for (std::size_t lt = Find('<', 0, text_.size()); lt != npos; lt = Find('<', lt + 1, text_.size()))
    starts.emplace_back(lt + 1 < text_.size() && text_[lt + 1] == '/' ? lt + 2 : lt + 1, lt);
  struct Entry {
    NameKey key;
    std::size_t lt;
  };
  std::vector<Entry> entries;
  entries.reserve(starts.size());
  // One pass from the end: the key of the run from i to the next delimiter.
  std::uint64_t hash = 0;
  std::size_t runEnd = text_.size();
  auto next = starts.rbegin();
  for (std::size_t i = text_.size(); i-- > 0 && next != starts.rend();) {
    while (next != starts.rend() && next->first > i) ++next;  // at the end of the text: no name
    if (IsTagDelimiter(text_[i])) {
      hash = 0;
      runEnd = i;
    } else {
      hash = PrependByte(hash, text_[i]);
    }
    if (next != starts.rend() && next->first == i) {
      if (runEnd > i) entries.push_back(Entry{NameKey{hash, runEnd - i}, next->second});
      ++next;
    }
  }
  // Names holding "/" ("a/1"): a tag is also filed under each of its names
  // that ends before a later "/" or ends its tag name, up to a "<". Under
  // the part before the first "/" alone, nested elements named "a/1",
  // "a/2", ... would each search through all of the others. The parts up
  // to a "<" never overlap, so this stays linear.
  for (const auto& [nameStart, lt] : starts) {
    if (nameStart >= text_.size() || text_[nameStart] == '/') continue;
    std::uint64_t prefix = 0;
    std::uint64_t power = 1;
    bool slash = false;
    std::size_t j = nameStart;
    for (; j < text_.size() && !IsSpace(text_[j]) && text_[j] != '>' && text_[j] != '<'; ++j) {
      if (text_[j] == '/') {
        if (slash) entries.push_back(Entry{NameKey{prefix, j - nameStart}, lt});
        slash = true;
      }
      prefix = (prefix + MultiplyModulo(static_cast<unsigned char>(UpperAscii(text_[j])) + 1u, power)) % kHashModulus;
      power = MultiplyModulo(power, kHashBase);
    }
    if (slash && (j == text_.size() || text_[j] != '<')) entries.push_back(Entry{NameKey{prefix, j - nameStart}, lt});
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.key < b.key || (!(b.key < a.key) && a.lt < b.lt);
  });
  tagKeys_.reserve(entries.size());
  tagPositions_.reserve(entries.size());
  for (const Entry& entry : entries) {
    tagKeys_.push_back(entry.key);
    tagPositions_.push_back(entry.lt);
  }
}

Parser::Tags Parser::TagsNamed(std::string_view segment) {
  if (!indexed_) BuildIndex();
  std::uint64_t hash = 0;
  for (std::size_t i = segment.size(); i-- > 0;) hash = PrependByte(hash, segment[i]);
  const auto range = std::equal_range(tagKeys_.begin(), tagKeys_.end(), NameKey{hash, segment.size()});
  const std::size_t* base = tagPositions_.data();
  return Tags{base + (range.first - tagKeys_.begin()), base + (range.second - tagKeys_.begin())};
}

std::size_t Parser::Find(char c, std::size_t from, std::size_t limit) const {
  if (from >= limit) return npos;
  const void* hit = std::memchr(text_.data() + from, c, limit - from);
  return hit == nullptr ? npos : static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data());
}

std::size_t Parser::Find(std::string_view what, std::size_t from, std::size_t limit) const {
  if (from > limit) return npos;
  return text_.substr(0, limit).find(what, from);
}

bool Parser::StartsWith(std::size_t pos, std::string_view what, std::size_t limit) const {
  return pos <= limit && limit - pos >= what.size() && text_.compare(pos, what.size(), what) == 0;
}

// The name at pos, ignoring case, followed by a delimiter inside the limit.
bool Parser::NameAt(std::size_t pos, std::string_view name, std::size_t limit) const {
  if (pos > limit || limit - pos <= name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (UpperAscii(text_[pos + i]) != UpperAscii(name[i])) return false;
  return IsTagDelimiter(text_[pos + name.size()]);
}

std::size_t Parser::NameEnd(std::size_t from, std::size_t end) const {
  while (from < end && !IsSpace(text_[from])) ++from;
  return from;
}

void Parser::Run(XmlNode* document) {
  std::vector<Frame> frames{{document, text_.size(), text_.size(), npos}};
  std::size_t pos = 0;
  while (true) {
    Frame& frame = frames.back();
    if (pos >= frame.limit) {
      FinishContent(frame);
      if (frames.size() == 1) break;
      pos = frame.resume;
      frames.pop_back();
      continue;
    }
    const std::size_t lt = Find('<', pos, frame.limit);
    const std::size_t textEnd = lt == npos ? frame.limit : lt;
    if (textEnd > pos) AppendText(frame, text_.substr(pos, textEnd - pos));
    pos = lt == npos ? frame.limit : ParseConstruct(lt, frames);
  }
}

void Parser::AppendText(Frame& frame, std::string_view text) {
  if (frame.cdata == npos)
    frame.parent->AppendText(text);
  else
    cdata_[frame.cdata].raw.append(text);
}

// The value grows as if each section were appended to the node's decoded
// value and the text re-encoded from it: re-encoding turns carriage returns
// into line feeds, so what stood before a section that follows character
// data is normalized; sections that follow each other directly are not.
void Parser::AppendCdata(Frame& frame, std::string_view section) {
  if (frame.cdata == npos) {
    frame.cdata = cdata_.size();
    cdata_.push_back(CdataText{std::string(), frame.parent->Value(), std::string()});
  } else {
    CdataText& value = cdata_[frame.cdata];
    if (!value.raw.empty()) {
      value.normalized += UnescapeXml(EscapeXml(value.tail, XmlEscapeMode::ElementText));
      value.tail = UnescapeXml(value.raw);
      value.raw.clear();
    }
  }
  cdata_[frame.cdata].tail.append(section);
}

void Parser::FinishContent(const Frame& frame) {
  if (frame.cdata == npos) return;
  CdataText& value = cdata_[frame.cdata];
  value.normalized += value.tail;
  frame.parent->SetValue(std::move(value.normalized));
  frame.parent->Text();  // re-encodes the text from the value
  frame.parent->SetCdata(true);
  frame.parent->AppendText(value.raw);
}

// Parses the markup at lt into the innermost content and returns where
// parsing goes on.
std::size_t Parser::ParseConstruct(std::size_t lt, std::vector<Frame>& frames) {
  XmlNode* parent = frames.back().parent;
  const std::size_t limit = frames.back().limit;
  current_ = lt;

  if (StartsWith(lt, "<!--", limit)) {
    const std::size_t end = Find("-->", lt + 4, limit);
    if (end == npos) throw ParseError{"End of comment not found", lt};
    AddChild(parent, new XmlNode(XmlKind::Comment, std::string(), std::string(text_.substr(lt + 4, end - lt - 4))));
    return end + 3;
  }

  if (StartsWith(lt, "<?", limit)) {
    const std::size_t end = Find("?>", lt + 2, limit);
    if (end == npos) throw ParseError{"End of processing instructions not found", lt};
    const std::size_t nameEnd = NameEnd(lt + 2, end);
    if (nameEnd == lt + 2) throw ParseError{"Empty Name", lt};
    XmlNode* node = new XmlNode(XmlKind::ProcessingInstruction, std::string(text_.substr(lt + 2, nameEnd - lt - 2)));
    AddChild(parent, node);
    ParseAttributes(node, nameEnd, end);
    return end + 2;
  }

  if (StartsWith(lt, "<![CDATA[", limit)) {
    const std::size_t end = Find("]]>", lt + 9, limit);
    if (end == npos) throw ParseError{"End of CDATA block not found", lt};
    AppendCdata(frames.back(), text_.substr(lt + 9, end - lt - 9));
    return end + 3;
  }

  if (StartsWith(lt, "<!", limit)) {
    int depth = 1;
    std::size_t i = lt + 2;
    for (; i < limit; ++i) {
      if (text_[i] == '<') ++depth;
      if (text_[i] == '>' && --depth == 0) break;
    }
    if (i >= limit) throw ParseError{"End of DTD not found", lt};
    AddChild(parent, new XmlNode(XmlKind::RawMarkup, std::string(), std::string(text_.substr(lt, i + 1 - lt))));
    return i + 1;
  }

  return ParseElement(lt, frames);
}

std::size_t Parser::ParseElement(std::size_t lt, std::vector<Frame>& frames) {
  XmlNode* parent = frames.back().parent;
  const std::size_t limit = frames.back().limit;

  const std::size_t gt = Find('>', lt + 1, limit);
  if (gt == npos) throw ParseError{"End of element tag not found", lt};
  const bool empty = gt > lt + 1 && text_[gt - 1] == '/';
  const std::size_t tagEnd = empty ? gt - 1 : gt;
  const std::size_t nameEnd = NameEnd(lt + 1, tagEnd);
  if (nameEnd == lt + 1) throw ParseError{"Empty Name", lt};
  const std::string_view name = text_.substr(lt + 1, nameEnd - lt - 1);

  XmlNode* element = new XmlNode(XmlKind::Element, std::string(name));
  AddChild(parent, element);
  ParseAttributes(element, nameEnd, tagEnd);
  if (empty) return gt + 1;

  current_ = lt;
  std::size_t endTag = npos;
  const auto known = endTags_.find(lt);
  // A result found under a wider limit holds when the whole "</name" and its
  // delimiter lie inside this one.
  if (known != endTags_.end() && known->second + 2 + name.size() < limit)
    endTag = known->second;
  else
    endTag = FindEndTag(name, gt + 1, limit);
  if (endTag == npos) throw ParseError{"End tag not found", lt};
  const std::size_t endGt = Find('>', endTag, limit);
  if (endGt == npos) throw ParseError{"End tag malformed", endTag};
  frames.push_back({element, endTag, endGt + 1, npos});
  return gt + 1;
}

void Parser::ParseAttributes(XmlNode* node, std::size_t pos, std::size_t end) {
  while (true) {
    while (pos < end && IsSpace(text_[pos])) ++pos;
    if (pos >= end) return;
    if (text_[pos] == '=') throw ParseError{"Empty attribute name", pos};
    const std::size_t nameStart = pos;
    while (pos < end && text_[pos] != '=' && !IsSpace(text_[pos])) ++pos;
    const std::string_view name = text_.substr(nameStart, pos - nameStart);
    while (pos < end && IsSpace(text_[pos])) ++pos;
    if (pos >= end || text_[pos] != '=') throw ParseError{"Attibute missing value (no '=')", nameStart};
    ++pos;
    while (pos < end && IsSpace(text_[pos])) ++pos;

    std::string_view value;
    if (pos < end && (text_[pos] == '"' || text_[pos] == '\'')) {
      const std::size_t close = Find(text_[pos], pos + 1, end);
      if (close == npos) throw ParseError{"Attribute value not terminated", pos};
      value = text_.substr(pos + 1, close - pos - 1);
      pos = close + 1;
    } else {
      const std::size_t valueStart = pos;
      while (pos < end && !IsSpace(text_[pos])) ++pos;
      value = text_.substr(valueStart, pos - valueStart);
    }

    XmlNode* attribute = nullptr;
    try {
      attribute = new XmlNode(XmlKind::Attribute, std::string(name));
      attribute->SetText(std::string(value));
      AddChild(node, attribute);
    } catch (const std::bad_alloc&) {
      delete attribute;
      throw ParseError{"Out of memory for attribute", nameStart};
    }
  }
}

// The start of the end tag of an element named name whose content begins at
// from: the first "</name" that no nested "<name" (one not closed by "/>")
// claims. Nested same-name elements nest like brackets, so a depth count
// does what a search per nested element would.
std::size_t Parser::FindEndTag(std::string_view name, std::size_t from, std::size_t limit) {
  // Names starting with "/" have no index entry; they scan the text.
  std::string_view segment = Segment(static_cast<std::size_t>(name.data() - text_.data()));
  // A name holding "/" but no "<" has tags filed under it whole.
  if (!segment.empty() && segment.size() < name.size() && name.find('<') == std::string_view::npos) segment = name;
  const bool indexed = !segment.empty();
  Tags tags{nullptr, nullptr};
  if (indexed) {
    tags = TagsNamed(segment);
    if (tags.begin == tags.end) return npos;
    tags.begin = std::lower_bound(tags.begin, tags.end, from);
  }
  // A long name that is all one key: every tag of the list holds it, ended
  // by a delimiter or the end of the text, so only the limit is left to
  // check, which keeps long names from costing their length at every tag.
  const bool byKey = indexed && segment.size() == name.size() && name.size() > kShortName;
  auto endTagAt = [&](std::size_t lt) { return byKey ? lt + 2 + name.size() < limit : NameAt(lt + 2, name, limit); };
  auto startTagAt = [&](std::size_t lt) {
    return byKey ? text_[lt + 1] != '/' && lt + 1 + name.size() < limit : NameAt(lt + 1, name, limit);
  };

  std::vector<std::size_t> open;  // nested start tags, npos when not worth remembering
  std::size_t pos = from;
  while (true) {
    std::size_t lt = npos;
    if (!indexed) {
      lt = Find('<', pos, limit);
    } else {
      while (tags.begin != tags.end && *tags.begin < pos) ++tags.begin;
      if (tags.begin != tags.end && *tags.begin < limit) lt = *tags.begin++;
    }
    if (lt == npos) return npos;
    if (lt + 1 < limit && text_[lt + 1] == '/' && endTagAt(lt)) {
      if (open.empty()) return lt;
      if (open.back() != npos) endTags_[open.back()] = lt;
      open.pop_back();
      pos = lt + 2 + name.size();
      continue;
    }
    if (startTagAt(lt)) {
      const std::size_t gt = Find('>', lt + 1 + name.size(), limit);
      if (gt == npos) return npos;
      pos = gt + 1;
      if (text_[gt - 1] == '/') continue;  // an empty element
      // After "/" the nested element's own name is longer, so its end tag
      // follows another rule: do not remember it.
      const char delimiter = text_[lt + 1 + name.size()];
      open.push_back(delimiter == '/' ? npos : lt);
      continue;
    }
    pos = lt + 1;
  }
}

// Fills in the decoded values, so that a parsed tree is only read from now on.
void DecodeAll(const XmlNode* root) {
  std::vector<const XmlNode*> pending{root};
  while (!pending.empty()) {
    const XmlNode* node = pending.back();
    pending.pop_back();
    node->Value();
    for (const XmlNode* attribute : node->Attributes()) attribute->Value();
    pending.insert(pending.end(), node->Children().begin(), node->Children().end());
  }
}

}  // namespace

int ParseXml(std::string_view text, XmlNode** document, std::string* error, std::size_t* position) {
  XmlNode* local = nullptr;
  XmlNode*& target = document != nullptr ? *document : local;
  Parser parser(text);
  const char* failure = nullptr;
  std::size_t failedAt = 0;
  try {
    if (target == nullptr) target = new XmlNode(XmlKind::Document);
    parser.Run(target);
    DecodeAll(target);
  } catch (const ParseError& e) {
    failure = e.text;
    failedAt = e.position;
  } catch (const std::bad_alloc&) {
    failure = "Out of memory";
    failedAt = parser.Current();
  }
  if (failure == nullptr) {
    if (document == nullptr) delete local;
    return 0;
  }
  delete target;
  target = nullptr;
  if (error != nullptr) *error = failure;
  if (position != nullptr) *position = failedAt;
  return 1;
}

int ParseXml(const char* text, XmlNode** document, std::string* error, std::size_t* position) {
  return ParseXml(text == nullptr ? std::string_view() : std::string_view(text), document, error, position);
}
