#include "config/Configuration.h"

#include <cctype>
#include <limits>

namespace {

const char kSection[] = "section";
const char kKey[] = "key";
const char kName[] = "name";
const char kValue[] = "value";

bool IsElementNamed(const XmlNode* node, const char* elementName) {
  return node->Kind() == XmlKind::Element && node->Name() == elementName;
}

XmlNode* FindNamedChild(const XmlNode* parent, const char* elementName, const std::string& name) {
  if (parent == nullptr) return nullptr;
  for (XmlNode* child : parent->Children()) {
    if (!IsElementNamed(child, elementName)) continue;
    const XmlNode* attribute = FindAttribute(child, kName);
    if (attribute != nullptr && attribute->Value() == name) return child;
  }
  return nullptr;
}

void CollectNames(const XmlNode* parent, const char* elementName, std::vector<std::string>& names) {
  if (parent == nullptr) return;
  for (const XmlNode* child : parent->Children()) {
    if (!IsElementNamed(child, elementName)) continue;
    const XmlNode* attribute = FindAttribute(child, kName);
    if (attribute != nullptr) names.push_back(attribute->Value());
  }
}

// Sign and magnitude of a decimal number as strtoul and strtol read it; the
// magnitude stops growing once it is beyond every 32-bit value.
struct DecimalText {
  bool negative = false;
  std::uint64_t magnitude = 0;
};

DecimalText ReadDecimal(const std::string& text) {
  DecimalText number;
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) number.negative = text[i++] == '-';
  const std::uint64_t cap = std::uint64_t(1) << 33;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (number.magnitude < cap) number.magnitude = number.magnitude * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return number;
}

std::uint32_t ToUnsigned32(const DecimalText& number) {
  const std::uint64_t max = std::numeric_limits<std::uint32_t>::max();
  if (number.magnitude > max) return static_cast<std::uint32_t>(max);
  std::uint32_t value = static_cast<std::uint32_t>(number.magnitude);
  return number.negative ? static_cast<std::uint32_t>(0u - value) : value;
}

std::int32_t ToSigned32(const DecimalText& number) {
  if (number.negative) {
    if (number.magnitude >= std::uint64_t(1) << 31) return std::numeric_limits<std::int32_t>::min();
    return -static_cast<std::int32_t>(number.magnitude);
  }
  if (number.magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
    return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(number.magnitude);
}

}  // namespace

Configuration::~Configuration() = default;

void Configuration::ReplaceDocument(std::unique_ptr<XmlNode> document) {
  owned_ = std::move(document);
  document_ = owned_.get();
}

void Configuration::BorrowDocument(XmlNode* document) {
  owned_.reset();
  document_ = document;
}

bool Configuration::MayChange(const XmlNode* node) const {
  if (IsShared() || node == nullptr || document_ == nullptr) return false;
  while (node->Parent() != nullptr) node = node->Parent();
  return node == document_;
}

XmlNode* Configuration::FindSection(const XmlNode* parent, const std::string& name) const {
  return FindNamedChild(parent, kSection, name);
}

XmlNode* Configuration::CreateSection(XmlNode* parent, const std::string& name) {
  if (!MayChange(parent)) return nullptr;
  XmlNode* section = new XmlNode(XmlKind::Element, kSection);
  section->AddAttribute(kName, name);
  if (AddChild(parent, section) != 0) {
    delete section;
    return nullptr;
  }
  return section;
}

XmlNode* Configuration::FindOrCreateSection(XmlNode* parent, const std::string& name, bool* created) {
  if (created != nullptr) *created = false;
  XmlNode* section = FindSection(parent, name);
  if (section != nullptr) return section;
  section = CreateSection(parent, name);
  if (section != nullptr && created != nullptr) *created = true;
  return section;
}

XmlNode* Configuration::FindKey(const XmlNode* parent, const std::string& name) const {
  return FindNamedChild(parent, kKey, name);
}

XmlNode* Configuration::CreateKey(XmlNode* parent, const std::string& name, const std::string& value) {
  if (!MayChange(parent)) return nullptr;
  XmlNode* key = new XmlNode(XmlKind::Element, kKey);
  key->AddAttribute(kName, name);
  key->AddAttribute(kValue, value);
  if (AddChild(parent, key) != 0) {
    delete key;
    return nullptr;
  }
  return key;
}

bool Configuration::SetValue(XmlNode* parent, const std::string& name, const std::string& value) {
  if (!MayChange(parent)) return false;
  XmlNode* key = FindKey(parent, name);
  if (key == nullptr) return CreateKey(parent, name, value) != nullptr;
  XmlNode* attribute = FindAttribute(key, kValue);
  if (attribute == nullptr) return false;
  attribute->SetValue(value);
  return true;
}

bool Configuration::SetValue(XmlNode* parent, const std::string& name, const char* value) {
  if (value == nullptr) return false;
  return SetValue(parent, name, std::string(value));
}

bool Configuration::SetValue(XmlNode* parent, const std::string& name, std::uint32_t value) {
  return SetValue(parent, name, std::to_string(value));
}

bool Configuration::SetValue(XmlNode* parent, const std::string& name, std::int32_t value) {
  return SetValue(parent, name, std::to_string(value));
}

bool Configuration::GetValue(const XmlNode* parent, const std::string& name, std::string& value) const {
  const XmlNode* key = FindKey(parent, name);
  if (key == nullptr) return false;
  const XmlNode* attribute = FindAttribute(key, kValue);
  if (attribute == nullptr) return false;
  value = attribute->Value();
  return true;
}

bool Configuration::GetValueUnsigned(const XmlNode* parent, const std::string& name, std::uint32_t& value) const {
  std::string text;
  if (!GetValue(parent, name, text)) return false;
  value = ToUnsigned32(ReadDecimal(text));
  return true;
}

bool Configuration::GetValueSigned(const XmlNode* parent, const std::string& name, std::int32_t& value) const {
  std::string text;
  if (!GetValue(parent, name, text)) return false;
  value = ToSigned32(ReadDecimal(text));
  return true;
}

bool Configuration::DeleteKey(XmlNode* parent, const std::string& name) {
  if (!MayChange(parent)) return false;
  XmlNode* key = FindKey(parent, name);
  return key != nullptr && ::DeleteNode(key) == 0;
}

bool Configuration::DeleteNode(XmlNode* node) {
  if (node == document_ || !MayChange(node) || node->Kind() == XmlKind::Document) return false;
  return ::DeleteNode(node) == 0;
}

void Configuration::GetKeyNames(const XmlNode* parent, std::vector<std::string>& names) const {
  CollectNames(parent, kKey, names);
}

void Configuration::GetSectionNames(const XmlNode* parent, std::vector<std::string>& names) const {
  CollectNames(parent, kSection, names);
}
