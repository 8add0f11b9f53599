// What one XPath evaluation answers, in a form the tests compare. Header
// only: the test support library does not link the evaluator.
#pragma once

#include "inventory/XPathIndex.h"
#include "inventory/XPathProcessor.h"

#include <tinyxml.h>

#include <string>
#include <vector>

namespace testing_support {

struct XPathAnswer {
  // The string value, or how the evaluation failed: "error <code>" for an
  // execution error, "syntax error", "overflow", "stack error".
  std::string text;
  // The node set's entries, comma-separated: an element's attribute k when
  // it has one, else its name; "@name=value" for an attribute;
  // "text:..." and "comment:..." for other nodes. Empty after a failure.
  std::string keys;
  // The same entries as pointers (nodes and attributes).
  std::vector<const void*> entries;
  XPath::ResultKind kind = XPath::ResultKind::Invalid;

  // What a table of expectations names: the entries of a node set, else
  // the text.
  const std::string& Value() const { return kind == XPath::ResultKind::NodeSet ? keys : text; }
  bool operator==(const XPathAnswer& o) const { return text == o.text && entries == o.entries && kind == o.kind; }
};

inline std::string XPathEntryKey(const TiXmlNode* node, const TiXmlAttribute* attribute) {
  if (attribute != nullptr) return std::string("@") + attribute->Name() + "=" + attribute->Value();
  if (node == nullptr) return "?";
  if (const TiXmlElement* element = node->ToElement()) {
    const char* k = element->Attribute("k");
    return k != nullptr ? k : element->Value();
  }
  return std::string(node->ToText() != nullptr ? "text:" : "comment:") + node->Value();
}

inline XPathAnswer EvaluateXPath(TiXmlNode* base, const std::string& expression,
                                 const XPath::DocumentIndex* index = nullptr) {
  XPathAnswer answer;
  XPath::xpath_processor processor(base, expression.c_str(), index);
  answer.text = processor.ComputeString();
  answer.kind = processor.GetResult().Kind();
  switch (processor.GetErrorKind()) {
    case XPath::ErrorKind::None: break;
    case XPath::ErrorKind::Syntax: return answer.text = "syntax error", answer;
    case XPath::ErrorKind::Overflow: return answer.text = "overflow", answer;
    case XPath::ErrorKind::Stack: return answer.text = "stack error", answer;
    case XPath::ErrorKind::Execution:
      return answer.text = "error " + std::to_string(processor.GetExecutionCode()), answer;
  }
  const unsigned count = processor.ComputeNodeSet();
  for (unsigned i = 0; i < count; ++i) {
    const TiXmlNode* node = processor.GetNode(i);
    const TiXmlAttribute* attribute = processor.GetAttribute(i);
    answer.keys += (i == 0 ? "" : ",") + XPathEntryKey(node, attribute);
    answer.entries.push_back(node != nullptr ? static_cast<const void*>(node) : attribute);
  }
  return answer;
}

}  // namespace testing_support
