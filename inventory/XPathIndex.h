// A compact picture of a loaded tree for the XPath evaluator.
//
// TinyXML's nodes lie scattered over the heap, so walking a long sibling
// list or a large subtree is a chain of cache and TLB misses whose cost per
// node grows with the document. The index keeps, per node in document
// order, its kind, its interned name, where its subtree ends, its places
// among its siblings, and each node's children side by side; child and
// descendant steps, predicates by place and last() then read small arrays
// and touch only the nodes they return.
//
// Numbers are those of document order (the evaluation's synthetic root 1,
// the base node 2, ...). Building writes them into the nodes' user-data
// slots, where NumberOf finds a node's number; so the index is built
// before the tree is shared (right after loading), and evaluations only
// read it, on as many threads as they like.
//
// The index describes the tree as it was when built and points into it.
// Whoever changes or frees the tree (loads the document again, adds or
// removes nodes) must clear or rebuild it first. An evaluation checks that
// its base node and the last node still carry their numbers and goes
// without the index when they do not (another index built on part of the
// tree renumbers it), which catches most renumbering, not a freed tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TiXmlAttribute;
class TiXmlNode;

namespace XPath {

class DocumentIndex {
 public:
  DocumentIndex() = default;
  DocumentIndex(const DocumentIndex&) = delete;
  DocumentIndex& operator=(const DocumentIndex&) = delete;

  // Indexes `base` and everything below it; a null base clears.
  void Build(TiXmlNode* base);
  void Clear();

  // True when built for `base` and its numbers are still in place.
  bool Usable(const TiXmlNode* base) const;
  const TiXmlNode* Base() const { return nodes_.size() > 2 ? nodes_[2] : nullptr; }
  // Node numbers run from 1 (the synthetic root) to Size() - 1.
  std::uint32_t Size() const { return static_cast<std::uint32_t>(nodes_.size()); }

  // The number of a node of the index (read from its user-data slot and
  // checked), else 0. The synthetic root is not a node of the index.
  std::uint32_t NumberOf(const TiXmlNode* node) const;

  TiXmlNode* Node(std::uint32_t n) const { return nodes_[n]; }
  // Kind and name in one: an element's name id, or kOther plus the TinyXML
  // node type of any other node.
  static const std::uint32_t kOther = 0x80000000u;
  std::uint32_t Key(std::uint32_t n) const { return keys_[n]; }
  const std::uint32_t* Keys() const { return keys_.data(); }
  bool IsElement(std::uint32_t n) const { return keys_[n] < kOther; }
  std::uint32_t Parent(std::uint32_t n) const { return parents_[n]; }
  // One past the last node of n's subtree.
  std::uint32_t SubtreeEnd(std::uint32_t n) const { return ends_[n]; }
  // n's children, in order, as numbers.
  const std::uint32_t* ChildrenBegin(std::uint32_t n) const { return children_.data() + childStart_[n]; }
  const std::uint32_t* ChildrenEnd(std::uint32_t n) const { return children_.data() + childStart_[n + 1]; }
  // n's attributes, in order (none for other nodes), each with its name's
  // id. Reading them here instead of following each element's attribute
  // chain lets a loop over many elements fetch ahead what it will read.
  struct Attribute {
    TiXmlAttribute* attribute;
    std::uint32_t name;
  };
  const Attribute* AttributesBegin(std::uint32_t n) const { return attributes_.data() + attributeStart_[n]; }
  const Attribute* AttributesEnd(std::uint32_t n) const { return attributes_.data() + attributeStart_[n + 1]; }
  // Where n's attribute range is noted, for fetching it ahead.
  const std::uint32_t* AttributeRangeOf(std::uint32_t n) const { return attributeStart_.data() + n; }
  // n's attribute with the name id and its place among n's attributes;
  // null when n has none of that name.
  const Attribute* FindAttribute(std::uint32_t n, std::uint32_t name) const {
    for (const Attribute* a = AttributesBegin(n), *end = AttributesEnd(n); a != end; ++a) {
      if (a->name == name) return a;
    }
    return nullptr;
  }
  // The id of an attribute name, 0 when no attribute of the tree has it.
  std::uint32_t FindAttributeName(std::string_view name) const;
  // An element's place among its parent's element children, and among
  // those with its own name (from 1); 0 for other nodes.
  std::uint32_t Place(std::uint32_t n) const { return places_[n]; }
  std::uint32_t NamedPlace(std::uint32_t n) const { return namedPlaces_[n]; }
  std::uint32_t ElementChildren(std::uint32_t n) const { return elementChildren_[n]; }

  // The id of an element name, 0 when no element of the tree has it.
  std::uint32_t FindName(std::string_view name) const;
  // How many elements of the tree have the name, and how many elements
  // there are (the synthetic root not counted).
  std::uint32_t NameTotal(std::uint32_t id) const { return nameTotals_[id]; }
  std::uint32_t ElementTotal() const { return elementTotal_; }
  std::uint32_t NameCount() const { return static_cast<std::uint32_t>(nameTexts_.size()); }
  const std::string& NameText(std::uint32_t id) const { return nameTexts_[id]; }

 private:
  std::uint32_t Intern(const std::string& name);
  std::uint32_t InternAttribute(const std::string& name);
  // The steps of Build, in order.
  void Append(TiXmlNode* node, std::uint32_t key, std::uint32_t parent);
  void NumberTree(TiXmlNode* base);
  void LinkChildren();
  void CountNames();
  void NumberPlaces();

  std::vector<TiXmlNode*> nodes_;
  std::vector<std::uint32_t> keys_;
  std::vector<std::uint32_t> parents_;
  std::vector<std::uint32_t> ends_;
  std::vector<std::uint32_t> childStart_;
  std::vector<std::uint32_t> children_;
  std::vector<std::uint32_t> attributeStart_;
  std::vector<Attribute> attributes_;
  std::unordered_map<std::string, std::uint32_t> attributeNameIds_;
  std::vector<std::uint32_t> places_;
  std::vector<std::uint32_t> namedPlaces_;
  std::vector<std::uint32_t> elementChildren_;
  std::vector<std::uint32_t> nameTotals_;
  std::uint32_t elementTotal_ = 0;
  std::unordered_map<std::string, std::uint32_t> nameIds_;
  std::vector<std::string> nameTexts_;
};

}  // namespace XPath
