// Asynchronous operation records: the archive, and the requests and
// operations a page answers from it.
#include "pages/AsyncCookie.h"

#include "MemoryChannel.h"
#include "TestSupport.h"
#include "config/ProviderError.h"
#include "config/XMLAccumulator.h"
#include "pages/MonitorPage.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

using testing_support::MemoryChannel;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

// A page and its archive on a clock the test sets.
struct Clocked {
  std::atomic<std::uint32_t> now;
  MonitorPage page{"/async", false};
  AsyncCookieArchive& archive = page.AsyncCookies();
  explicit Clocked(std::uint32_t start = 1000) : now(start) {
    archive.SetClock([this] { return now.load(); });
  }
  AsyncCookie Get(const std::string& id) {
    AsyncCookie record;
    EXPECT_TRUE(archive.Find(id, record)) << id;
    return record;
  }
};

std::string Record(const std::string& attributes, const std::string& outside, const std::string& unique,
                   const std::string& result) {
  return "\t<async-cookie " + attributes + ">\n\t\t<outside>" + outside + "</outside>\n\t\t<unique>" + unique +
         "</unique>\n" + (result.empty() ? "\t\t<result/>\n" : "\t\t<result>" + result + "</result>\n") +
         "\t</async-cookie>\n";
}

// Completion is kept through a later, lower progress; unknown ids are refused.
TEST(AsyncCookieArchive, CompletionAndUnknownIds) {
  Clocked c;
  std::string id = c.archive.CreateCookie("scan", 30, 600).asyncId;
  c.now = 1010;
  EXPECT_TRUE(c.archive.SetCookieResult(id, "<done a=\"1\"/>", 100));
  c.now = 1020;
  EXPECT_TRUE(c.archive.SetCookieResult(id, "<again/>", 50));
  AsyncCookie record = c.Get(id);
  EXPECT_EQ(record.completiontime, 1010u);
  EXPECT_EQ(record.holduntil, 1040u);
  std::string text;
  EXPECT_TRUE(c.archive.GetCookieResult(id, text));
  EXPECT_EQ(text, "<async-complete><again/></async-complete>");
  EXPECT_FALSE(c.archive.SetCookieResult("nobody!1", "x", 100));
  EXPECT_FALSE(c.archive.GetCookieResult("nobody!1", text));
}

TEST(AsyncCookieArchive, AgeingDropsExpiredAndHeldRecordsOnlyWhenStrictlyPast) {
  Clocked c;
  std::string pending = c.archive.CreateCookie("pending", 30, 600).asyncId;  // expires at 1600
  std::string held = c.archive.CreateCookie("held", 30, 600).asyncId;
  c.now = 1010;
  ASSERT_TRUE(c.archive.SetCookieResult(held, "r", 100));  // held until 1040
  std::string longHeld = c.archive.CreateCookie("long", 5000, 10).asyncId;
  ASSERT_TRUE(c.archive.SetCookieResult(longHeld, "r", 100));  // complete: its expiry no longer counts
  AsyncCookie record;
  struct Step {
    std::uint32_t now;
    std::size_t left;
    bool heldLeft, pendingLeft;
  } steps[] = {{1040, 3, true, true}, {1041, 2, false, true}, {1600, 2, false, true}, {1601, 1, false, false}};
  for (const Step& s : steps) {
    c.now = s.now;
    c.archive.AgeCookies();
    SCOPED_TRACE(s.now);
    EXPECT_EQ(c.archive.Size(), s.left);
    EXPECT_EQ(c.archive.Find(held, record), s.heldLeft);
    EXPECT_EQ(c.archive.Find(pending, record), s.pendingLeft);
    EXPECT_EQ(c.archive.LastAged(), s.now);
  }
  c.now = 1000;  // ageing released the numbers of the dropped records
  EXPECT_EQ(c.archive.CreateCookie("again", 30, 600).asyncId, "again!00000003e8");
}

