#include "support/ModelXmlParser.h"

#include <memory>

namespace {

constexpr std::size_t npos = std::string_view::npos;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool IsDelimiter(char c) { return IsSpace(c) || c == '/' || c == '>'; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

struct Failure {
  const char* text;
  std::size_t position;
};

class Model {
 public:
  explicit Model(std::string_view text) : t_(text) {}

  void Content(XmlNode* parent, std::size_t from, std::size_t limit) {
    std::size_t pos = from;
    while (pos < limit) {
      const std::size_t lt = Find("<", pos, limit);
      if (lt == npos) {
        parent->AppendText(t_.substr(pos, limit - pos));
        return;
      }
      if (lt > pos) parent->AppendText(t_.substr(pos, lt - pos));
      pos = Construct(parent, lt, limit);
    }
  }

 private:
  // The first whole occurrence of what inside [from, limit).
  std::size_t Find(std::string_view what, std::size_t from, std::size_t limit) const {
    for (std::size_t i = from; i + what.size() <= limit; ++i)
      if (t_.compare(i, what.size(), what) == 0) return i;
    return npos;
  }

  bool At(std::size_t pos, std::string_view what, std::size_t limit) const {
    return pos + what.size() <= limit && t_.compare(pos, what.size(), what) == 0;
  }

  // name, any case, then a delimiter, all inside the limit.
  bool NameAt(std::size_t pos, std::string_view name, std::size_t limit) const {
    if (pos + name.size() >= limit) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
      if (Upper(t_[pos + i]) != Upper(name[i])) return false;
    return IsDelimiter(t_[pos + name.size()]);
  }

  std::size_t Construct(XmlNode* parent, std::size_t lt, std::size_t limit) {
    if (At(lt, "<!--", limit)) {
      const std::size_t end = Find("-->", lt + 4, limit);
      if (end == npos) throw Failure{"End of comment not found", lt};
      AddChild(parent, new XmlNode(XmlKind::Comment, "", std::string(t_.substr(lt + 4, end - lt - 4))));
      return end + 3;
    }
    if (At(lt, "<?", limit)) {
      const std::size_t end = Find("?>", lt + 2, limit);
      if (end == npos) throw Failure{"End of processing instructions not found", lt};
      std::size_t nameEnd = lt + 2;
      while (nameEnd < end && !IsSpace(t_[nameEnd])) ++nameEnd;
      if (nameEnd == lt + 2) throw Failure{"Empty Name", lt};
      XmlNode* node = new XmlNode(XmlKind::ProcessingInstruction, std::string(t_.substr(lt + 2, nameEnd - lt - 2)));
      AddChild(parent, node);
      Attributes(node, nameEnd, end);
      return end + 2;
    }
    if (At(lt, "<![CDATA[", limit)) {
      const std::size_t end = Find("]]>", lt + 9, limit);
      if (end == npos) throw Failure{"End of CDATA block not found", lt};
      parent->SetValue(parent->Value() + std::string(t_.substr(lt + 9, end - lt - 9)));
      parent->Text();
      parent->SetCdata(true);
      return end + 3;
    }
    if (At(lt, "<!", limit)) {
      int depth = 1;
      for (std::size_t i = lt + 2; i < limit; ++i) {
        if (t_[i] == '<') ++depth;
        if (t_[i] == '>' && --depth == 0) {
          AddChild(parent, new XmlNode(XmlKind::RawMarkup, "", std::string(t_.substr(lt, i + 1 - lt))));
          return i + 1;
        }
      }
      throw Failure{"End of DTD not found", lt};
    }
    const std::size_t gt = Find(">", lt + 1, limit);
    if (gt == npos) throw Failure{"End of element tag not found", lt};
    const bool empty = gt > lt + 1 && t_[gt - 1] == '/';
    const std::size_t tagEnd = empty ? gt - 1 : gt;
    std::size_t nameEnd = lt + 1;
    while (nameEnd < tagEnd && !IsSpace(t_[nameEnd])) ++nameEnd;
    if (nameEnd == lt + 1) throw Failure{"Empty Name", lt};
    const std::string_view name = t_.substr(lt + 1, nameEnd - lt - 1);
    XmlNode* element = new XmlNode(XmlKind::Element, std::string(name));
    AddChild(parent, element);
    Attributes(element, nameEnd, tagEnd);
    if (empty) return gt + 1;
    const std::size_t endTag = EndTag(name, gt + 1, limit);
    if (endTag == npos) throw Failure{"End tag not found", lt};
    const std::size_t endGt = Find(">", endTag, limit);
    if (endGt == npos) throw Failure{"End tag malformed", endTag};
    Content(element, gt + 1, endTag);
    return endGt + 1;
  }

  std::size_t EndTag(std::string_view name, std::size_t from, std::size_t limit) const {
    std::size_t pos = from;
    for (;;) {
      const std::size_t lt = Find("<", pos, limit);
      if (lt == npos) return npos;
      if (lt + 1 < limit && t_[lt + 1] == '/' && NameAt(lt + 2, name, limit)) return lt;
      if (NameAt(lt + 1, name, limit)) {
        const std::size_t gt = Find(">", lt + 1 + name.size(), limit);
        if (gt == npos) return npos;
        if (t_[gt - 1] == '/') {
          pos = gt + 1;
          continue;
        }
        const std::size_t nested = EndTag(name, gt + 1, limit);
        if (nested == npos) return npos;
        pos = nested + 2 + name.size();
        continue;
      }
      pos = lt + 1;
    }
  }

  void Attributes(XmlNode* node, std::size_t pos, std::size_t end) {
    for (;;) {
      while (pos < end && IsSpace(t_[pos])) ++pos;
      if (pos >= end) return;
      if (t_[pos] == '=') throw Failure{"Empty attribute name", pos};
      const std::size_t nameStart = pos;
      while (pos < end && t_[pos] != '=' && !IsSpace(t_[pos])) ++pos;
      const std::string name(t_.substr(nameStart, pos - nameStart));
      while (pos < end && IsSpace(t_[pos])) ++pos;
      if (pos >= end || t_[pos] != '=') throw Failure{"Attibute missing value (no '=')", nameStart};
      ++pos;
      while (pos < end && IsSpace(t_[pos])) ++pos;
      std::string value;
      if (pos < end && (t_[pos] == '"' || t_[pos] == '\'')) {
        const std::size_t close = Find(std::string_view(&t_[pos], 1), pos + 1, end);
        if (close == npos) throw Failure{"Attribute value not terminated", pos};
        value = std::string(t_.substr(pos + 1, close - pos - 1));
        pos = close + 1;
      } else {
        const std::size_t start = pos;
        while (pos < end && !IsSpace(t_[pos])) ++pos;
        value = std::string(t_.substr(start, pos - start));
      }
      XmlNode* attribute = new XmlNode(XmlKind::Attribute, name);
      attribute->SetText(value);
      AddChild(node, attribute);
    }
  }

  std::string_view t_;
};

}  // namespace

int ModelParseXml(std::string_view text, XmlNode** document, std::string* error, std::size_t* position) {
  std::unique_ptr<XmlNode> root(new XmlNode(XmlKind::Document));
  try {
    Model(text).Content(root.get(), 0, text.size());
  } catch (const Failure& failure) {
    *document = nullptr;
    *error = failure.text;
    *position = failure.position;
    return 1;
  }
  *document = root.release();
  return 0;
}
