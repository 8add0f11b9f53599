#include "config/XmlWriter.h"

#include <climits>
#include <string_view>
#include <vector>

const char kXmlByteOrderMark[4] = "\xEF\xBB\xBF";

namespace {

struct CountingSink {
  std::size_t length = 0;
  void Put(std::string_view piece) { length += piece.size(); }
  void Put(char) { ++length; }
  void Repeat(char, int count) { length += static_cast<std::size_t>(count); }
};

struct StringSink {
  std::string& out;
  void Put(std::string_view piece) { out.append(piece); }
  void Put(char c) { out.push_back(c); }
  void Repeat(char c, int count) { out.append(static_cast<std::size_t>(count), c); }
};

int ChildIndent(int indent) { return indent < 0 ? -1 : (indent == INT_MAX ? indent : indent + 1); }

bool IsByteOrderMark(const std::string& value) { return value == kXmlByteOrderMark; }

template <class Sink>
class TreeWriter {
 public:
  explicit TreeWriter(Sink& sink) : sink_(sink) {}

  void Write(const XmlNode* root, int indent, bool byteOrderMark) {
    Open(root, indent, byteOrderMark);
    while (!stack_.empty()) {
      Frame& frame = stack_.back();
      const std::vector<XmlNode*>& children = frame.node->Children();
      if (frame.next < children.size()) {
        const XmlNode* child = children[frame.next++];
        const int childIndent = ChildIndent(frame.indent);
        BeforeChild(frame);
        const std::size_t depth = stack_.size();
        Open(child, childIndent, false);
        if (stack_.size() == depth) AfterChild(stack_.back());
      } else {
        const Frame done = frame;
        stack_.pop_back();
        Close(done);
        if (!stack_.empty()) AfterChild(stack_.back());
      }
    }
  }

 private:
  // A document or element whose children are being written.
  struct Frame {
    const XmlNode* node;
    int indent;
    std::size_t next;
    bool spaced;  // children on their own lines (element without text)
  };

  void Tabs(int count) {
    if (count > 0) sink_.Repeat('\t', count);
  }

  void Attributes(const XmlNode* node) {
    for (const XmlNode* attribute : node->Attributes()) AttributeNode(attribute);
  }

  void AttributeNode(const XmlNode* attribute) {
    sink_.Put(' ');
    sink_.Put(attribute->Name());
    sink_.Put("=\"");
    // A single-quoted value may hold a double quote in its text.
    const std::string& text = attribute->Text();
    std::size_t start = 0;
    for (std::size_t quote; (quote = text.find('"', start)) != std::string::npos; start = quote + 1) {
      sink_.Put(std::string_view(text).substr(start, quote - start));
      sink_.Put("&quot;");
    }
    sink_.Put(std::string_view(text).substr(start));
    sink_.Put('"');
  }

  void Cdata(const std::string& value) {
    sink_.Put("<![CDATA[");
    std::size_t start = 0;
    for (std::size_t end; (end = value.find("]]>", start)) != std::string::npos; start = end + 2) {
      sink_.Put(std::string_view(value).substr(start, end + 2 - start));
      sink_.Put("]]><![CDATA[");
    }
    sink_.Put(std::string_view(value).substr(start));
    sink_.Put("]]>");
  }

  void Open(const XmlNode* node, int indent, bool byteOrderMark) {
    switch (node->Kind()) {
      case XmlKind::Document:
        if (byteOrderMark || IsByteOrderMark(node->Value())) sink_.Put(std::string_view(kXmlByteOrderMark, 3));
        if (!node->Children().empty()) stack_.push_back({node, indent, 0, true});
        break;
      case XmlKind::Element: {
        sink_.Put('<');
        sink_.Put(node->Name());
        Attributes(node);
        const std::string& text = node->Text();
        if (text.empty() && node->Children().empty()) {
          sink_.Put("/>");
          break;
        }
        sink_.Put('>');
        const bool spaced = node->IsCdata() ? node->Value().empty() : text.empty();
        if (spaced && indent >= 0) sink_.Put('\n');
        stack_.push_back({node, indent, 0, spaced});
        break;
      }
      case XmlKind::Attribute:
        AttributeNode(node);
        break;
      case XmlKind::Comment:
        sink_.Put("<!--");
        sink_.Put(node->Value());
        sink_.Put("-->");
        break;
      case XmlKind::RawMarkup:
        sink_.Put(node->Value());
        break;
      case XmlKind::ProcessingInstruction:
        sink_.Put("<?");
        sink_.Put(node->Name());
        Attributes(node);
        sink_.Put("?>");
        break;
    }
  }

  void BeforeChild(const Frame& frame) {
    if (frame.spaced) Tabs(frame.indent);
  }

  void AfterChild(const Frame& frame) {
    if (frame.spaced && frame.indent >= 0) sink_.Put('\n');
  }

  void Close(const Frame& frame) {
    if (frame.spaced) Tabs(frame.indent - 1);
    if (frame.node->Kind() != XmlKind::Element) return;
    if (frame.node->IsCdata() && !frame.node->Value().empty())
      Cdata(frame.node->Value());
    else
      sink_.Put(frame.node->Text());
    sink_.Put("</");
    sink_.Put(frame.node->Name());
    sink_.Put('>');
  }

  Sink& sink_;
  std::vector<Frame> stack_;
};

}  // namespace

std::size_t MeasureXml(const XmlNode* node, int indent, bool byteOrderMark) {
  if (node == nullptr) return 0;
  CountingSink counter;
  TreeWriter<CountingSink>(counter).Write(node, indent, byteOrderMark);
  return counter.length;
}

void SerializeXml(const XmlNode* node, std::string& out, int indent, bool byteOrderMark) {
  if (node == nullptr) return;
  out.reserve(out.size() + MeasureXml(node, indent, byteOrderMark));
  StringSink sink{out};
  TreeWriter<StringSink>(sink).Write(node, indent, byteOrderMark);
}

std::string SerializeXml(const XmlNode* node, int indent, bool byteOrderMark) {
  std::string out;
  SerializeXml(node, out, indent, byteOrderMark);
  return out;
}
