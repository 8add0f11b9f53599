// Picking fixed, ordered sets of keys out of a parsed query string.
#pragma once

#include "server/UrlParsing.h"

#include <string>
#include <utility>
#include <vector>

class QueryStringInterpretter {
 public:
  virtual ~QueryStringInterpretter() = default;

  // True when every key is present; the values are then appended in key
  // order. keys is null-terminated.
  static bool Match(const QueryStringMap& query, const char* const* keys, QueryStringInterpretter& into);
  // Value by index, or null beyond the list.
  const char* Value(std::size_t index) const;
  std::size_t Count() const { return values_.size(); }

 protected:
  std::vector<std::string> values_;
};

// An external wake-up: value 0 is the page path, value 1 the cookie.
class ExternalAlarmCommand : public QueryStringInterpretter {
 public:
  static const char* const kKeys[];
  bool MatchQuery(const QueryStringMap& query) { return Match(query, kKeys, *this); }
  const char* Page() const { return Value(0); }
  const char* Cookie() const { return Value(1); }
};

// Language choice: "ln", or "EN" (and no match) when it is missing.
class LanguageSelection : public QueryStringInterpretter {
 public:
  static const char* const kKeys[];
  bool MatchQuery(const QueryStringMap& query);
};

class InstanceSelection : public QueryStringInterpretter {
 public:
  static const char* const kKeys[];
  bool MatchQuery(const QueryStringMap& query) { return Match(query, kKeys, *this); }
};

// A command for a target, from a "target" pair and the "cmd" pair after it.
class TargettedCommand : public QueryStringInterpretter {
 public:
  static const char* const kKeys[];
  TargettedCommand(std::string target, std::string command);
  const char* Target() const { return Value(0); }
  const char* Command() const { return Value(1); }

  // Walks name/value pairs two at a time, each step "target" then "cmd";
  // false for an empty or odd list or any other name.
  static bool FromPairs(const std::vector<std::pair<std::string, std::string>>& pairs,
                        std::vector<TargettedCommand>& commands);
};
