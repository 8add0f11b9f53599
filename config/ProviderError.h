// Errors collected while serving a request, and their XML form that goes in
// front of a reply.
#pragma once

#include <string>
#include <vector>

class XMLAccumulator;

class ProviderError {
 public:
  explicit ProviderError(std::string stringId = std::string()) : stringId_(std::move(stringId)) {}

  void AddParameter(const std::string& name, const std::string& value);

  const std::string& StringId() const { return stringId_; }
  // Alternating names and values, in the order added.
  const std::vector<std::string>& Parameters() const { return parameters_; }

 private:
  std::string stringId_;
  std::vector<std::string> parameters_;
};

class ProviderErrorList {
 public:
  void AddPostError(ProviderError error) { postErrors_.push_back(std::move(error)); }
  void AddGetError(ProviderError error) { getErrors_.push_back(std::move(error)); }
  const std::vector<ProviderError>& PostErrors() const { return postErrors_; }
  const std::vector<ProviderError>& GetErrors() const { return getErrors_; }
  bool IsEmpty() const { return postErrors_.empty() && getErrors_.empty(); }
  void Clear();

  // Writes "providererrorlist" into the accumulator's current element;
  // nothing when both lists are empty.
  void WriteXml(XMLAccumulator& xml) const;
  // Appends the compact XML text (empty when both lists are empty), the form
  // that goes directly before a result.
  void AppendXml(std::string& out) const;

 private:
  std::vector<ProviderError> postErrors_;
  std::vector<ProviderError> getErrors_;
};