TEST(AsyncCookieArchive, SaveAndLoadRoundTrip) {
  TempDir dir;
  std::string file = dir.File("page.async.xml");
  Clocked c;
  c.archive.SetArchiveName(file);
  EXPECT_FALSE(testing_support::FileExists(file));  // nothing to save yet
  std::string beta = c.archive.CreateCookie("beta", 30, 600).asyncId;
  std::string alpha = c.archive.CreateCookie("alpha", -5, 20).asyncId;
  c.now = 1005;
  ASSERT_TRUE(c.archive.SetCookieResult(beta, "<r a=\"1\">x &amp; y</r>", 100));
  ASSERT_TRUE(c.archive.SetCookieResult(alpha, "half", -3));
  c.archive.Term();
  const std::string betaRecord = Record(
      "holdtime=\"30\" holduntil=\"1035\" creationtime=\"1000\" completiontime=\"1005\" uniquetimet=\"1000\" "
      "progress=\"100\" expiretime=\"1600\"", "beta", "00000003e8", "&lt;r a=&quot;1&quot;&gt;x &amp;amp; y&lt;/r&gt;");
  const std::string expected =
      "<async last-aged=\"1000\">\n" +
      Record("holdtime=\"-5\" holduntil=\"0\" creationtime=\"1000\" completiontime=\"0\" uniquetimet=\"999\" "
             "progress=\"-3\" expiretime=\"1020\"", "alpha", "00000003e7", "half") +
      betaRecord + "</async>\n";
  EXPECT_EQ(ReadFile(file), expected);
  // Unchanged: no second write.
  WriteFile(file, "scribbled");
  c.archive.Term();
  EXPECT_EQ(ReadFile(file), "scribbled");
  c.archive.SetCookieResult(alpha, "half", -3);
  c.archive.Term();
  EXPECT_EQ(ReadFile(file), expected);

  Clocked loaded;
  loaded.now = 1010;
  loaded.archive.SetArchiveName(file);
  EXPECT_EQ(loaded.archive.Size(), 2u);
  AsyncCookie record = loaded.Get(alpha);
  EXPECT_EQ(record.result, "half");
  EXPECT_EQ(record.progress, -3);
  EXPECT_EQ(record.holdtime, -5);
  EXPECT_EQ(record.expiretime, 1020u);
  EXPECT_TRUE(loaded.archive.UniqueInUse(999));
  // Loading alone changes nothing, so the file is not rewritten; ageing
  // that drops a record saves at once: alpha expired at 1020.
  EXPECT_EQ(ReadFile(file), expected);
  loaded.now = 1021;
  loaded.archive.AgeCookies();
  EXPECT_EQ(ReadFile(file), "<async last-aged=\"1021\">\n" + betaRecord + "</async>\n");
}

// Missing attributes take their defaults; other elements are passed over;
// an unreadable file loads nothing and is replaced by the next save, and a
// save that fails is tried again.
TEST(AsyncCookieArchive, LoadingOddFilesAndFailedSaves) {
  TempDir dir;
  std::string file = dir.File("odd.xml");
  WriteFile(file,
            "<async last-aged=\"5\"><async-cookie uniquetimet=\"77\" creationtime=\"1000\" expiretime=\"99999\">"
            "<outside>bare</outside><unique>000000004d</unique><extra>ignored</extra></async-cookie>"
            "<!-- a note --><stranger/></async>");
  Clocked c;
  c.archive.SetArchiveName(file);
  AsyncCookie record = c.Get("bare!000000004d");
  EXPECT_EQ(record.holdtime, 30);
  EXPECT_EQ(record.progress, 0);
  EXPECT_EQ(record.result, "");
  EXPECT_EQ(record.expiretime, 99999u);
  EXPECT_EQ(c.archive.Size(), 1u);
  for (const char* content : {"<other/>", "<async><async-cookie>"}) {
    WriteFile(file, content);
    Clocked e;
    e.archive.SetArchiveName(file);
    EXPECT_EQ(e.archive.Size(), 0u) << content;
    e.archive.CreateCookie("fresh", 30, 600);
    e.archive.Term();
    EXPECT_NE(ReadFile(file).find("<outside>fresh</outside>"), std::string::npos) << content;
  }
  Clocked missing;
  missing.archive.SetArchiveName(dir.File("missing-folder/archive.xml"));
  missing.archive.CreateCookie("x", 30, 600);
  missing.archive.Term();
  EXPECT_TRUE(missing.archive.IsDirty());
}

std::string Ok(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length:" + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(AsyncCookiePage, StartProgressAndCompleteWithXml) {
  Clocked p(5000);
  std::string id, reply;
  p.page.StartAsyncOperation("job", 30, 600, id, reply);
  EXPECT_EQ(id, "job!0000001388");
  EXPECT_EQ(reply, "<async-operation async-id=\"job!0000001388\"/>\n");

  EXPECT_TRUE(p.page.SetAsyncProgress(id, 40, "<step n=\"2\"/>"));
  std::string text;
  p.archive.GetCookieResult(id, text);
  EXPECT_EQ(text, "<async-inprogress progress=\"40\"><step n=\"2\"/></async-inprogress>");

  ProviderErrorList errors;
  ProviderError error("E_PARTIAL");
  error.AddParameter("file", "a.xml");
  errors.AddGetError(error);
  XMLAccumulator xml;
  xml.OpenElement("found");
  xml.AddElement("item", "one");
  xml.CloseElement();
  EXPECT_TRUE(p.page.SetAsyncProgressWithXml(id, 80, errors, xml));
  const std::string body =
      "<providererrorlist><geterrors><providererror><stringid>E_PARTIAL</stringid><parameters><file>a.xml</file>"
      "</parameters></providererror></geterrors></providererrorlist>"
      "<found>\n\t<item>one</item>\n</found>\n";
  p.archive.GetCookieResult(id, text);
  EXPECT_EQ(text, "<async-inprogress progress=\"80\">" + body + "</async-inprogress>");

  ProviderErrorList none;
  EXPECT_TRUE(p.page.CompleteAsyncWithXml(id, none, xml));
  p.archive.GetCookieResult(id, text);
  EXPECT_EQ(text, "<async-complete><found>\n\t<item>one</item>\n</found>\n</async-complete>");
  EXPECT_FALSE(p.page.CompleteAsyncWithXml("job!0", none, xml));
}

