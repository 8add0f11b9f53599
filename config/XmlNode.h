// The provider's own XML tree: one node class for every kind, owned by the
// parent, with the value (decoded) and text (file form) of a node kept lazily
// in step.
//
// Deep trees: nothing in this library recurses over the tree. Parsing,
// writing, cloning, lookups and destruction keep their own work lists on the
// heap, so nesting depth is limited by memory only, on a 1 MB thread stack as
// well as on 8 MB.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class XmlKind : std::uint32_t {
  Comment = 0,
  Element = 1,
  Attribute = 2,
  ProcessingInstruction = 3,
  RawMarkup = 4,  // a <!...> declaration, kept verbatim
  Document = 5,
};

class XmlNode {
 public:
  explicit XmlNode(XmlKind kind, std::string name = std::string(), std::string value = std::string());
  // Destroys attributes and children; a node still linked to a parent is
  // unlinked first.
  ~XmlNode();
  XmlNode(const XmlNode&) = delete;
  XmlNode& operator=(const XmlNode&) = delete;

  XmlKind Kind() const { return kind_; }
  bool IsCdata() const { return cdata_; }
  void SetCdata(bool cdata) { cdata_ = cdata; }
  XmlNode* Parent() const { return parent_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  // The decoded value; decodes the text first when only the text is known.
  // Comments and raw markup are never converted.
  const std::string& Value() const;
  // The file form; escapes the value first when only the value is known
  // (attribute values with the attribute table, everything else with the
  // element-text table).
  const std::string& Text() const;
  void SetValue(std::string value);  // clears the text
  void SetText(std::string text);    // clears the value
  // Appends character data in file form, as the parser does.
  void AppendText(std::string_view text);

  // Document order; children never hold attributes.
  const std::vector<XmlNode*>& Children() const { return children_; }
  const std::vector<XmlNode*>& Attributes() const { return attributes_; }

  // Convenience: a new attribute (by value) or element child, appended.
  XmlNode* AddAttribute(std::string name, std::string value);
  XmlNode* AddElement(std::string name, std::string value = std::string());

 private:
  friend int AddChild(XmlNode* parent, XmlNode* node);
  friend int RemoveNode(XmlNode* node);
  friend XmlNode* CloneNode(const XmlNode* node, XmlNode* newParent);

  void Unlink();
  void MoveOwnedTo(std::vector<XmlNode*>& pending);

  XmlKind kind_;
  bool cdata_ = false;
  XmlNode* parent_ = nullptr;
  std::string name_;
  // A tree fresh from the parser has both forms filled in, so it can be read
  // (not changed) from several threads at once.
  mutable std::string value_;
  mutable std::string text_;
  std::vector<XmlNode*> children_;
  std::vector<XmlNode*> attributes_;
};

// Names of elements and attributes compare with ASCII letter case ignored.
bool XmlNamesEqual(std::string_view a, std::string_view b);

// The first attribute of that name, or null.
XmlNode* FindAttribute(const XmlNode* node, std::string_view name);

// Element lookup along a path of element names separated by "/" ("a/b/c").
// The last name returns the first matching element child; for an earlier
// name each matching child is searched in turn and the first match found
// below it wins. Null when nothing matches or the path is empty.
XmlNode* FindElement(const XmlNode* node, std::string_view path);

// Links node under parent: attributes at the end of the attribute list,
// everything else at the end of the children. A node that already has a
// parent is moved. Returns 0, or 1 (nothing done) for a null argument or
// when the parent lies inside node.
int AddChild(XmlNode* parent, XmlNode* node);

// Unlinks node from its parent. A node without a parent can be "removed"
// only when it is a document. Returns 0 on success, 1 otherwise.
int RemoveNode(XmlNode* node);

// RemoveNode, then destroys the node when that succeeded (a detached node
// that is not a document is left alone). Returns the RemoveNode result.
int DeleteNode(XmlNode* node);

// Deep copy (kind, name, value, text, cdata, attributes, children), appended
// to newParent when one is given. Null for a null node or when memory runs
// out.
XmlNode* CloneNode(const XmlNode* node, XmlNode* newParent);
