#include "server/UrlParsing.h"

#include <gtest/gtest.h>

namespace {

// The parts of a URL as "scheme|user|password|host|port|path|remainder".
struct Split {
  char scheme[16], user[16], password[16], host[64], path[128], remainder[128];
  std::uint16_t port = 0;
  int result = -1;
  explicit Split(const char* url, std::size_t pathSize = 128) {
    SplitUrlOutputs out{scheme, sizeof scheme, user, sizeof user, password, sizeof password, host, sizeof host,
                        &port, path, pathSize, remainder, sizeof remainder};
    result = SplitUrl(url, out);
  }
  std::string Parts() const {
    return std::string(scheme) + "|" + user + "|" + password + "|" + host + "|" + std::to_string(port) + "|" + path +
           "|" + remainder;
  }
};

TEST(SplitUrl, Forms) {
  struct {
    const char *url, *parts;
  } cases[] = {
      {"/status?x=1", "||||0|/status|?x=1"},
      {"myhost:8080/a", "|||myhost|8080|/a|"},
      {"  /x;p#f  ", "||||0|/x|;p#f"},
      {"   ", "||||0||"},
      {"http://u:p@[::1]:99/x#frag", "http|u|p|[::1]|99|/x|#frag"},
      {"http://a@b@host/", "http|a@b||host|80|/|"},  // the last "@" ends the user information
      {"https://h/p", "https|||h|443|/p|"},
      {"FTP://h", "FTP|||h|21||"},
      {"http://h:8/", "http|||h|8|/|"},
      {"unknown://h/", "unknown|||h|0|/|"},
      {"http://h:/", "http||||80|h:/|"},  // a one-letter host before ":/" reads as a drive letter
      {"C:\\dir\\file.xml", "||||0|C:\\dir\\file.xml|"},
      {"file://C:/x/y?q", "file||||0|C:/x/y|?q"},
  };
  for (const auto& c : cases) {
    Split s(c.url);
    EXPECT_EQ(s.result, 0) << c.url;
    EXPECT_EQ(s.Parts(), c.parts) << c.url;
  }
  for (const char* bad : {"http://h:70000/", "http://host:/", "http://h:12x/"}) EXPECT_EQ(Split(bad).result, 1) << bad;
}

TEST(SplitUrl, Limits) {
  Split cut("/abcdefghij", 5);
  EXPECT_STREQ(cut.path, "/abc");

  // Outputs not asked for are left alone; none crashes on null.
  SplitUrlOutputs none;
  EXPECT_EQ(SplitUrl("http://h:1/", none), 0);
  EXPECT_EQ(SplitUrl(nullptr, none), 0);

  // A buffer of size 0 is never written, not even its terminator.
  char guard[2] = {'x', 'y'};
  char path[16];
  SplitUrlOutputs zero{nullptr, 0, nullptr, 0, nullptr, 0, guard, 0, nullptr, path, sizeof path, nullptr, 0};
  EXPECT_EQ(SplitUrl("http://h:1/p", zero), 0);
  EXPECT_EQ(guard[0], 'x');
  EXPECT_STREQ(path, "/p");
}

TEST(UrlDecode, PlusPercentAndBadEscapes) {
  char out[64];
  EXPECT_EQ(UrlDecode(out, sizeof out, "a%2Bb+c%zz"), 11u);
  EXPECT_STREQ(out, "a+b c%zz");
  UrlDecode(out, sizeof out, "%4a%4A%");
  EXPECT_STREQ(out, "JJ%");
  UrlDecode(out, sizeof out, "%4");
  EXPECT_STREQ(out, "%4");
  // Output is cut, the source still walked to its end.
  char small[4];
  EXPECT_EQ(UrlDecode(small, sizeof small, "abcdefg"), 8u);
  EXPECT_STREQ(small, "abc");
  EXPECT_EQ(UrlDecode(nullptr, 0, "xyz"), 4u);
}

TEST(QueryStringMap, PiecesSeparatorsAndReplacement) {
  // An encoded "&" is not a separator: only "=" splits a decoded piece.
  struct {
    const char *query, *name;
    bool has;
    const char* value;
  } cases[] = {
      {"a=1&&b=2&a=3&flag", "a", true, "3"}, {"a=1&&b=2&a=3&flag", "b", true, "2"},
      {"a=1&&b=2&a=3&flag", "flag", false, ""}, {"a=1&&b=2&a=3&flag", "missing", false, ""},
      {"x=%3Dy", "x", true, "=y"}, {"n%3Dv=1", "n", true, "v=1"}, {"n%3Dv=1", "n=v", false, ""},
      {"k=a%26b", "k", true, "a&b"}, {"&empty=&", "empty", true, ""}, {"Data=1", "data", false, ""},
  };
  for (const auto& c : cases) {
    QueryStringMap map(c.query);
    EXPECT_EQ(map.Has(c.name), c.has) << c.query << " " << c.name;
    EXPECT_EQ(map.Value(c.name), c.value) << c.query << " " << c.name;
  }
  EXPECT_EQ(QueryStringMap("a=1&&b=2&a=3&flag").Size(), 2u);
  EXPECT_EQ(QueryStringMap(nullptr).Size(), 0u);
  EXPECT_EQ(QueryStringMap("").Size(), 0u);
}

TEST(QueryStringMap, GetAllStopsAtFirstMissing) {
  QueryStringMap map("start=1&number=5&data=%2F%2Fx");
  std::vector<std::string> values;
  const char* const present[] = {"data", "start", nullptr};
  EXPECT_TRUE(map.GetAll(present, values));
  EXPECT_EQ(values, (std::vector<std::string>{"//x", "1"}));
  values.clear();
  const char* const partial[] = {"number", "missing", "start", nullptr};
  EXPECT_FALSE(map.GetAll(partial, values));
  EXPECT_EQ(values, (std::vector<std::string>{"5"}));
}

}  // namespace