TEST(AsyncCookiePage, RequestsAnsweredFromTheArchive) {
  Clocked p(5000);
  std::string first, second, other, reply;
  p.page.StartAsyncOperation("mine", 30, 600, first, reply);
  p.page.StartAsyncOperation("mine", 30, 600, second, reply);
  p.page.StartAsyncOperation("yours", 30, 600, other, reply);
  p.page.SetAsyncProgress(second, 100, "<ok/>");

  MemoryChannel status;
  EXPECT_TRUE(p.page.HandleAsyncRequest("AsyncStatus=1", &status));
  auto attributes = [](const char* holdUntil, const char* completion, const char* unique, const char* progress) {
    return std::string("holdtime=\"30\" holduntil=\"") + holdUntil + "\" creationtime=\"5000\" completiontime=\"" +
           completion + "\" uniquetimet=\"" + unique + "\" progress=\"" + progress + "\" expiretime=\"5600\"";
  };
  const std::string document =
      // Key order: the later record of a second sorts first.
      "<async-results time-now=\"5000\" last-aged=\"0\">\n" + Record(attributes("5030", "5000", "4999", "100"), "mine", "0000001387", "&lt;ok/&gt;") +
      Record(attributes("0", "0", "5000", "0"), "mine", "0000001388", "") +
      Record(attributes("0", "0", "4998", "0"), "yours", "0000001386", "") + "</async-results>\n";
  EXPECT_EQ(status.written, Ok(document));

  MemoryChannel matches;
  EXPECT_TRUE(p.page.HandleAsyncRequest("async-id-match-request=1&async-id=mine", &matches));
  EXPECT_EQ(matches.written, Ok("<async-id-matches>\n\t<async-cookie>" + second + "</async-cookie>\n\t<async-cookie>" +
                                first + "</async-cookie>\n</async-id-matches>\n"));
  MemoryChannel noMatches;
  EXPECT_TRUE(p.page.HandleAsyncRequest("async-id-match-request=1&async-id=min", &noMatches));
  EXPECT_EQ(noMatches.written, Ok("<async-id-matches/>\n"));

  MemoryChannel result;
  EXPECT_TRUE(p.page.HandleAsyncRequest(("async-result-request=1&async-id=" + second).c_str(), &result));
  EXPECT_EQ(result.written,
            Ok("<async-result id=\"" + second + "\" ><async-complete><ok/></async-complete></async-result>"));
  MemoryChannel missing;
  EXPECT_TRUE(p.page.HandleAsyncRequest("async-result-request=yes&async-id=mine%21nothing", &missing));
  EXPECT_EQ(missing.written, Ok("<async-result-nomatch id=\"mine!nothing\" ></async-result-nomatch>"));
  // An id from the requester cannot break the element it is echoed in.
  MemoryChannel hostile;
  EXPECT_TRUE(p.page.HandleAsyncRequest("async-result-request=1&async-id=a%22%3E%3Cx", &hostile));
  EXPECT_EQ(hostile.written, Ok("<async-result-nomatch id=\"a&quot;&gt;&lt;x\" ></async-result-nomatch>"));

  // Not asynchronous requests: nothing is written, the page answers itself.
  for (const char* query : {"async-id-match-request=1&async-id=", "async-id-match-request=&async-id=mine",
                            "async-result-request=1", "async-id=mine", "asyncstatus", "x=1", ""}) {
    MemoryChannel channel;
    EXPECT_FALSE(p.page.HandleAsyncRequest(query, &channel)) << query;
    EXPECT_EQ(channel.written, "") << query;
  }
  MemoryChannel nothing;
  EXPECT_FALSE(p.page.HandleAsyncRequest(nullptr, &nothing));
}

TEST(AsyncCookiePage, StatusNamesTheArchiveAndThePageSavesWhenDestroyed) {
  TempDir dir;
  std::string file = dir.File("records.xml");
  {
    Clocked p(5000);
    p.page.SetAsyncArchiveName(file);
    std::string id, reply;
    p.page.StartAsyncOperation("kept", 30, 600, id, reply);
    MemoryChannel status;
    p.page.ReplyWithAsyncStatus(&status);
    EXPECT_NE(status.written.find("<async-results archive=\"" + file + "\" time-now=\"5000\" last-aged=\"5000\">\n"), std::string::npos);
    EXPECT_FALSE(testing_support::FileExists(file));
  }
  EXPECT_NE(ReadFile(file).find("<outside>kept</outside>\n\t\t<unique>0000001388</unique>"), std::string::npos);

  // The next page with that archive starts with the record; the
  // maintenance step ages out what has expired and saves.
  Clocked again(5000);
  again.now = 5100;
  std::string id, reply;
  again.page.StartAsyncOperation("soon", 30, 10, id, reply);
  again.page.SetAsyncArchiveName(file);
  EXPECT_EQ(again.archive.Size(), 2u);
  again.now = 5601;
  again.page.MaintainRecords();
  EXPECT_EQ(again.archive.Size(), 0u);
  EXPECT_EQ(ReadFile(file), "<async last-aged=\"5601\"/>\n");
}

}  // namespace
