#include "server/UrlParsing.h"

#include <gtest/gtest.h>

namespace {

struct Split {
  char scheme[16], user[16], password[16], host[64], path[128], remainder[128];
  std::uint16_t port = 0;
  int result = -1;
  explicit Split(const char* url, std::size_t pathSize = 128) {
    SplitUrlOutputs out;
    out.scheme = scheme;
    out.schemeSize = sizeof scheme;
    out.user = user;
    out.userSize = sizeof user;
    out.password = password;
    out.passwordSize = sizeof password;
    out.host = host;
    out.hostSize = sizeof host;
    out.port = &port;
    out.path = path;
    out.pathSize = pathSize;
    out.remainder = remainder;
    out.remainderSize = sizeof remainder;
    result = SplitUrl(url, out);
  }
};

TEST(SplitUrl, RequestTargetsAndHostPort) {
  Split a("/status?x=1");
  EXPECT_EQ(a.result, 0);
  EXPECT_STREQ(a.scheme, "");
  EXPECT_STREQ(a.host, "");
  EXPECT_STREQ(a.path, "/status");
  EXPECT_STREQ(a.remainder, "?x=1");
  EXPECT_EQ(a.port, 0);

  Split b("myhost:8080/a");
  EXPECT_STREQ(b.scheme, "");
  EXPECT_STREQ(b.host, "myhost");
  EXPECT_EQ(b.port, 8080);
  EXPECT_STREQ(b.path, "/a");

  Split c("  /x;p#f  ");
  EXPECT_STREQ(c.path, "/x");
  EXPECT_STREQ(c.remainder, ";p#f");

  Split empty("   ");
  EXPECT_EQ(empty.result, 0);
  EXPECT_STREQ(empty.path, "");
}

TEST(SplitUrl, FullUrlsPortsAndDefaults) {
  Split a("http://u:p@[::1]:99/x#frag");
  EXPECT_EQ(a.result, 0);
  EXPECT_STREQ(a.scheme, "http");
  EXPECT_STREQ(a.user, "u");
  EXPECT_STREQ(a.password, "p");
  EXPECT_STREQ(a.host, "[::1]");
  EXPECT_EQ(a.port, 99);
  EXPECT_STREQ(a.path, "/x");
  EXPECT_STREQ(a.remainder, "#frag");

  EXPECT_EQ(Split("http://h:70000/").result, 1);
  EXPECT_EQ(Split("http://host:/").result, 1);
  // A one-letter host before ":/" reads as a drive letter.
  EXPECT_STREQ(Split("http://h:/").path, "h:/");
  EXPECT_EQ(Split("http://h:12x/").result, 1);
  EXPECT_EQ(Split("https://h/p").port, 443);
  EXPECT_EQ(Split("FTP://h").port, 21);
  EXPECT_EQ(Split("http://h:8/").port, 8);
  EXPECT_EQ(Split("unknown://h/").port, 0);
  // The last "@" ends the user information.
  Split at("http://a@b@host/");
  EXPECT_STREQ(at.user, "a@b");
  EXPECT_STREQ(at.host, "host");
}

TEST(SplitUrl, DrivePathsFilesAndTruncation) {
  Split drive("C:\\dir\\file.xml");
  EXPECT_STREQ(drive.scheme, "");
  EXPECT_STREQ(drive.host, "");
  EXPECT_STREQ(drive.path, "C:\\dir\\file.xml");

  Split file("file://C:/x/y?q");
  EXPECT_STREQ(file.scheme, "file");
  EXPECT_STREQ(file.path, "C:/x/y");
  EXPECT_STREQ(file.remainder, "?q");

  Split cut("/abcdefghij", 5);
  EXPECT_STREQ(cut.path, "/abc");

  // Outputs not asked for are left alone; none crashes on null.
  SplitUrlOutputs none;
  EXPECT_EQ(SplitUrl("http://h:1/", none), 0);
  EXPECT_EQ(SplitUrl(nullptr, none), 0);

  // A buffer of size 0 is never written, not even its terminator.
  char guard[2] = {'x', 'y'};
  char path[16];
  SplitUrlOutputs zero;
  zero.host = guard;
  zero.hostSize = 0;
  zero.path = path;
  zero.pathSize = sizeof path;
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
  QueryStringMap map("a=1&&b=2&a=3&flag");
  EXPECT_EQ(map.Value("a"), "3");
  EXPECT_EQ(map.Value("b"), "2");
  EXPECT_FALSE(map.Has("flag"));
  EXPECT_EQ(map.Size(), 2u);
  EXPECT_EQ(map.Value("missing"), "");

  EXPECT_EQ(QueryStringMap("x=%3Dy").Value("x"), "=y");
  QueryStringMap encoded("n%3Dv=1");
  EXPECT_EQ(encoded.Value("n"), "v=1");
  EXPECT_FALSE(encoded.Has("n=v"));
  // An encoded "&" is not a separator: only "=" splits a decoded piece.
  QueryStringMap amp("k=a%26b");
  EXPECT_EQ(amp.Value("k"), "a&b");

  QueryStringMap emptyValue("&empty=&");
  EXPECT_TRUE(emptyValue.Has("empty"));
  EXPECT_EQ(emptyValue.Value("empty"), "");
  EXPECT_FALSE(QueryStringMap("Data=1").Has("data"));
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
