// Section/key documents of the configuration files: named "section" elements
// holding "key" elements with a name and a value.
//
// A parent argument is a section or the document node (GetRoot); a null
// parent finds nothing. Element names ("section", "key") and the values of
// "name" compare exactly; the attribute names "name" and "value" are found
// with letter case ignored. Every change is refused (null or false) when the
// document is shared, and when the node given does not belong to this
// object's document.
#pragma once

#include "config/XmlNode.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Configuration {
 public:
  Configuration() = default;
  // Deletes the document it owns; a borrowed one is left alone.
  virtual ~Configuration();
  Configuration(const Configuration&) = delete;
  Configuration& operator=(const Configuration&) = delete;

  // The document node; null when nothing is loaded or the text did not parse.
  XmlNode* GetRoot() const { return document_; }

  // The first section child of parent with that name, in document order.
  XmlNode* FindSection(const XmlNode* parent, const std::string& name) const;
  // Appends a new section to parent's children.
  XmlNode* CreateSection(XmlNode* parent, const std::string& name);
  // FindSection, else CreateSection; *created (may be null) tells which.
  XmlNode* FindOrCreateSection(XmlNode* parent, const std::string& name, bool* created = nullptr);

  // The first key child of parent with that name.
  XmlNode* FindKey(const XmlNode* parent, const std::string& name) const;
  // Appends a key with the attributes name, then value.
  XmlNode* CreateKey(XmlNode* parent, const std::string& name, const std::string& value);

  // Replaces the value of an existing key (a key without a value attribute
  // is left alone: false), or creates the key. Numbers are written in
  // decimal. True when the value is stored.
  bool SetValue(XmlNode* parent, const std::string& name, const std::string& value);
  bool SetValue(XmlNode* parent, const std::string& name, const char* value);  // null: false
  bool SetValue(XmlNode* parent, const std::string& name, std::uint32_t value);
  bool SetValue(XmlNode* parent, const std::string& name, std::int32_t value);

  // The key's value; false (value untouched) when the key or its value
  // attribute is missing.
  bool GetValue(const XmlNode* parent, const std::string& name, std::string& value) const;
  // GetValue, then base-10 conversion as strtoul / strtol do with 32-bit
  // numbers: leading white space and sign, leading digits, 0 when there are
  // none, out-of-range values held at the limit.
  bool GetValueUnsigned(const XmlNode* parent, const std::string& name, std::uint32_t& value) const;
  bool GetValueSigned(const XmlNode* parent, const std::string& name, std::int32_t& value) const;

  // Removes and deletes the first matching key of parent.
  bool DeleteKey(XmlNode* parent, const std::string& name);
  // Removes and deletes a section or key; refuses the document node.
  bool DeleteNode(XmlNode* node);

  // Appends the names of parent's key (section) children, in document order;
  // children without a name attribute are skipped.
  void GetKeyNames(const XmlNode* parent, std::vector<std::string>& names) const;
  void GetSectionNames(const XmlNode* parent, std::vector<std::string>& names) const;

  // The file had no content when it was loaded (or nothing is loaded yet).
  bool IsNew() const { return isNew_; }
  // The document is someone else's (a read-only view of it).
  bool IsShared() const { return document_ != nullptr && document_ != owned_.get(); }

 protected:
  // Installs a new owned document, deleting an owned previous one.
  void ReplaceDocument(std::unique_ptr<XmlNode> document);
  // Reads someone else's document: it is never changed nor deleted here.
  void BorrowDocument(XmlNode* document);

  // The document read: the owned one, or a borrowed one.
  XmlNode* document_ = nullptr;
  bool isNew_ = true;

 private:
  std::unique_ptr<XmlNode> owned_;

  // True when changes through this object may touch node.
  bool MayChange(const XmlNode* node) const;
};
