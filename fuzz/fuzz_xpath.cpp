// The XPath evaluator: the input is an expression, evaluated in every form
// the inventory page uses over one small inventory document held in
// TinyXML. The document must come out of every evaluation exactly as it
// went in: same nodes in the same places, same text.
#include "inventory/XPathProcessor.h"
#include "support/FuzzCheck.h"

#include <tinyxml.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

const char kInventory[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<inv machine=\"WS-7\" build=\"19045\" ratio=\"1.5\">\n"
    "  <!-- scanned by the fuzz target -->\n"
    "  <hw>\n"
    "    <cpu cores=\"4\" mhz=\"2400.5\">Core <b>i5</b> tail</cpu>\n"
    "    <mem total=\"16\"><slot n=\"1\" size=\"8\"/><slot n=\"2\" size=\"8\"/></mem>\n"
    "    <disk id=\"0\" size=\"500\"><part letter=\"C:\" free=\"1.25\"/><part letter=\"D:\" free=\"-3\"/></disk>\n"
    "  </hw>\n"
    "  <item id=\"a\" n=\"1\">first</item>\n"
    "  <note>x &lt; y</note>\n"
    "  <item id=\"b\" n=\"2\"><item id=\"c\" n=\"2147483647\"/></item>\n"
    "  <sw><product name=\"Tool\" version=\"9.50\"/><product name=\"Suite\" version=\"23.01\"/><empty/></sw>\n"
    "  <inv>nested</inv>\n"
    "</inv>\n";

struct Fixture {
  Fixture() {
    document.Parse(kInventory);
    FUZZ_CHECK(!document.Error() && document.RootElement() != nullptr);
    printed = Print();
    Walk(&document, nodes);
  }

  std::string Print() const {
    TiXmlPrinter printer;
    document.Accept(&printer);
    return printer.CStr();
  }

  // Every node with its parent and both siblings, in pre-order.
  static void Walk(const TiXmlNode* root, std::vector<const void*>& out) {
    std::vector<const TiXmlNode*> pending{root};
    while (!pending.empty()) {
      const TiXmlNode* node = pending.back();
      pending.pop_back();
      out.push_back(node);
      out.push_back(node->Parent());
      out.push_back(node->PreviousSibling());
      out.push_back(node->NextSibling());
      std::vector<const TiXmlNode*> children;
      for (const TiXmlNode* child = node->FirstChild(); child != nullptr; child = child->NextSibling())
        children.push_back(child);
      for (auto it = children.rbegin(); it != children.rend(); ++it) pending.push_back(*it);
    }
  }

  void CheckUnchanged(const char* after) const {
    std::vector<const void*> now;
    Walk(&document, now);
    FUZZ_CHECK_DETAIL(now == nodes, std::string("tree links changed after ") + after);
    FUZZ_CHECK_DETAIL(Print() == printed, std::string("document text changed after ") + after);
  }

  TiXmlDocument document;
  std::string printed;
  std::vector<const void*> nodes;
};

bool IsTreeNode(const TiXmlNode* node, const TiXmlDocument& document) {
  for (const TiXmlNode* n = node; n != nullptr; n = n->Parent())
    if (n == &document) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture fixture;
  // The page hands the evaluator a text: it ends at the first NUL.
  const std::string expression(reinterpret_cast<const char*>(data), size);
  TiXmlElement* base = fixture.document.RootElement();

  XPath::xpath_processor processor(base, expression.c_str());
  const std::string text = processor.ComputeString();
  fixture.CheckUnchanged("ComputeString");
  if (processor.GetErrorKind() != XPath::ErrorKind::None) FUZZ_CHECK(text == "false");

  const unsigned count = processor.ComputeNodeSet();
  fixture.CheckUnchanged("ComputeNodeSet");
  if (processor.GetErrorKind() != XPath::ErrorKind::None) FUZZ_CHECK(count == 0);
  for (unsigned i = 0; i <= count; ++i) {
    TiXmlNode* node = processor.GetNode(i);
    TiXmlAttribute* attribute = processor.GetAttribute(i);
    if (i == count) {
      FUZZ_CHECK(node == nullptr && attribute == nullptr);
      break;
    }
    FUZZ_CHECK((node == nullptr) != (attribute == nullptr));
    // Entries are nodes of the document, never the evaluator's own root.
    if (node != nullptr) FUZZ_CHECK(IsTreeNode(node, fixture.document));
  }

  (void)processor.ComputeInteger();
  const double number = processor.ComputeNumber();
  (void)number;
  const bool truth = processor.ComputeBoolean();
  if (processor.GetErrorKind() != XPath::ErrorKind::None) FUZZ_CHECK(!truth);
  fixture.CheckUnchanged("the other computations");

  // Evaluating again gives the same.
  FUZZ_CHECK(processor.ComputeString() == text);
  fixture.CheckUnchanged("a second ComputeString");
  return 0;
}
