// How the evaluator sees the TinyXML tree without changing it: the
// synthetic root above the base node, document-order numbers kept per
// evaluation, and sibling places for predicates.
#pragma once

#include "inventory/XPathNodeSet.h"
#include "platform/Compiler.h"

#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace XPath {

class DocumentIndex;

// The tree of one evaluation: an element "root" whose only child is the
// base node. The element belongs to the evaluation and the shared tree is
// not touched: navigation through the view gives the base node the
// synthetic element as parent and no siblings, so evaluations on several
// threads can share one tree.
class TreeView {
 public:
  void Reset(TiXmlNode* base, TiXmlElement* root);

  TiXmlNode* Base() const { return base_; }
  TiXmlElement* Root() const { return root_; }
  TiXmlNode* Parent(TiXmlNode* node) const;
  TiXmlNode* NextSibling(TiXmlNode* node) const { return node == base_ ? nullptr : node->NextSibling(); }
  TiXmlNode* PreviousSibling(TiXmlNode* node) const {
    return node == base_ ? nullptr : node->PreviousSibling();
  }
  TiXmlNode* FirstChild(TiXmlNode* node) const;
  TiXmlNode* LastChild(TiXmlNode* node) const;

 private:
  TiXmlNode* base_ = nullptr;
  TiXmlElement* root_ = nullptr;
};

// Numbers every node of the view in pre-order (the synthetic root 1, the
// base node 2, ...). With a document index the numbers are the index's;
// without, numbering costs a walk of the whole tree into a table of the
// evaluation's own, so it is done the first time an evaluation needs
// document order, and at most once per evaluation.
class DocumentOrder {
 public:
  void Reset(const TreeView* view = nullptr, const DocumentIndex* index = nullptr);
  void Ensure();
  bool Numbered() const { return numbered_; }
  // Sort key of an entry: its node's number, attributes just after their
  // element. Needs Ensure first.
  std::uint64_t Key(const NodeSet::Entry& entry) const;
  std::uint32_t NumberOf(const TiXmlNode* node) const;

 private:
  const TreeView* view_ = nullptr;
  const DocumentIndex* index_ = nullptr;
  bool numbered_ = false;
  std::unordered_map<const TiXmlNode*, std::uint32_t> numbers_;
};

// Places of elements among their parent's element children, for
// predicates, position() and last(). Each parent's children are walked
// once per evaluation, whatever the number of questions.
class SiblingIndex {
 public:
  // With a document index, places are read from it; the view's root is
  // number 1 of the index.
  void Reset(const TreeView* view = nullptr, const DocumentIndex* index = nullptr);
  // 1-based place among the element children of the parent, or among those
  // with the element's own name when `byName`.
  std::uint32_t Position(TiXmlNode* element, bool byName);
  // The element children of `parent`. The base node's parent outside the
  // view (what the base node's own Parent() gives) counts as the synthetic
  // root: the base node is then the only child.
  std::uint32_t ElementChildren(TiXmlNode* parent);

 private:
  void IndexChildren(TiXmlNode* parent);
  std::uint32_t IndexNumber(const TiXmlNode* node) const;
  const TreeView* view_ = nullptr;
  const DocumentIndex* index_ = nullptr;
  std::unordered_map<const TiXmlNode*, std::pair<std::uint32_t, std::uint32_t>> places_;
  PointerSet indexedParents_;
  std::unordered_map<std::string_view, std::uint32_t> nameCounts_;
  std::unordered_map<const TiXmlNode*, std::uint32_t> childCounts_;
  const TiXmlNode* lastParent_ = nullptr;
  std::uint32_t lastCount_ = 0;
};

bool IsElement(const TiXmlNode* node);

using platform::Prefetch;

// Starts fetching the node or attribute that a loop over `entries` (the
// current one first, `remaining` in all) reaches a few turns later, so
// that the cache misses of several entries overlap instead of coming one
// after another.
void PrefetchAhead(const NodeSet::Entry* entries, std::size_t remaining);

// The same for the attribute `name` (an id of the index) of numbered
// element entries, read through the index, for loops that read that
// attribute and not the elements; unnumbered entries are fetched whole.
void PrefetchAttributesAhead(const DocumentIndex& index, std::uint32_t name, const NodeSet::Entry* entries,
                             std::size_t remaining);

}  // namespace XPath
