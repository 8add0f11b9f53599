#include "config/XMLAccumulator.h"

#include "config/XmlParser.h"
#include "config/XmlWriter.h"

XMLAccumulator::XMLAccumulator() : document_(new XmlNode(XmlKind::Document, "invisible")) {
  open_.push_back(document_);
}

XMLAccumulator::~XMLAccumulator() { delete document_; }

XmlNode* XMLAccumulator::NewLeaf(const std::string& name, std::string value, const XmlAttributeMap* attributes) {
  XmlNode* current = CurrentElement();
  if (current == nullptr) return nullptr;
  XmlNode* element = current->AddElement(name, std::move(value));
  if (attributes != nullptr)
    for (const auto& [attributeName, attributeValue] : *attributes) element->AddAttribute(attributeName, attributeValue);
  return element;
}

void XMLAccumulator::OpenElement(const std::string& name, const char* text, const XmlAttributeMap* attributes) {
  OpenElement(name, text == nullptr ? std::string() : std::string(text), attributes);
}

void XMLAccumulator::OpenElement(const std::string& name, const std::string& text, const XmlAttributeMap* attributes) {
  if (XmlNode* element = NewLeaf(name, text, attributes)) open_.push_back(element);
}

bool XMLAccumulator::CloseElement() {
  if (open_.empty()) return false;
  open_.pop_back();
  return true;
}

bool XMLAccumulator::AddAttribute(const std::string& name, const char* value) {
  return AddAttribute(name, value == nullptr ? std::string() : std::string(value));
}

bool XMLAccumulator::AddAttribute(const std::string& name, const std::string& value) {
  XmlNode* current = CurrentElement();
  if (current == nullptr) return false;
  current->AddAttribute(name, value);
  return true;
}

bool XMLAccumulator::AddAttribute(const std::string& name, std::int32_t value) {
  return AddAttribute(name, std::to_string(value));
}

bool XMLAccumulator::AddAttribute(const std::string& name, std::uint32_t value) {
  return AddAttribute(name, std::to_string(value));
}

bool XMLAccumulator::AddElement(const std::string& name, const char* text, const XmlAttributeMap* attributes) {
  return NewLeaf(name, text == nullptr ? std::string() : std::string(text), attributes) != nullptr;
}

bool XMLAccumulator::AddElement(const std::string& name, const std::string& text, const XmlAttributeMap* attributes) {
  return NewLeaf(name, text, attributes) != nullptr;
}

bool XMLAccumulator::AddElement(const std::string& name, std::int32_t value, const XmlAttributeMap* attributes) {
  return NewLeaf(name, std::to_string(value), attributes) != nullptr;
}

bool XMLAccumulator::AddElement(const std::string& name, std::uint32_t value, const XmlAttributeMap* attributes) {
  return NewLeaf(name, std::to_string(value), attributes) != nullptr;
}

bool XMLAccumulator::AddElement(const std::string& name, std::uint64_t value, const XmlAttributeMap* attributes) {
  return NewLeaf(name, std::to_string(value), attributes) != nullptr;
}

bool XMLAccumulator::AddXml(const std::string& markup) {
  XmlNode* current = CurrentElement();
  if (current == nullptr) return false;
  XmlNode* parsed = nullptr;
  if (ParseXml(std::string_view(markup), &parsed, nullptr, nullptr) != 0) return false;
  // Moving the first node over gives the same tree as copying it.
  if (!parsed->Children().empty()) AddChild(current, parsed->Children().front());
  delete parsed;
  return true;
}

void XMLAccumulator::GetXml(std::string& out, int indent) const {
  out.clear();
  AppendXml(out, indent);
}

void XMLAccumulator::AppendXml(std::string& out, int indent) const { SerializeXml(document_, out, indent, false); }
