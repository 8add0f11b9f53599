// What the evaluator does to the TinyXML tree: the synthetic root that an
// evaluation borrows the base node into, document-order numbers kept in the
// nodes' user-data slots, and sibling places for predicates.
#pragma once

#include "inventory/XPathNodeSet.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class TiXmlElement;

namespace XPath {

class DocumentIndex;

// For the life of one evaluation: an element "root" whose only child is the
// base node. The base node's parent and sibling links are remembered and
// put back by the destructor (after success and after every error), which
// also lets go of the child. The element is the caller's, so that repeated
// evaluations need no allocation; it must have no children of its own.
class SyntheticRoot {
 public:
  SyntheticRoot(TiXmlNode* base, TiXmlElement& element);
  ~SyntheticRoot();
  SyntheticRoot(const SyntheticRoot&) = delete;
  SyntheticRoot& operator=(const SyntheticRoot&) = delete;

  TiXmlElement* Element() const { return element_; }

 private:
  TiXmlElement* element_;
  TiXmlNode* base_;
  TiXmlNode* parent_;
  TiXmlNode* previous_;
  TiXmlNode* next_;
};

// Numbers every node under the synthetic root in pre-order (the root 1,
// its first child 2, ...) in the nodes' user-data slots. Numbering costs a
// walk of the whole tree, so it is done the first time an evaluation needs
// document order, and at most once per evaluation.
class DocumentOrder {
 public:
  void Reset(TiXmlNode* root);
  void Ensure();
  // The numbers are in place already (a document index wrote them).
  void MarkNumbered() { numbered_ = true; }
  bool Numbered() const { return numbered_; }
  // Sort key of an entry: its node's number, attributes just after their element.
  static std::uint64_t Key(const NodeSet::Entry& entry);
  static std::uint32_t NumberOf(const TiXmlNode* node);

 private:
  TiXmlNode* root_ = nullptr;
  bool numbered_ = false;
};

// Places of elements among their parent's element children, for
// predicates, position() and last(). Each parent's children are walked
// once per evaluation, whatever the number of questions.
class SiblingIndex {
 public:
  // With a document index, places are read from it; `syntheticRoot` is the
  // evaluation's root element, number 1 of the index.
  void Reset(const DocumentIndex* index = nullptr, const TiXmlNode* syntheticRoot = nullptr);
  // 1-based place among the element children of the parent, or among those
  // with the element's own name when `byName`.
  std::uint32_t Position(TiXmlNode* element, bool byName);
  std::uint32_t ElementChildren(TiXmlNode* parent);

 private:
  void IndexChildren(TiXmlNode* parent);
  std::uint32_t IndexNumber(const TiXmlNode* node) const;
  const DocumentIndex* index_ = nullptr;
  const TiXmlNode* syntheticRoot_ = nullptr;
  std::unordered_map<const TiXmlNode*, std::pair<std::uint32_t, std::uint32_t>> places_;
  PointerSet indexedParents_;
  std::unordered_map<std::string_view, std::uint32_t> nameCounts_;
  std::unordered_map<const TiXmlNode*, std::uint32_t> childCounts_;
  const TiXmlNode* lastParent_ = nullptr;
  std::uint32_t lastCount_ = 0;
};

bool IsElement(const TiXmlNode* node);

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
