// The provider's XML parser and writer: whatever parses is written compact
// and parsed again, and must come back as the same tree; the writer's length
// measurement, the indented layouts and deep copies are checked on the way.
#include "config/Xml.h"
#include "support/FuzzCheck.h"
#include "support/ModelXmlParser.h"
#include "support/XmlTreeCheck.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

void CheckWriter(const XmlNode* document, int indent, bool byteOrderMark) {
  std::string text = "prefix";
  SerializeXml(document, text, indent, byteOrderMark);
  FUZZ_CHECK(text.compare(0, 6, "prefix") == 0);
  FUZZ_CHECK(text.size() - 6 == MeasureXml(document, indent, byteOrderMark));
  if (byteOrderMark) FUZZ_CHECK(text.compare(6, 3, kXmlByteOrderMark) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  XmlNode* document = nullptr;
  std::string error;
  std::size_t position = 0;
  const int parsed = ParseXml(input, &document, &error, &position);

  // The model searches end tags literally, which is quadratic: short inputs
  // only.
  if (size <= 4096) {
    XmlNode* model = nullptr;
    std::string modelError;
    std::size_t modelPosition = 0;
    const int modelParsed = ModelParseXml(input, &model, &modelError, &modelPosition);
    FUZZ_CHECK_DETAIL(parsed == modelParsed, "parser " + (parsed == 0 ? std::string("succeeds") : error) +
                                                 ", model " + (modelParsed == 0 ? std::string("succeeds") : modelError));
    if (parsed != 0) {
      FUZZ_CHECK_DETAIL(error == modelError && position == modelPosition,
                        "parser " + error + " at " + std::to_string(position) + ", model " + modelError + " at " +
                            std::to_string(modelPosition));
    } else {
      std::string why;
      FUZZ_CHECK_DETAIL(SameXmlTree(document, model, &why), "parser and model: " + why);
      DeleteNode(model);
    }
  }

  if (parsed != 0) {
    FUZZ_CHECK(document == nullptr);
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(position <= size);
    return 0;
  }
  FUZZ_CHECK(document != nullptr && document->Kind() == XmlKind::Document);

  const std::string compact = SerializeXml(document, -1);
  CheckWriter(document, -1, false);
  CheckWriter(document, 0, true);
  CheckWriter(document, 1, false);

  XmlNode* copy = CloneNode(document, nullptr);
  std::string why;
  FUZZ_CHECK_DETAIL(SameXmlTree(document, copy, &why), why);
  FUZZ_CHECK(SerializeXml(copy, -1) == compact);
  DeleteNode(copy);

  if (CompactFormRoundTrips(document)) {
    XmlNode* again = nullptr;
    const int result = ParseXml(compact, &again, &error, &position);
    FUZZ_CHECK_DETAIL(result == 0, "written: " + Printable(compact) + "\nparse error: " + error + " at " +
                                       std::to_string(position));
    FUZZ_CHECK_DETAIL(SameXmlTree(document, again, &why), why + "\nwritten: " + Printable(compact));
    // The written form is a fixed point.
    const std::string twice = SerializeXml(again, -1);
    FUZZ_CHECK_DETAIL(twice == compact, "first: " + Printable(compact) + "\nsecond: " + Printable(twice));
    DeleteNode(again);
  }

  // Lookups along the first elements' names.
  std::string path;
  for (const XmlNode* node = document; node != nullptr;) {
    const XmlNode* next = nullptr;
    for (const XmlNode* child : node->Children())
      if (child->Kind() == XmlKind::Element) {
        next = child;
        break;
      }
    if (next == nullptr || next->Name().find('/') != std::string::npos) break;
    path += (path.empty() ? "" : "/") + next->Name();
    FUZZ_CHECK(FindElement(document, path) != nullptr);
    for (const XmlNode* attribute : next->Attributes()) FUZZ_CHECK(FindAttribute(next, attribute->Name()) != nullptr);
    node = next;
  }

  XMLAccumulator accumulator;
  accumulator.OpenElement("reply", nullptr, nullptr);
  accumulator.AddXml(std::string(input));
  std::string built;
  accumulator.GetXml(built, -1);

  DeleteNode(document);
  return 0;
}
