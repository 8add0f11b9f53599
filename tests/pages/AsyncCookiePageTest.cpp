#include "pages/MonitorPage.h"

#include "MemoryChannel.h"
#include "TestSupport.h"
#include "config/ProviderError.h"
#include "config/XMLAccumulator.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

using CaptureChannel = testing_support::MemoryChannel;
using testing_support::ReadFile;
using testing_support::TempDir;

std::string Ok(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length:" + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A page on a clock the test sets.
struct ClockedPage {
  std::atomic<std::uint32_t> now{5000};
  MonitorPage page{"/async", false};
  ClockedPage() {
    page.AsyncCookies().SetClock([this] { return now.load(); });
  }
};

TEST(AsyncCookiePage, StartProgressAndCompleteWithXml) {
  ClockedPage p;
  std::string id, reply;
  p.page.StartAsyncOperation("job", 30, 600, id, reply);
  EXPECT_EQ(id, "job!0000001388");
  EXPECT_EQ(reply, "<async-operation async-id=\"job!0000001388\"/>\n");

  EXPECT_TRUE(p.page.SetAsyncProgress(id, 40, "<step n=\"2\"/>"));
  std::string text;
  p.page.AsyncCookies().GetCookieResult(id, text);
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
  p.page.AsyncCookies().GetCookieResult(id, text);
  EXPECT_EQ(text, "<async-inprogress progress=\"80\">" + body + "</async-inprogress>");

  ProviderErrorList none;
  EXPECT_TRUE(p.page.CompleteAsyncWithXml(id, none, xml));
  p.page.AsyncCookies().GetCookieResult(id, text);
  EXPECT_EQ(text, "<async-complete><found>\n\t<item>one</item>\n</found>\n</async-complete>");
  EXPECT_FALSE(p.page.CompleteAsyncWithXml("job!0", none, xml));
}

TEST(AsyncCookiePage, RequestsAnsweredFromTheArchive) {
  ClockedPage p;
  std::string first, second, other, reply;
  p.page.StartAsyncOperation("mine", 30, 600, first, reply);
  p.page.StartAsyncOperation("mine", 30, 600, second, reply);
  p.page.StartAsyncOperation("yours", 30, 600, other, reply);
  p.page.SetAsyncProgress(second, 100, "<ok/>");

  CaptureChannel status;
  EXPECT_TRUE(p.page.HandleAsyncRequest("AsyncStatus=1", &status));
  const std::string document =
      "<async-results time-now=\"5000\" last-aged=\"0\">\n"
      // Key order: the later record of a second sorts first.
      "\t<async-cookie holdtime=\"30\" holduntil=\"5030\" creationtime=\"5000\" completiontime=\"5000\" "
      "uniquetimet=\"4999\" progress=\"100\" expiretime=\"5600\">\n"
      "\t\t<outside>mine</outside>\n\t\t<unique>0000001387</unique>\n\t\t<result>&lt;ok/&gt;</result>\n"
      "\t</async-cookie>\n"
      "\t<async-cookie holdtime=\"30\" holduntil=\"0\" creationtime=\"5000\" completiontime=\"0\" "
      "uniquetimet=\"5000\" progress=\"0\" expiretime=\"5600\">\n"
      "\t\t<outside>mine</outside>\n\t\t<unique>0000001388</unique>\n\t\t<result/>\n\t</async-cookie>\n"
      "\t<async-cookie holdtime=\"30\" holduntil=\"0\" creationtime=\"5000\" completiontime=\"0\" "
      "uniquetimet=\"4998\" progress=\"0\" expiretime=\"5600\">\n"
      "\t\t<outside>yours</outside>\n\t\t<unique>0000001386</unique>\n\t\t<result/>\n\t</async-cookie>\n"
      "</async-results>\n";
  EXPECT_EQ(status.written, Ok(document));

  CaptureChannel matches;
  EXPECT_TRUE(p.page.HandleAsyncRequest("async-id-match-request=1&async-id=mine", &matches));
  EXPECT_EQ(matches.written, Ok("<async-id-matches>\n\t<async-cookie>" + second + "</async-cookie>\n\t<async-cookie>" +
                                first + "</async-cookie>\n</async-id-matches>\n"));
  CaptureChannel noMatches;
  EXPECT_TRUE(p.page.HandleAsyncRequest("async-id-match-request=1&async-id=min", &noMatches));
  EXPECT_EQ(noMatches.written, Ok("<async-id-matches/>\n"));

  CaptureChannel result;
  EXPECT_TRUE(p.page.HandleAsyncRequest(("async-result-request=1&async-id=" + second).c_str(), &result));
  EXPECT_EQ(result.written,
            Ok("<async-result id=\"" + second + "\" ><async-complete><ok/></async-complete></async-result>"));
  CaptureChannel missing;
  EXPECT_TRUE(p.page.HandleAsyncRequest("async-result-request=yes&async-id=mine%21nothing", &missing));
  EXPECT_EQ(missing.written, Ok("<async-result-nomatch id=\"mine!nothing\" ></async-result-nomatch>"));
  // An id from the requester cannot break the element it is echoed in.
  CaptureChannel hostile;
  EXPECT_TRUE(p.page.HandleAsyncRequest("async-result-request=1&async-id=a%22%3E%3Cx", &hostile));
  EXPECT_EQ(hostile.written, Ok("<async-result-nomatch id=\"a&quot;&gt;&lt;x\" ></async-result-nomatch>"));

  // Not asynchronous requests: nothing is written, the page answers itself.
  for (const char* query : {"async-id-match-request=1&async-id=", "async-id-match-request=&async-id=mine",
                            "async-result-request=1", "async-id=mine", "asyncstatus", "x=1", ""}) {
    CaptureChannel channel;
    EXPECT_FALSE(p.page.HandleAsyncRequest(query, &channel)) << query;
    EXPECT_EQ(channel.written, "") << query;
  }
  CaptureChannel nothing;
  EXPECT_FALSE(p.page.HandleAsyncRequest(nullptr, &nothing));
}

TEST(AsyncCookiePage, StatusNamesTheArchiveAndThePageSavesWhenDestroyed) {
  TempDir dir;
  std::string file = dir.File("records.xml");
  {
    ClockedPage p;
    p.page.SetAsyncArchiveName(file);
    std::string id, reply;
    p.page.StartAsyncOperation("kept", 30, 600, id, reply);
    CaptureChannel status;
    p.page.ReplyWithAsyncStatus(&status);
    EXPECT_NE(status.written.find("<async-results archive=\"" + file + "\" time-now=\"5000\" last-aged=\"5000\">\n"), std::string::npos);
    EXPECT_FALSE(testing_support::FileExists(file));
  }
  EXPECT_NE(ReadFile(file).find("<outside>kept</outside>\n\t\t<unique>0000001388</unique>"), std::string::npos);

  // The next page with that archive starts with the record; the
  // maintenance step ages out what has expired and saves.
  ClockedPage again;
  again.now = 5100;
  std::string id, reply;
  again.page.StartAsyncOperation("soon", 30, 10, id, reply);
  again.page.SetAsyncArchiveName(file);
  EXPECT_EQ(again.page.AsyncCookies().Size(), 2u);
  again.now = 5601;
  again.page.MaintainRecords();
  EXPECT_EQ(again.page.AsyncCookies().Size(), 0u);
  EXPECT_EQ(ReadFile(file), "<async last-aged=\"5601\"/>\n");
}

}  // namespace
