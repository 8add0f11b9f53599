#include "pages/QueryStringInterpretter.h"

const char* const ExternalAlarmCommand::kKeys[] = {"page", "cookie", nullptr};
const char* const LanguageSelection::kKeys[] = {"ln", nullptr};
const char* const InstanceSelection::kKeys[] = {"instance", nullptr};
const char* const TargettedCommand::kKeys[] = {"target", "cmd", nullptr};

bool QueryStringInterpretter::Match(const QueryStringMap& query, const char* const* keys,
                                    QueryStringInterpretter& into) {
  for (const char* const* key = keys; *key != nullptr; ++key)
    if (!query.Has(*key)) return false;
  for (const char* const* key = keys; *key != nullptr; ++key) into.values_.push_back(query.Value(*key));
  return true;
}

const char* QueryStringInterpretter::Value(std::size_t index) const {
  return index < values_.size() ? values_[index].c_str() : nullptr;
}

bool LanguageSelection::MatchQuery(const QueryStringMap& query) {
  if (Match(query, kKeys, *this)) return true;
  values_.push_back("EN");
  return false;
}

TargettedCommand::TargettedCommand(std::string target, std::string command) {
  values_.push_back(std::move(target));
  values_.push_back(std::move(command));
}

bool TargettedCommand::FromPairs(const std::vector<std::pair<std::string, std::string>>& pairs,
                                 std::vector<TargettedCommand>& commands) {
  if (pairs.empty() || pairs.size() % 2 != 0) return false;
  std::vector<TargettedCommand> found;
  for (std::size_t i = 0; i < pairs.size(); i += 2) {
    if (pairs[i].first != kKeys[0] || pairs[i + 1].first != kKeys[1]) return false;
    found.emplace_back(pairs[i].second, pairs[i + 1].second);
  }
  commands.insert(commands.end(), found.begin(), found.end());
  return true;
}
