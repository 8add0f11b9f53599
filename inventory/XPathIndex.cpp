#include "inventory/XPathIndex.h"

#include <tinyxml.h>

namespace XPath {

const std::uint32_t DocumentIndex::kOther;

namespace {

std::uint32_t UserNumber(const TiXmlNode* node) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(node->GetUserData()));
}
}  // namespace

void DocumentIndex::Clear() {
  nodes_.clear();
  keys_.clear();
  parents_.clear();
  ends_.clear();
  childStart_.clear();
  children_.clear();
  attributeStart_.clear();
  attributes_.clear();
  attributeNameIds_.clear();
  places_.clear();
  namedPlaces_.clear();
  elementChildren_.clear();
  nameIds_.clear();
  nameTexts_.clear();
  nameTotals_.clear();
  elementTotal_ = 0;
}

std::uint32_t DocumentIndex::Intern(const std::string& name) {
  auto found = nameIds_.find(name);
  if (found != nameIds_.end()) return found->second;
  std::uint32_t id = static_cast<std::uint32_t>(nameTexts_.size());
  nameIds_.emplace(name, id);
  nameTexts_.push_back(name);
  return id;
}

std::uint32_t DocumentIndex::FindName(std::string_view name) const {
  auto found = nameIds_.find(std::string(name));
  return found != nameIds_.end() ? found->second : 0;
}

std::uint32_t DocumentIndex::InternAttribute(const std::string& name) {
  // Elements of one kind repeat their attribute names in the same order:
  // the name a few attributes back is usually the one wanted.
  for (const Attribute* a = attributes_.data() + attributes_.size(); a != attributes_.data();) {
    --a;
    if (a->attribute->NameTStr() == name) return a->name;
    if (attributes_.data() + attributes_.size() - a >= 8) break;
  }
  auto found = attributeNameIds_.find(name);
  if (found != attributeNameIds_.end()) return found->second;
  // Ids from 1.
  std::uint32_t id = static_cast<std::uint32_t>(attributeNameIds_.size() + 1);
  attributeNameIds_.emplace(name, id);
  return id;
}

std::uint32_t DocumentIndex::FindAttributeName(std::string_view name) const {
  auto found = attributeNameIds_.find(std::string(name));
  return found != attributeNameIds_.end() ? found->second : 0;
}

void DocumentIndex::Build(TiXmlNode* base) {
  Clear();
  if (base == nullptr) return;
  nameTexts_.emplace_back();  // id 0: no name
  Append(nullptr, kOther | 0xff, 0);
  Append(nullptr, Intern("root"), 0);  // the synthetic root of an evaluation
  NumberTree(base);
  LinkChildren();
  CountNames();
  NumberPlaces();
}

void DocumentIndex::Append(TiXmlNode* node, std::uint32_t key, std::uint32_t parent) {
  nodes_.push_back(node);
  keys_.push_back(key);
  ends_.push_back(0);
  parents_.push_back(parent);
  attributeStart_.push_back(static_cast<std::uint32_t>(attributes_.size()));
}

// Pre-order, as DocumentOrder numbers the tree. The last name seen is
// remembered: long runs of siblings share one.
void DocumentIndex::NumberTree(TiXmlNode* base) {
  std::vector<std::uint32_t> open;
  const std::string* lastName = nullptr;
  std::uint32_t lastId = 0;
  TiXmlNode* node = base;
  for (;;) {
    std::uint32_t n = static_cast<std::uint32_t>(nodes_.size());
    std::uint32_t key = kOther | static_cast<std::uint32_t>(node->Type());
    if (node->Type() == TiXmlNode::TINYXML_ELEMENT) {
      const std::string& text = node->ValueStr();
      if (lastName == nullptr || text != *lastName) {
        lastId = Intern(text);
        lastName = &nameTexts_[lastId];
      }
      key = lastId;
    }
    Append(node, key, open.empty() ? 1 : open.back());
    if (TiXmlElement* element = node->ToElement()) {
      for (TiXmlAttribute* a = element->FirstAttribute(); a != nullptr; a = a->Next()) {
        attributes_.push_back(Attribute{a, InternAttribute(a->NameTStr())});
      }
    }
    node->SetUserData(reinterpret_cast<void*>(static_cast<std::uintptr_t>(n)));
    if (node->FirstChild() != nullptr) {
      open.push_back(n);
      node = node->FirstChild();
      continue;
    }
    ends_[n] = n + 1;
    while (node != base && node->NextSibling() == nullptr) {
      node = node->Parent();
      ends_[open.back()] = static_cast<std::uint32_t>(nodes_.size());
      open.pop_back();
    }
    if (node == base) break;
    node = node->NextSibling();
  }
  ends_[1] = Size();
  attributeStart_.push_back(static_cast<std::uint32_t>(attributes_.size()));
}

// Children side by side, parent by parent: a counting sort on the parent
// keeps each parent's children in document order.
void DocumentIndex::LinkChildren() {
  const std::uint32_t size = Size();
  childStart_.assign(size + 1, 0);
  for (std::uint32_t n = 2; n < size; ++n) ++childStart_[parents_[n] + 1];
  for (std::uint32_t n = 1; n <= size; ++n) childStart_[n] += childStart_[n - 1];
  children_.resize(size - 2);
  std::vector<std::uint32_t> fill(childStart_.begin(), childStart_.end() - 1);
  for (std::uint32_t n = 2; n < size; ++n) children_[fill[parents_[n]]++] = n;
}

void DocumentIndex::CountNames() {
  nameTotals_.assign(nameTexts_.size(), 0);
  for (std::uint32_t n = 2; n < Size(); ++n) {
    if (!IsElement(n)) continue;
    ++nameTotals_[keys_[n]];
    ++elementTotal_;
  }
}

void DocumentIndex::NumberPlaces() {
  const std::uint32_t size = Size();
  places_.assign(size, 0);
  namedPlaces_.assign(size, 0);
  elementChildren_.assign(size, 0);
  places_[1] = namedPlaces_[1] = 1;
  std::vector<std::uint32_t> perName(nameTexts_.size(), 0);
  std::vector<std::uint32_t> touched;
  for (std::uint32_t p = 1; p < size; ++p) {
    std::uint32_t all = 0;
    for (const std::uint32_t* c = ChildrenBegin(p); c != ChildrenEnd(p); ++c) {
      if (!IsElement(*c)) continue;
      places_[*c] = ++all;
      std::uint32_t& named = perName[keys_[*c]];
      if (named == 0) touched.push_back(keys_[*c]);
      namedPlaces_[*c] = ++named;
    }
    elementChildren_[p] = all;
    for (std::uint32_t id : touched) perName[id] = 0;
    touched.clear();
  }
}

bool DocumentIndex::Usable(const TiXmlNode* base) const {
  if (base == nullptr || nodes_.size() < 3 || nodes_[2] != base) return false;
  return UserNumber(base) == 2 && UserNumber(nodes_.back()) == nodes_.size() - 1;
}

std::uint32_t DocumentIndex::NumberOf(const TiXmlNode* node) const {
  std::uint32_t n = UserNumber(node);
  return n >= 2 && n < nodes_.size() && nodes_[n] == node ? n : 0;
}

}  // namespace XPath
