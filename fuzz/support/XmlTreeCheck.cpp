#include "support/XmlTreeCheck.h"

#include <utility>
#include <vector>

namespace {

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsTagDelimiter(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '/' || c == '>';
}

std::string Where(const XmlNode* node) {
  std::string path;
  for (const XmlNode* n = node; n != nullptr; n = n->Parent()) path = "/" + n->Name() + path;
  return path;
}

bool SameNode(const XmlNode* a, const XmlNode* b, std::string* why) {
  auto differ = [&](const char* what) {
    if (why != nullptr) *why = std::string(what) + " differs at " + Where(a);
    return false;
  };
  if (a->Kind() != b->Kind()) return differ("kind");
  // A document's name and character data are never written.
  if (a->Kind() == XmlKind::Document)
    return a->Children().size() == b->Children().size() || differ("child count");
  if (a->Name() != b->Name()) return differ("name");
  if (a->Value() != b->Value()) return differ("value");
  if (a->Kind() == XmlKind::Element) {
    if (!a->Value().empty() && a->IsCdata() != b->IsCdata()) return differ("CDATA mark");
    if (!a->IsCdata() && !b->IsCdata() && a->Text() != b->Text()) return differ("text");
  }
  if (a->Attributes().size() != b->Attributes().size()) return differ("attribute count");
  for (std::size_t i = 0; i < a->Attributes().size(); ++i) {
    const XmlNode* x = a->Attributes()[i];
    const XmlNode* y = b->Attributes()[i];
    if (x->Kind() != y->Kind() || x->Name() != y->Name()) return differ("attribute name");
    if (x->Value() != y->Value()) return differ("attribute value");
  }
  if (a->Children().size() != b->Children().size()) return differ("child count");
  return true;
}

// "<" + name or "</" + name, letter case ignored, followed by a tag
// delimiter or by the end of the text (whatever the writer puts after it).
// A match at skipAt does not count.
bool HoldsTagOf(const std::string& text, const std::string& name, std::size_t skipAt) {
  for (std::size_t lt = text.find('<'); lt != std::string::npos; lt = text.find('<', lt + 1)) {
    if (lt == skipAt) continue;
    std::size_t start = lt + 1;
    if (start < text.size() && text[start] == '/') ++start;
    if (text.size() - start < name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) same = UpperAscii(text[start + i]) == UpperAscii(name[i]);
    if (!same) continue;
    const std::size_t after = start + name.size();
    if (after == text.size() || IsTagDelimiter(text[after])) return true;
  }
  return false;
}

bool NamesEqual(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  return true;
}

// The texts of node that the writer puts verbatim inside the content of the
// enclosing elements; true for the node's own start and end tags.
std::vector<std::pair<std::string, bool>> VerbatimTexts(const XmlNode* node) {
  std::vector<std::pair<std::string, bool>> texts;
  switch (node->Kind()) {
    case XmlKind::Element:
      texts.emplace_back("<" + node->Name() + " ", true);
      texts.emplace_back("</" + node->Name() + ">", true);
      break;
    case XmlKind::ProcessingInstruction:
      texts.emplace_back("<?" + node->Name(), false);
      break;
    case XmlKind::Comment:
    case XmlKind::RawMarkup:
      texts.emplace_back(node->Value(), false);
      break;
    default:
      break;
  }
  for (const XmlNode* attribute : node->Attributes())
    texts.emplace_back(attribute->Name() + "=" + attribute->Text(), false);
  return texts;
}

}  // namespace

bool SameXmlTree(const XmlNode* a, const XmlNode* b, std::string* why) {
  if (a == nullptr || b == nullptr) {
    if (why != nullptr && a != b) *why = "one tree is missing";
    return a == b;
  }
  std::vector<std::pair<const XmlNode*, const XmlNode*>> pending{{a, b}};
  while (!pending.empty()) {
    const auto pair = pending.back();
    pending.pop_back();
    if (!SameNode(pair.first, pair.second, why)) return false;
    for (std::size_t i = 0; i < pair.first->Children().size(); ++i)
      pending.emplace_back(pair.first->Children()[i], pair.second->Children()[i]);
  }
  return true;
}

bool CompactFormRoundTrips(const XmlNode* document) {
  if (document == nullptr) return true;
  struct Frame {
    const XmlNode* node;
    std::size_t next;
  };
  std::vector<Frame> frames{{document, 0}};
  std::vector<const std::string*> enclosing;  // names of the open elements
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next == frame.node->Children().size()) {
      if (frame.node->Kind() == XmlKind::Element) enclosing.pop_back();
      frames.pop_back();
      continue;
    }
    const XmlNode* node = frame.node->Children()[frame.next++];
    for (const auto& text : VerbatimTexts(node)) {
      if (text.first.find('<') == std::string::npos) continue;
      for (const std::string* name : enclosing) {
        // A nested element of the same name is no hazard: the parser pairs
        // those up.
        const std::size_t skip = text.second && NamesEqual(node->Name(), *name) ? 0 : std::string::npos;
        if (HoldsTagOf(text.first, *name, skip)) return false;
      }
    }
    if (node->Kind() == XmlKind::Element) {
      enclosing.push_back(&node->Name());
      frames.push_back({node, 0});
      // The CDATA value lies inside the element's own content, written as one
      // section even when it was read from several.
      if (node->IsCdata() && node->Value().find('<') != std::string::npos)
        for (const std::string* name : enclosing)
          if (HoldsTagOf(node->Value(), *name, std::string::npos)) return false;
    }
  }
  return true;
}
