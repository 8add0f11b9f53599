#include "config/ProviderError.h"

#include "config/XMLAccumulator.h"

namespace {

void WriteErrors(XMLAccumulator& xml, const char* listName, const std::vector<ProviderError>& errors) {
  if (errors.empty()) return;
  xml.OpenElement(listName);
  for (const ProviderError& error : errors) {
    xml.OpenElement("providererror");
    xml.AddElement("stringid", error.StringId());
    const std::vector<std::string>& parameters = error.Parameters();
    if (!parameters.empty()) {
      xml.OpenElement("parameters");
      for (std::size_t i = 0; i + 1 < parameters.size(); i += 2) xml.AddElement(parameters[i], parameters[i + 1]);
      xml.CloseElement();
    }
    xml.CloseElement();
  }
  xml.CloseElement();
}

}  // namespace

void ProviderError::AddParameter(const std::string& name, const std::string& value) {
  parameters_.push_back(name);
  parameters_.push_back(value);
}

void ProviderErrorList::Clear() {
  postErrors_.clear();
  getErrors_.clear();
}

void ProviderErrorList::WriteXml(XMLAccumulator& xml) const {
  if (IsEmpty()) return;
  xml.OpenElement("providererrorlist");
  WriteErrors(xml, "posterrors", postErrors_);
  WriteErrors(xml, "geterrors", getErrors_);
  xml.CloseElement();
}

void ProviderErrorList::AppendXml(std::string& out) const {
  if (IsEmpty()) return;
  XMLAccumulator xml;
  WriteXml(xml);
  xml.AppendXml(out, -1);
}
