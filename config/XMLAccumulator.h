// Builder of XML replies and generated documents: elements are opened,
// filled and closed in document order under an unnamed document.
#pragma once

#include "config/XmlNode.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Attributes given with an element, added in key order.
using XmlAttributeMap = std::map<std::string, std::string>;

class XMLAccumulator {
 public:
  XMLAccumulator();
  virtual ~XMLAccumulator();
  XMLAccumulator(const XMLAccumulator&) = delete;
  XMLAccumulator& operator=(const XMLAccumulator&) = delete;

  // Appends an element (value = text, empty when null) to the current
  // element and makes it current. Nothing happens when there is no current
  // element.
  void OpenElement(const std::string& name, const char* text = nullptr, const XmlAttributeMap* attributes = nullptr);
  void OpenElement(const std::string& name, const std::string& text, const XmlAttributeMap* attributes = nullptr);
  // Makes the enclosing element current; false when there is no current
  // element. The document itself can be closed too, after which every
  // addition fails.
  bool CloseElement();

  // Attributes of the current element; false when there is none.
  bool AddAttribute(const std::string& name, const char* value);
  bool AddAttribute(const std::string& name, const std::string& value);
  bool AddAttribute(const std::string& name, std::int32_t value);   // "%d"
  bool AddAttribute(const std::string& name, std::uint32_t value);  // "%u"

  // A leaf element appended to the current element, which stays current;
  // false when there is none.
  bool AddElement(const std::string& name, const char* text = nullptr, const XmlAttributeMap* attributes = nullptr);
  bool AddElement(const std::string& name, const std::string& text, const XmlAttributeMap* attributes = nullptr);
  bool AddElement(const std::string& name, std::int32_t value, const XmlAttributeMap* attributes = nullptr);   // "%d"
  bool AddElement(const std::string& name, std::uint32_t value, const XmlAttributeMap* attributes = nullptr);  // "%lu"
  bool AddElement(const std::string& name, std::uint64_t value, const XmlAttributeMap* attributes = nullptr);  // decimal

  // Parses markup and appends its first top-level node to the current
  // element. False (and nothing changed) when it does not parse or there is
  // no current element.
  bool AddXml(const std::string& markup);

  // The document serialized with indent (negative = compact): GetXml
  // replaces out, AppendXml appends to it.
  void GetXml(std::string& out, int indent) const;
  void AppendXml(std::string& out, int indent) const;

  XmlNode* Document() const { return document_; }
  XmlNode* CurrentElement() const { return open_.empty() ? nullptr : open_.back(); }

 private:
  XmlNode* NewLeaf(const std::string& name, std::string value, const XmlAttributeMap* attributes);

  XmlNode* document_;
  std::vector<XmlNode*> open_;  // open elements, the document at the bottom
};
