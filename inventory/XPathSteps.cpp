// Location steps: the nodes each axis produces from a context node set.
#include "inventory/XPathProcessor.h"

#include <tinyxml.h>

#include <algorithm>

namespace XPath {

namespace {

// Work of one node reached through TinyXML's links, counted against the
// evaluation's budget: nodes lie scattered over the heap, so such a visit
// costs about as much as four reads from the document index's arrays
// (which count one each).
const std::uint64_t kLinkedStep = 4;

inline bool HasPrefix(const std::string& name, std::string_view prefix) {
  return name.size() > prefix.size() && name[prefix.size()] == ':' && name.compare(0, prefix.size(), prefix) == 0;
}

inline bool Matches(const TiXmlNode* node, int test, std::string_view name) {
  switch (test) {
    case test_name: return node->Type() == TiXmlNode::TINYXML_ELEMENT && node->ValueStr() == name;
    case test_star: return node->Type() == TiXmlNode::TINYXML_ELEMENT;
    case test_prefix_star: return node->Type() == TiXmlNode::TINYXML_ELEMENT && HasPrefix(node->ValueStr(), name);
    case test_node: return true;
    case test_text: return node->Type() == TiXmlNode::TINYXML_TEXT;
    case test_comment: return node->Type() == TiXmlNode::TINYXML_COMMENT;
    default: return false;
  }
}

// The axes of following and preceding nodes produce elements only.
inline bool ElementMatches(const TiXmlNode* node, int test, std::string_view name) {
  return node->Type() == TiXmlNode::TINYXML_ELEMENT && Matches(node, test, name);
}

inline bool AttributeMatches(const TiXmlAttribute* attribute, int test, std::string_view name) {
  switch (test) {
    case test_name: return attribute->NameTStr() == name;
    case test_star:
    case test_node: return true;
    case test_prefix_star: return HasPrefix(attribute->NameTStr(), name);
    default: return false;
  }
}

inline bool IsElementEntry(const NodeSet::Entry& entry) {
  return !entry.isAttribute && static_cast<const TiXmlNode*>(entry.item)->Type() == TiXmlNode::TINYXML_ELEMENT;
}

}  // namespace

bool xpath_processor::Produce(const Instruction& step, NodeSet& in, NodeSet& out, StepPlan& plan) {
  switch (step.axis) {
    case axis_child: return ChildAxis(step, in, out, plan);
    case axis_descendant: return DescendantAxis(step, in, out, plan, false);
    case axis_descendant_or_self: return DescendantAxis(step, in, out, plan, true);
    case axis_attribute: AttributeAxis(step, in, out); return false;
    case axis_self: SelfAxis(step, in, out); return false;
    case axis_parent: ParentAxis(step, in, out); return false;
    case axis_ancestor: AncestorAxis(step, in, out, false); return false;
    case axis_ancestor_or_self: AncestorAxis(step, in, out, true); return false;
    case axis_following_sibling: SiblingAxis(step, in, out, true); return false;
    case axis_preceding_sibling: SiblingAxis(step, in, out, false); return false;
    case axis_following: FollowingAxis(step, in, out); return false;
    case axis_preceding: PrecedingAxis(step, in, out); return false;
    default: throw execution_error(ExecutionCode::UnknownAction);
  }
}

// Children of distinct parents are distinct, so nothing repeats; they come
// in document order when the parents did and none contains another.
bool xpath_processor::ChildAxis(const Instruction& step, const NodeSet& in, NodeSet& out, StepPlan& plan) {
  if (index_ != nullptr && NumberContext(in)) return IndexedChildAxis(step, in, out, plan);
  const bool ordered = in.GetOrder() == NodeSet::Order::Document && in.IsFlat();
  const bool places = plan.positions || plan.constant;
  std::uint64_t visited = 0;
  for (unsigned e = 0; e < in.Count(); ++e) {
    const NodeSet::Entry& entry = in.At(e);
    if (!IsElementEntry(entry)) continue;
    TiXmlNode* parent = static_cast<TiXmlNode*>(entry.item);
    if (!places) {
      // A long child list is a chain of cache misses; walking it from both
      // ends keeps two of them in flight. The back half is kept aside and
      // appended in document order.
      std::vector<TiXmlNode*>& back = backHalf_;
      back.clear();
      TiXmlNode* front = view_.FirstChild(parent);
      TiXmlNode* rear = view_.LastChild(parent);
      while (front != nullptr) {
        visited += 2;
        if (Matches(front, step.test, step.text)) out.AddUnique(front);
        if (front == rear) break;
        if (Matches(rear, step.test, step.text)) back.push_back(rear);
        TiXmlNode* following = front->NextSibling();
        if (following == rear) break;
        front = following;
        rear = rear->PreviousSibling();
      }
      for (std::size_t i = back.size(); i-- > 0;) out.AddUnique(back[i]);
      continue;
    }
    std::uint32_t all = 0;
    std::uint32_t named = 0;
    for (TiXmlNode* child = view_.FirstChild(parent); child != nullptr; child = view_.NextSibling(child)) {
      ++visited;
      const bool element = child->Type() == TiXmlNode::TINYXML_ELEMENT;
      if (element) ++all;
      if (!Matches(child, step.test, step.text)) continue;
      std::uint32_t place = element ? (plan.byName ? ++named : all) : 0;
      if (plan.constant) {
        // Only the wanted place can pass, so the walk may stop there.
        if (!element) continue;
        plan.anyCandidate = true;
        if (static_cast<std::int64_t>(place) == plan.wanted) {
          out.AddUnique(child, place);
          break;
        }
        if (plan.wanted < 1) break;
        continue;
      }
      out.AddUnique(child, place);
    }
  }
  Count(kLinkedStep * visited);
  out.SetOrder(ordered ? NodeSet::Order::Document : NodeSet::Order::Pending);
  out.SetFlat(in.IsFlat());
  return plan.constant;
}

namespace {

// Pre-order walk below `top`, offering each matching node. The walk also
// passes over the context entries it meets (they are in document order,
// starting at `next`), so no subtree is walked twice. With kPlaces each
// node's place among its element siblings (of the same name when byName)
// is counted on the way. Returns how many nodes it visited.
template <bool kPlaces, typename Offer>
std::uint64_t WalkBelow(TiXmlNode* top, int test, std::string_view name, bool byName,
                        const NodeSet::Entry* context, std::size_t count, std::size_t& next,
                        std::vector<std::pair<std::uint32_t, std::uint32_t>>& levels, Offer&& offer) {
  TiXmlNode* node = top->FirstChild();
  if (node == nullptr) return 0;
  if (kPlaces) {
    levels.clear();
    levels.emplace_back(0, 0);
  }
  std::uint64_t visited = 0;
  for (;;) {
    ++visited;
    if (next < count) {
      while (next < count && context[next].isAttribute) ++next;
      if (next < count && context[next].item == node) ++next;
    }
    const bool element = node->Type() == TiXmlNode::TINYXML_ELEMENT;
    if (kPlaces && element) ++levels.back().first;
    if (Matches(node, test, name)) {
      std::uint32_t place = 0;
      if (kPlaces && element) place = byName ? ++levels.back().second : levels.back().first;
      offer(node, element, place);
    }
    TiXmlNode* child = node->FirstChild();
    if (child != nullptr) {
      Prefetch(node->NextSibling());
      if (kPlaces) levels.emplace_back(0, 0);
      node = child;
      continue;
    }
    TiXmlNode* sibling;
    while ((sibling = node->NextSibling()) == nullptr) {
      node = node->Parent();
      if (kPlaces) levels.pop_back();
      if (node == top) return visited;
    }
    node = sibling;
  }
}

}  // namespace

// One pre-order walk per context node; context nodes inside a subtree
// already walked are passed over, so every node is visited at most once.
bool xpath_processor::DescendantAxis(const Instruction& step, NodeSet& in, NodeSet& out, StepPlan& plan,
                                     bool orSelf) {
  in.Sort();
  if (index_ != nullptr && NumberContext(in)) {
    const bool filtered = IndexedDescendantAxis(step, in, out, plan, orSelf);
    Count(SubtreeSpans());
    return filtered;
  }
  const std::vector<NodeSet::Entry>& context = in.MutableEntries();
  const std::size_t count = context.size();
  const bool places = plan.positions || plan.constant;
  auto offer = [&](TiXmlNode* node, bool element, std::uint32_t place) {
    if (plan.constant) {
      if (!element) return;
      plan.anyCandidate = true;
      if (static_cast<std::int64_t>(place) == plan.wanted) out.AddUnique(node, place);
      return;
    }
    out.AddUnique(node, place);
  };
  std::size_t next = 0;
  std::uint64_t visited = 0;
  while (next < count) {
    const NodeSet::Entry& entry = context[next++];
    if (!IsElementEntry(entry)) continue;
    TiXmlNode* top = static_cast<TiXmlNode*>(entry.item);
    if (orSelf && top != root_ && Matches(top, step.test, step.text)) {
      offer(top, true, places ? siblings_.Position(top, plan.byName) : 0);
    }
    if (top == root_) {
      // Below the synthetic root: the base node, its only child, then
      // what lies below the base node.
      top = base_;
      while (next < count && context[next].isAttribute) ++next;
      if (next < count && context[next].item == top) ++next;
      const bool element = IsElement(top);
      if (Matches(top, step.test, step.text)) offer(top, element, places && element ? 1 : 0);
    }
    if (places) {
      visited +=
          WalkBelow<true>(top, step.test, step.text, plan.byName, context.data(), count, next, counters_, offer);
    } else {
      visited +=
          WalkBelow<false>(top, step.test, step.text, plan.byName, context.data(), count, next, counters_, offer);
    }
  }
  Count(kLinkedStep * visited);
  out.SetOrder(NodeSet::Order::Document);
  out.SetFlat(false);
  return plan.constant;
}

bool xpath_processor::NumberContext(const NodeSet& in) {
  contextNumbers_.assign(in.Count(), 0);
  for (unsigned e = 0; e < in.Count(); ++e) {
    const NodeSet::Entry& entry = in.At(e);
    if (entry.isAttribute) continue;
    if (entry.number != 0) {
      // Known from an earlier step: the kind is in the index too, and the
      // node need not be touched.
      if (index_->IsElement(entry.number)) contextNumbers_[e] = entry.number;
      continue;
    }
    if (!IsElementEntry(entry)) continue;
    TiXmlNode* node = static_cast<TiXmlNode*>(entry.item);
    std::uint32_t n = node == root_ ? 1 : index_->NumberOf(node);
    if (n == 0) return false;
    contextNumbers_[e] = n;
  }
  return true;
}

// How many nodes of the index the subtrees of the numbered context span,
// each node once: the length of a descendant scan.
std::uint64_t xpath_processor::SubtreeSpans() const {
  std::uint64_t span = 0;
  const std::size_t count = contextNumbers_.size();
  for (std::size_t next = 0; next < count;) {
    const std::uint32_t top = contextNumbers_[next++];
    if (top == 0) continue;
    const std::uint32_t end = index_->SubtreeEnd(top);
    span += end - top;
    while (next < count && contextNumbers_[next] < end) ++next;
  }
  return span;
}

// A node test over the index's keys.
class IndexedTest {
 public:
  IndexedTest(const DocumentIndex& index, int test, std::string_view name, std::vector<char>& accepted)
      : keys_(index.Keys()), test_(test) {
    if (test == test_name) name_ = index.FindName(name);
    if (test == test_prefix_star) {
      accepted.assign(index.NameCount(), 0);
      for (std::uint32_t id = 1; id < index.NameCount(); ++id) accepted[id] = HasPrefix(index.NameText(id), name);
      accepted_ = accepted.data();
    }
  }
  // At most how many nodes of the tree can pass.
  std::uint32_t Total(const DocumentIndex& index) const {
    switch (test_) {
      case test_name: return name_ != 0 ? index.NameTotal(name_) : 0;
      case test_star:
      case test_prefix_star: return index.ElementTotal();
      default: return index.Size();
    }
  }
  bool operator()(std::uint32_t n) const {
    const std::uint32_t key = keys_[n];
    switch (test_) {
      case test_name: return key == name_;
      case test_star: return key < DocumentIndex::kOther;
      case test_prefix_star: return key < DocumentIndex::kOther && accepted_[key] != 0;
      case test_node: return true;
      case test_text: return key == (DocumentIndex::kOther | TiXmlNode::TINYXML_TEXT);
      case test_comment: return key == (DocumentIndex::kOther | TiXmlNode::TINYXML_COMMENT);
      default: return false;
    }
  }
  // Calls offer(n) for each matching n in [begin, end); the test is chosen
  // once, outside the loop, for the common cases.
  template <typename Offer>
  void Scan(std::uint32_t begin, std::uint32_t end, Offer&& offer) const {
    if (test_ == test_name) {
      if (name_ == 0) return;
      for (std::uint32_t n = begin; n < end; ++n)
        if (keys_[n] == name_) offer(n);
    } else if (test_ == test_star) {
      for (std::uint32_t n = begin; n < end; ++n)
        if (keys_[n] < DocumentIndex::kOther) offer(n);
    } else {
      for (std::uint32_t n = begin; n < end; ++n)
        if ((*this)(n)) offer(n);
    }
  }

