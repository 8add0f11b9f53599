#include "config/XmlNode.h"

#include "config/XmlEscape.h"

#include <algorithm>
#include <new>

namespace {

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool Converts(XmlKind kind) { return kind != XmlKind::Comment && kind != XmlKind::RawMarkup; }

const std::string& EmptyString() {
  static const std::string empty;
  return empty;
}

}  // namespace

XmlNode::XmlNode(XmlKind kind, std::string name, std::string value)
    : kind_(kind), name_(std::move(name)), value_(std::move(value)) {}

XmlNode::~XmlNode() {
  Unlink();
  // Flatten the subtree into a work list so that destruction never recurses:
  // every node is emptied before it is deleted.
  std::vector<XmlNode*> pending;
  MoveOwnedTo(pending);
  while (!pending.empty()) {
    XmlNode* node = pending.back();
    pending.pop_back();
    node->MoveOwnedTo(pending);
    delete node;
  }
}

void XmlNode::MoveOwnedTo(std::vector<XmlNode*>& pending) {
  for (XmlNode* node : attributes_) node->parent_ = nullptr;
  for (XmlNode* node : children_) node->parent_ = nullptr;
  pending.insert(pending.end(), attributes_.begin(), attributes_.end());
  pending.insert(pending.end(), children_.begin(), children_.end());
  attributes_.clear();
  children_.clear();
}

void XmlNode::Unlink() {
  if (parent_ == nullptr) return;
  std::vector<XmlNode*>& list = kind_ == XmlKind::Attribute ? parent_->attributes_ : parent_->children_;
  // Nodes are usually removed from near the end; search backwards.
  auto it = std::find(list.rbegin(), list.rend(), this);
  if (it != list.rend()) list.erase(std::next(it).base());
  parent_ = nullptr;
}

const std::string& XmlNode::Value() const {
  if (value_.empty() && !text_.empty()) {
    if (!Converts(kind_)) return text_;
    std::string decoded = UnescapeXml(text_);
    // An empty result is not stored, so that reading stays free of writes.
    if (decoded.empty()) return EmptyString();
    value_ = std::move(decoded);
  }
  return value_;
}

const std::string& XmlNode::Text() const {
  if (text_.empty() && !value_.empty()) {
    if (!Converts(kind_)) return value_;
    text_ = EscapeXml(value_, kind_ == XmlKind::Attribute ? XmlEscapeMode::AttributeValue
                                                          : XmlEscapeMode::ElementText);
  }
  return text_;
}

void XmlNode::SetValue(std::string value) {
  value_ = std::move(value);
  text_.clear();
}

void XmlNode::SetText(std::string text) {
  text_ = std::move(text);
  value_.clear();
}

void XmlNode::AppendText(std::string_view text) {
  if (text.empty()) return;
  if (text_.empty() && !value_.empty()) text_ = Text();
  text_.append(text);
  value_.clear();
}

XmlNode* XmlNode::AddAttribute(std::string name, std::string value) {
  XmlNode* node = new XmlNode(XmlKind::Attribute, std::move(name), std::move(value));
  AddChild(this, node);
  return node;
}

XmlNode* XmlNode::AddElement(std::string name, std::string value) {
  XmlNode* node = new XmlNode(XmlKind::Element, std::move(name), std::move(value));
  AddChild(this, node);
  return node;
}

bool XmlNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  return true;
}

XmlNode* FindAttribute(const XmlNode* node, std::string_view name) {
  if (node == nullptr) return nullptr;
  for (XmlNode* attribute : node->Attributes())
    if (XmlNamesEqual(attribute->Name(), name)) return attribute;
  return nullptr;
}

XmlNode* FindElement(const XmlNode* node, std::string_view path) {
  if (node == nullptr) return nullptr;
  std::vector<std::string_view> names;
  for (std::size_t start = 0;;) {
    const std::size_t slash = path.find('/', start);
    names.push_back(path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  for (std::string_view name : names)
    if (name.empty()) return nullptr;

  // Depth-first over the matching children, one work entry per path level.
  struct Step {
    const XmlNode* node;
    std::size_t next;
  };
  std::vector<Step> steps{{node, 0}};
  while (!steps.empty()) {
    Step& step = steps.back();
    const std::size_t level = steps.size() - 1;
    const std::vector<XmlNode*>& children = step.node->Children();
    bool descended = false;
    while (step.next < children.size()) {
      XmlNode* child = children[step.next++];
      if (child->Kind() != XmlKind::Element || !XmlNamesEqual(child->Name(), names[level])) continue;
      if (level + 1 == names.size()) return child;
      steps.push_back({child, 0});
      descended = true;
      break;
    }
    if (!descended) steps.pop_back();
  }
  return nullptr;
}

int AddChild(XmlNode* parent, XmlNode* node) {
  if (parent == nullptr || node == nullptr || parent == node) return 1;
  // Only a node with children can hold the parent; fresh nodes skip the walk.
  if (!node->children_.empty())
    for (const XmlNode* up = parent; up != nullptr; up = up->parent_)
      if (up == node) return 1;
  node->Unlink();
  node->parent_ = parent;
  (node->kind_ == XmlKind::Attribute ? parent->attributes_ : parent->children_).push_back(node);
  return 0;
}

int RemoveNode(XmlNode* node) {
  if (node == nullptr) return 1;
  if (node->parent_ == nullptr) return node->kind_ == XmlKind::Document ? 0 : 1;
  node->Unlink();
  return 0;
}

int DeleteNode(XmlNode* node) {
  const int result = RemoveNode(node);
  if (result == 0) delete node;
  return result;
}

XmlNode* CloneNode(const XmlNode* node, XmlNode* newParent) {
  if (node == nullptr) return nullptr;
  XmlNode* root = nullptr;
  try {
    auto shallow = [](const XmlNode* source) {
      XmlNode* copy = new XmlNode(source->kind_, source->name_);
      copy->value_ = source->value_;
      copy->text_ = source->text_;
      copy->cdata_ = source->cdata_;
      return copy;
    };
    root = shallow(node);
    // Pairs of (original, copy) whose attributes and children are still to be copied.
    std::vector<std::pair<const XmlNode*, XmlNode*>> work{{node, root}};
    while (!work.empty()) {
      auto [source, copy] = work.back();
      work.pop_back();
      for (const XmlNode* attribute : source->attributes_) {
        XmlNode* attributeCopy = shallow(attribute);
        attributeCopy->parent_ = copy;
        copy->attributes_.push_back(attributeCopy);
      }
      for (const XmlNode* child : source->children_) {
        XmlNode* childCopy = shallow(child);
        childCopy->parent_ = copy;
        copy->children_.push_back(childCopy);
        work.emplace_back(child, childCopy);
      }
    }
  } catch (const std::bad_alloc&) {
    delete root;
    return nullptr;
  }
  if (newParent != nullptr) AddChild(newParent, root);
  return root;
}
