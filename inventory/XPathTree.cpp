#include "inventory/XPathTree.h"

#include "inventory/XPathIndex.h"

#include <tinyxml.h>

namespace XPath {

// Out of line on purpose: inlined into the loops it measured slower.
void PrefetchAhead(const NodeSet::Entry* entries, std::size_t remaining) {
  // An element with its attribute list head spans four cache lines, an
  // attribute two.
  const std::size_t kAhead = 8;
  if (remaining > kAhead) Prefetch(entries[kAhead].item, entries[kAhead].isAttribute ? 2 : 4);
}

void PrefetchAttributesAhead(const DocumentIndex& index, std::uint32_t name, const NodeSet::Entry* entries,
                             std::size_t remaining) {
  // Each step reads what the one before fetched: where the entry's
  // attributes are listed, the list, the attribute's value member, and the
  // text it points to (a block of its own when long).
  const std::size_t kRange = 32, kList = 24, kMember = 16, kText = 8;
  auto numbered = [&](std::size_t ahead) -> const NodeSet::Entry* {
    if (remaining <= ahead) return nullptr;
    const NodeSet::Entry& entry = entries[ahead];
    return entry.number != 0 && !entry.isAttribute ? &entry : nullptr;
  };
  if (const NodeSet::Entry* e = numbered(kRange)) Prefetch(index.AttributeRangeOf(e->number), 1);
  if (const NodeSet::Entry* e = numbered(kList)) Prefetch(index.AttributesBegin(e->number), 1);
  if (const NodeSet::Entry* e = numbered(kMember)) {
    if (const DocumentIndex::Attribute* a = index.FindAttribute(e->number, name)) {
      const char* member = reinterpret_cast<const char*>(&a->attribute->ValueStr());
      Prefetch(member, 1);
      Prefetch(member + sizeof(std::string) - 1, 1);
    }
  } else if (remaining > kMember) {
    Prefetch(entries[kMember].item, entries[kMember].isAttribute ? 2 : 4);
  }
  if (const NodeSet::Entry* e = numbered(kText)) {
    if (const DocumentIndex::Attribute* a = index.FindAttribute(e->number, name)) Prefetch(a->attribute->Value(), 1);
  }
}

bool IsElement(const TiXmlNode* node) { return node != nullptr && node->Type() == TiXmlNode::TINYXML_ELEMENT; }

void TreeView::Reset(TiXmlNode* base, TiXmlElement* root) {
  base_ = base;
  root_ = root;
}

TiXmlNode* TreeView::Parent(TiXmlNode* node) const {
  if (node == base_) return root_;
  return node == root_ ? nullptr : node->Parent();
}

TiXmlNode* TreeView::FirstChild(TiXmlNode* node) const {
  return node == root_ ? base_ : node->FirstChild();
}

TiXmlNode* TreeView::LastChild(TiXmlNode* node) const { return node == root_ ? base_ : node->LastChild(); }

void DocumentOrder::Reset(const TreeView* view, const DocumentIndex* index) {
  view_ = view;
  index_ = index;
  numbered_ = index != nullptr;
  numbers_.clear();
}

void DocumentOrder::Ensure() {
  if (numbered_ || view_ == nullptr || view_->Base() == nullptr) return;
  numbered_ = true;
  std::uint32_t number = 1;
  numbers_.emplace(view_->Root(), number++);
  TiXmlNode* const base = view_->Base();
  TiXmlNode* node = base;
  for (;;) {
    numbers_.emplace(node, number++);
    if (node->FirstChild() != nullptr) {
      node = node->FirstChild();
      continue;
    }
    while (node != base && node->NextSibling() == nullptr) node = node->Parent();
    if (node == base) return;
    node = node->NextSibling();
  }
}

std::uint32_t DocumentOrder::NumberOf(const TiXmlNode* node) const {
  if (index_ != nullptr) return view_ != nullptr && node == view_->Root() ? 1 : index_->NumberOf(node);
  auto found = numbers_.find(node);
  return found != numbers_.end() ? found->second : 0;
}

std::uint64_t DocumentOrder::Key(const NodeSet::Entry& entry) const {
  if (entry.isAttribute) {
    return (static_cast<std::uint64_t>(NumberOf(entry.owner)) << 32) | (entry.attributeIndex + 1ULL);
  }
  std::uint32_t number = entry.number != 0 ? entry.number : NumberOf(static_cast<const TiXmlNode*>(entry.item));
  return static_cast<std::uint64_t>(number) << 32;
}

void SiblingIndex::Reset(const TreeView* view, const DocumentIndex* index) {
  view_ = view;
  index_ = index;
  places_.clear();
  indexedParents_.Clear();
  childCounts_.clear();
  lastParent_ = nullptr;
  lastCount_ = 0;
}

void SiblingIndex::IndexChildren(TiXmlNode* parent) {
  nameCounts_.clear();
  std::uint32_t all = 0;
  for (TiXmlNode* child = parent->FirstChild(); child != nullptr; child = child->NextSibling()) {
    if (!IsElement(child)) continue;
    std::uint32_t named = ++nameCounts_[child->ValueStr()];
    places_[child] = std::make_pair(++all, named);
  }
  childCounts_[parent] = all;
  indexedParents_.Insert(parent);
}

std::uint32_t SiblingIndex::IndexNumber(const TiXmlNode* node) const {
  if (index_ == nullptr) return 0;
  return node == view_->Root() ? 1 : index_->NumberOf(node);
}

std::uint32_t SiblingIndex::Position(TiXmlNode* element, bool byName) {
  if (std::uint32_t n = IndexNumber(element)) return byName ? index_->NamedPlace(n) : index_->Place(n);
  TiXmlNode* parent = view_->Parent(element);
  // The synthetic root has one child, the base node.
  if (parent == nullptr || parent == view_->Root()) return 1;
  if (!indexedParents_.Contains(parent)) IndexChildren(parent);
  auto found = places_.find(element);
  if (found == places_.end()) return 0;
  return byName ? found->second.second : found->second.first;
}

std::uint32_t SiblingIndex::ElementChildren(TiXmlNode* parent) {
  if (parent == nullptr) return 1;
  if (std::uint32_t n = IndexNumber(parent)) return index_->ElementChildren(n);
  if (parent == view_->Root() || parent == view_->Base()->Parent()) return IsElement(view_->Base()) ? 1 : 0;
  if (parent == lastParent_) return lastCount_;
  auto found = childCounts_.find(parent);
  std::uint32_t count = 0;
  if (found != childCounts_.end()) {
    count = found->second;
  } else {
    for (TiXmlNode* child = parent->FirstChild(); child != nullptr; child = child->NextSibling()) {
      if (IsElement(child)) ++count;
    }
    childCounts_[parent] = count;
  }
  lastParent_ = parent;
  lastCount_ = count;
  return count;
}

}  // namespace XPath