 private:
  const std::uint32_t* keys_;
  int test_;
  std::uint32_t name_ = 0;  // no element has name id 0
  const char* accepted_ = nullptr;
};


// As ChildAxis, reading each parent's children from the index.
bool xpath_processor::IndexedChildAxis(const Instruction& step, const NodeSet& in, NodeSet& out, StepPlan& plan) {
  const DocumentIndex& index = *index_;
  const IndexedTest matches(index, step.test, step.text, acceptedNames_);
  const bool ordered = in.GetOrder() == NodeSet::Order::Document && in.IsFlat();
  const bool places = plan.positions || plan.constant;
  if (in.Count() * 8 >= index.Size()) return ScanChildren(matches, in, out, plan);
  if (!plan.constant) {
    std::size_t children = 0;
    for (unsigned e = 0; e < in.Count(); ++e) {
      if (contextNumbers_[e] != 0) children += index.ChildrenEnd(contextNumbers_[e]) - index.ChildrenBegin(contextNumbers_[e]);
    }
    out.Reserve(std::min<std::size_t>(children, matches.Total(index)));
  }
  std::uint64_t visited = 0;
  for (unsigned e = 0; e < in.Count(); ++e) {
    const std::uint32_t parent = contextNumbers_[e];
    if (parent == 0) continue;
    visited += index.ChildrenEnd(parent) - index.ChildrenBegin(parent);
    for (const std::uint32_t* c = index.ChildrenBegin(parent); c != index.ChildrenEnd(parent); ++c) {
      if (!matches(*c)) continue;
      if (!places) {
        out.AddUnique(index.Node(*c), 0, *c);
        continue;
      }
      const bool element = index.IsElement(*c);
      std::uint32_t place = element ? (plan.byName ? index.NamedPlace(*c) : index.Place(*c)) : 0;
      if (plan.constant) {
        if (!element) continue;
        plan.anyCandidate = true;
        if (static_cast<std::int64_t>(place) == plan.wanted) {
          out.AddUnique(index.Node(*c), place, *c);
          break;
        }
        if (plan.wanted < 1) break;
        continue;
      }
      out.AddUnique(index.Node(*c), place, *c);
    }
  }
  Count(visited);
  out.SetOrder(ordered ? NodeSet::Order::Document : NodeSet::Order::Pending);
  out.SetFlat(in.IsFlat());
  return plan.constant;
}

// Children of a context that holds a good part of the tree: one pass over
// the whole index, in document order, keeps the nodes whose parent is in
// the context, rather than a jump to every parent's children.
bool xpath_processor::ScanChildren(const IndexedTest& matches, const NodeSet& in, NodeSet& out, StepPlan& plan) {
  const DocumentIndex& index = *index_;
  Count(index.Size());
  std::vector<bool>& parents = contextMembers_;
  parents.assign(index.Size(), false);
  for (unsigned e = 0; e < in.Count(); ++e) parents[contextNumbers_[e]] = true;
  parents[0] = false;  // the mark of entries that are not elements
  if (!plan.constant) out.Reserve(matches.Total(index));
  const bool places = plan.positions || plan.constant;
  matches.Scan(2, index.Size(), [&](std::uint32_t n) {
    if (!parents[index.Parent(n)]) return;
    const bool element = index.IsElement(n);
    const std::uint32_t place = places && element ? (plan.byName ? index.NamedPlace(n) : index.Place(n)) : 0;
    if (plan.constant) {
      if (!element) return;
      plan.anyCandidate = true;
      if (static_cast<std::int64_t>(place) == plan.wanted) out.AddUnique(index.Node(n), place, n);
      return;
    }
    out.AddUnique(index.Node(n), place, n);
  });
  out.SetOrder(NodeSet::Order::Document);
  out.SetFlat(in.IsFlat());
  return plan.constant;
}

// As DescendantAxis: a subtree is a run of numbers, so the walk is a scan
// of the index's keys; context nodes inside a subtree already scanned are
// passed over.
bool xpath_processor::IndexedDescendantAxis(const Instruction& step, const NodeSet& in, NodeSet& out,
                                            StepPlan& plan, bool orSelf) {
  const DocumentIndex& index = *index_;
  const IndexedTest matches(index, step.test, step.text, acceptedNames_);
  const bool places = plan.positions || plan.constant;
  auto placeOf = [&](std::uint32_t n) -> std::uint32_t {
    if (!places || !index.IsElement(n)) return 0;
    return plan.byName ? index.NamedPlace(n) : index.Place(n);
  };
  auto offer = [&](std::uint32_t n) {
    const std::uint32_t place = placeOf(n);
    if (plan.constant) {
      if (!index.IsElement(n)) return;
      plan.anyCandidate = true;
      if (static_cast<std::int64_t>(place) == plan.wanted) out.AddUnique(index.Node(n), place, n);
      return;
    }
    out.AddUnique(index.Node(n), place, n);
  };
  const unsigned count = in.Count();
  if (!plan.constant) {
    std::size_t below = 0;
    for (unsigned next = 0; next < count;) {
      const std::uint32_t top = contextNumbers_[next++];
      if (top == 0) continue;
      const std::uint32_t end = index.SubtreeEnd(top);
      below += end - top;
      while (next < count && contextNumbers_[next] < end) ++next;
    }
    out.Reserve(std::min<std::size_t>(below, matches.Total(index)));
  }
  unsigned next = 0;
  while (next < count) {
    const std::uint32_t top = contextNumbers_[next++];
    if (top == 0) continue;
    if (orSelf && top != 1 && matches(top)) offer(top);
    const std::uint32_t end = index.SubtreeEnd(top);
    matches.Scan(top + 1, end, offer);
    while (next < count && contextNumbers_[next] < end) ++next;
  }
  out.SetOrder(NodeSet::Order::Document);
  out.SetFlat(false);
  return plan.constant;
}

void xpath_processor::AttributeAxis(const Instruction& step, const NodeSet& in, NodeSet& out) {
  const unsigned count = in.Count();
  // An element has each attribute name once.
  if (step.test == test_name) out.Reserve(count);
  // A name test over a context the index numbered reads names and
  // attributes from the index, without touching the elements or the
  // attribute chains.
  const bool indexed = index_ != nullptr && step.test == test_name;
  const std::uint32_t indexedName = indexed ? step.attributeId : 0;
  for (unsigned e = 0; e < count; ++e) {
    if (indexedName != 0) {
      PrefetchAttributesAhead(*index_, indexedName, &in.At(e), count - e);
    } else {
      PrefetchAhead(&in.At(e), count - e);
    }
    const NodeSet::Entry& entry = in.At(e);
    if (indexed && !entry.isAttribute && entry.number != 0) {
      if (indexedName == 0) continue;
      if (const DocumentIndex::Attribute* a = index_->FindAttribute(entry.number, indexedName)) {
        std::uint32_t place = static_cast<std::uint32_t>(a - index_->AttributesBegin(entry.number));
        out.AddUnique(a->attribute, static_cast<TiXmlNode*>(entry.item), place);
      }
      continue;
    }
    if (!IsElementEntry(entry)) continue;
    TiXmlElement* element = static_cast<TiXmlElement*>(static_cast<TiXmlNode*>(entry.item));
    std::uint32_t index = 0;
    for (TiXmlAttribute* a = element->FirstAttribute(); a != nullptr; a = a->Next(), ++index) {
      if (!AttributeMatches(a, step.test, step.text)) continue;
      out.AddUnique(a, element, index);
      if (step.test == test_name) break;  // names are unique within an element
    }
  }
  out.SetOrder(in.GetOrder() == NodeSet::Order::Document ? NodeSet::Order::Document : NodeSet::Order::Pending);
  out.SetFlat(true);
}

void xpath_processor::SelfAxis(const Instruction& step, const NodeSet& in, NodeSet& out) {
  for (unsigned e = 0; e < in.Count(); ++e) {
    const NodeSet::Entry& entry = in.At(e);
    if (!IsElementEntry(entry) || entry.item == root_) continue;
    if (Matches(static_cast<TiXmlNode*>(entry.item), step.test, step.text)) out.AddUnique(entry);
  }
  out.SetOrder(in.GetOrder());
  out.SetFlat(in.IsFlat());
}

void xpath_processor::ParentAxis(const Instruction& step, const NodeSet& in, NodeSet& out) {
  for (unsigned e = 0; e < in.Count(); ++e) {
    const NodeSet::Entry& entry = in.At(e);
    if (!IsElementEntry(entry)) continue;
    TiXmlNode* parent = view_.Parent(static_cast<TiXmlNode*>(entry.item));
    if (parent != nullptr && Matches(parent, step.test, step.text)) out.Add(parent);
  }
  out.SetOrder(NodeSet::Order::Pending);
  out.SetFlat(false);
}

// A climb stops at the first ancestor an earlier climb went through, as
// everything above it is done already.
void xpath_processor::AncestorAxis(const Instruction& step, const NodeSet& in, NodeSet& out, bool orSelf) {
  visited_.Clear();
  for (unsigned e = 0; e < in.Count(); ++e) {
    const NodeSet::Entry& entry = in.At(e);
    if (!IsElementEntry(entry)) continue;
    TiXmlNode* node = static_cast<TiXmlNode*>(entry.item);
    if (orSelf && node != root_ && Matches(node, step.test, step.text)) out.Add(node);
    for (TiXmlNode* up = view_.Parent(node); up != nullptr && up != root_; up = view_.Parent(up)) {
      Count(kLinkedStep);
      if (!visited_.Insert(up)) break;
      if (Matches(up, step.test, step.text)) out.Add(up);
    }
  }
  out.SetOrder(NodeSet::Order::Pending);
  out.SetFlat(false);
}

// Notes the context elements and returns their parents, each once, in the
// order of the context.
std::vector<TiXmlNode*> xpath_processor::ContextParents(const NodeSet& in) {
  contextNodes_.Clear();
  parents_.Clear();
  std::vector<TiXmlNode*> parents;
  for (unsigned e = 0; e < in.Count(); ++e) {
    if (IsElementEntry(in.At(e))) contextNodes_.Insert(in.At(e).item);
  }
  for (unsigned e = 0; e < in.Count(); ++e) {
    const NodeSet::Entry& entry = in.At(e);
    if (!IsElementEntry(entry)) continue;
    TiXmlNode* parent = view_.Parent(static_cast<TiXmlNode*>(entry.item));
    // The synthetic root's only child, the base node, has no siblings.
    if (parent != nullptr && parent != root_ && parents_.Insert(parent)) parents.push_back(parent);
  }
  return parents;
}

// Per parent, the first context child (following) or the last one
// (preceding) sees every sibling the others see, so each parent's children
// are walked once.
void xpath_processor::SiblingAxis(const Instruction& step, const NodeSet& in, NodeSet& out, bool following) {
  std::uint64_t visited = 0;
  for (TiXmlNode* parent : ContextParents(in)) {
    bool passed = false;
    if (following) {
      for (TiXmlNode* s = parent->FirstChild(); s != nullptr; s = s->NextSibling()) {
        ++visited;
        if (passed && ElementMatches(s, step.test, step.text)) out.AddUnique(s);
        if (!passed && contextNodes_.Contains(s)) passed = true;
      }
    } else {
      for (TiXmlNode* s = parent->LastChild(); s != nullptr; s = s->PreviousSibling()) {
        ++visited;
        if (passed && ElementMatches(s, step.test, step.text)) out.AddUnique(s);
        if (!passed && contextNodes_.Contains(s)) passed = true;
      }
    }
  }
  Count(kLinkedStep * visited);
  out.SetOrder(following && parents_.Size() <= 1 ? NodeSet::Order::Document : NodeSet::Order::Pending);
  out.SetFlat(false);
}

// Following sibling elements that match, each with its matching children
// (one level), then the same from the parent and each further ancestor.
// Context nodes come in document order, so a climb that reaches a parent
// an earlier climb went through has nothing new to add.
void xpath_processor::FollowingAxis(const Instruction& step, NodeSet& in, NodeSet& out) {
  in.Sort();
  parents_.Clear();
  std::uint64_t visited = 0;
  for (unsigned e = 0; e < in.Count(); ++e) {
    const NodeSet::Entry& entry = in.At(e);
    if (!IsElementEntry(entry)) continue;
    for (TiXmlNode* x = static_cast<TiXmlNode*>(entry.item);;) {
      TiXmlNode* parent = view_.Parent(x);
      if (parent == nullptr || !parents_.Insert(parent)) break;
      for (TiXmlNode* s = view_.NextSibling(x); s != nullptr; s = s->NextSibling()) {
        ++visited;
        if (!ElementMatches(s, step.test, step.text)) continue;
        out.Add(s);
        for (TiXmlNode* child = s->FirstChild(); child != nullptr; child = child->NextSibling()) {
          ++visited;
          if (ElementMatches(child, step.test, step.text)) out.Add(child);
        }
      }
      x = parent;
    }
  }
  Count(kLinkedStep * visited);
  out.SetOrder(NodeSet::Order::Pending);
  out.SetFlat(false);
}

// Preceding sibling elements that match, each with its matching children
// (one level); ancestors are not visited.
void xpath_processor::PrecedingAxis(const Instruction& step, const NodeSet& in, NodeSet& out) {
  std::uint64_t visited = 0;
  for (TiXmlNode* parent : ContextParents(in)) {
    bool passed = false;
    for (TiXmlNode* s = parent->LastChild(); s != nullptr; s = s->PreviousSibling()) {
      ++visited;
      if (!passed) {
        passed = contextNodes_.Contains(s);
        continue;
      }
      if (!ElementMatches(s, step.test, step.text)) continue;
      out.Add(s);
      for (TiXmlNode* child = s->FirstChild(); child != nullptr; child = child->NextSibling()) {
        ++visited;
        if (ElementMatches(child, step.test, step.text)) out.Add(child);
      }
    }
  }
  Count(kLinkedStep * visited);
  out.SetOrder(NodeSet::Order::Pending);
  out.SetFlat(false);
}

}  // namespace XPath
