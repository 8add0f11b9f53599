#include "pages/AsyncCookie.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

namespace {

using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

// An archive on a clock the test sets.
struct ClockedArchive {
  std::atomic<std::uint32_t> now{1000};
  AsyncCookieArchive archive;
  ClockedArchive() {
    archive.SetClock([this] { return now.load(); });
  }
};

std::string Record(const std::string& attributes, const std::string& outside, const std::string& unique,
                   const std::string& result) {
  return "\t<async-cookie " + attributes + ">\n\t\t<outside>" + outside + "</outside>\n\t\t<unique>" + unique +
         "</unique>\n" + (result.empty() ? "\t\t<result/>\n" : "\t\t<result>" + result + "</result>\n") +
         "\t</async-cookie>\n";
}

TEST(AsyncCookieArchive, UniqueValuesStepDownWithinASecondAndComeFreeWhenAged) {
  ClockedArchive c;
  AsyncCookie first = c.archive.CreateCookie("op", 30, 600);
  AsyncCookie second = c.archive.CreateCookie("op", 30, 600);
  AsyncCookie third = c.archive.CreateCookie("other", 30, 600);
  EXPECT_EQ(first.uniquetimet, 1000u);
  EXPECT_EQ(first.asyncId, "op!00000003e8");
  EXPECT_EQ(second.uniquetimet, 999u);  // later, lower
  EXPECT_EQ(second.asyncId, "op!00000003e7");
  EXPECT_EQ(third.asyncId, "other!00000003e6");
  EXPECT_EQ(c.archive.Size(), 3u);

  // Ageing out a record releases its number.
  c.now = 1700;
  c.archive.AgeCookies();
  EXPECT_EQ(c.archive.Size(), 0u);
  EXPECT_FALSE(c.archive.UniqueInUse(1000));
  c.now = 1000;
  EXPECT_EQ(c.archive.CreateCookie("op", 30, 600).uniquetimet, 1000u);

  // At the clock's start the numbers stop at 0.
  ClockedArchive low;
  low.now = 2;
  std::uint32_t number = 99;
  std::string text;
  low.archive.GetUniqueValue(number, text);
  EXPECT_EQ(number, 2u);
  low.archive.GetUniqueValue(number, text);
  EXPECT_EQ(number, 1u);
  low.archive.GetUniqueValue(number, text);
  EXPECT_EQ(number, 0u);
  EXPECT_EQ(text, "0000000000");
}

// In-progress texts are the page's test; completion is kept through a later,
// lower progress.
TEST(AsyncCookieArchive, CompletionAndUnknownIds) {
  ClockedArchive c;
  std::string id = c.archive.CreateCookie("scan", 30, 600).asyncId;
  c.now = 1010;
  EXPECT_TRUE(c.archive.SetCookieResult(id, "<done a=\"1\"/>", 100));
  c.now = 1020;
  EXPECT_TRUE(c.archive.SetCookieResult(id, "<again/>", 50));
  AsyncCookie record;
  ASSERT_TRUE(c.archive.Find(id, record));
  EXPECT_EQ(record.completiontime, 1010u);
  EXPECT_EQ(record.holduntil, 1040u);
  EXPECT_EQ(record.progress, 50);
  std::string text;
  EXPECT_TRUE(c.archive.GetCookieResult(id, text));
  EXPECT_EQ(text, "<async-complete><again/></async-complete>");
  EXPECT_FALSE(c.archive.SetCookieResult("nobody!1", "x", 100));
  text = "unchanged";
  EXPECT_FALSE(c.archive.GetCookieResult("nobody!1", text));
  EXPECT_EQ(text, "unchanged");
}

TEST(AsyncCookieArchive, AgeingDropsExpiredAndHeldRecordsOnlyWhenStrictlyPast) {
  ClockedArchive c;
  std::string pending = c.archive.CreateCookie("pending", 30, 600).asyncId;  // expires at 1600
  std::string held = c.archive.CreateCookie("held", 30, 600).asyncId;
  c.now = 1010;
  ASSERT_TRUE(c.archive.SetCookieResult(held, "r", 100));  // held until 1040
  std::string longHeld = c.archive.CreateCookie("long", 5000, 10).asyncId;
  ASSERT_TRUE(c.archive.SetCookieResult(longHeld, "r", 100));  // complete: its expiry no longer counts
  c.now = 1040;
  c.archive.AgeCookies();
  EXPECT_EQ(c.archive.Size(), 3u);
  EXPECT_EQ(c.archive.LastAged(), 1040u);
  c.now = 1041;
  c.archive.AgeCookies();
  EXPECT_EQ(c.archive.Size(), 2u);
  AsyncCookie record;
  EXPECT_FALSE(c.archive.Find(held, record));
  EXPECT_TRUE(c.archive.Find(pending, record));
  c.now = 1600;
  c.archive.AgeCookies();
  EXPECT_TRUE(c.archive.Find(pending, record));
  c.now = 1601;
  c.archive.AgeCookies();
  EXPECT_FALSE(c.archive.Find(pending, record));
  EXPECT_TRUE(c.archive.Find(longHeld, record));
  EXPECT_EQ(c.archive.LastAged(), 1601u);
}

TEST(AsyncCookieArchive, SaveAndLoadRoundTrip) {
  TempDir dir;
  std::string file = dir.File("page.async.xml");
  ClockedArchive c;
  c.archive.SetArchiveName(file);
  EXPECT_FALSE(FileExists(file));  // nothing to save yet

  std::string beta = c.archive.CreateCookie("beta", 30, 600).asyncId;
  std::string alpha = c.archive.CreateCookie("alpha", -5, 20).asyncId;
  c.now = 1005;
  ASSERT_TRUE(c.archive.SetCookieResult(beta, "<r a=\"1\">x &amp; y</r>", 100));
  ASSERT_TRUE(c.archive.SetCookieResult(alpha, "half", -3));
  c.archive.Term();
  EXPECT_FALSE(c.archive.IsDirty());
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

  ClockedArchive loaded;
  loaded.now = 1010;
  loaded.archive.SetArchiveName(file);
  EXPECT_EQ(loaded.archive.Size(), 2u);
  // Every field of beta shows in the file written after the load.
  AsyncCookie record;
  ASSERT_TRUE(loaded.archive.Find(alpha, record));
  EXPECT_EQ(record.result, "half");
  EXPECT_EQ(record.progress, -3);
  EXPECT_EQ(record.holdtime, -5);
  EXPECT_EQ(record.expiretime, 1020u);
  EXPECT_TRUE(loaded.archive.UniqueInUse(999));
  EXPECT_EQ(loaded.archive.LastAged(), 1010u);
  // Loading alone changes nothing, so the file is not rewritten.
  EXPECT_EQ(ReadFile(file), expected);

  // Ageing that drops a record saves at once: alpha expired at 1020.
  loaded.now = 1021;
  loaded.archive.AgeCookies();
  EXPECT_EQ(ReadFile(file), "<async last-aged=\"1021\">\n" + betaRecord + "</async>\n");
  loaded.now = 1036;
  loaded.archive.AgeCookies();
  EXPECT_EQ(ReadFile(file), "<async last-aged=\"1036\"/>\n");
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
  ClockedArchive c;
  c.archive.SetArchiveName(file);
  AsyncCookie record;
  ASSERT_TRUE(c.archive.Find("bare!000000004d", record));
  EXPECT_EQ(record.holdtime, 30);
  EXPECT_EQ(record.progress, 0);
  EXPECT_EQ(record.result, "");
  EXPECT_EQ(record.expiretime, 99999u);
  EXPECT_EQ(c.archive.Size(), 1u);
  std::string broken = dir.File("broken.xml");
  for (const char* content : {"<other/>", "<async><async-cookie>"}) {
    WriteFile(broken, content);
    ClockedArchive e;
    e.archive.SetArchiveName(broken);
    EXPECT_EQ(e.archive.Size(), 0u) << content;
    e.archive.CreateCookie("fresh", 30, 600);
    e.archive.Term();
    EXPECT_NE(ReadFile(broken).find("<outside>fresh</outside>"), std::string::npos) << content;
  }
  ClockedArchive missing;
  missing.archive.SetArchiveName(dir.File("missing-folder/archive.xml"));
  missing.archive.CreateCookie("x", 30, 600);
  missing.archive.Term();
  EXPECT_TRUE(missing.archive.IsDirty());
}

TEST(AsyncCookieArchive, ConcurrentCreationKeepsIdsUnique) {
  ClockedArchive c;
  const int kThreads = 4, kEach = 200;
  std::vector<std::vector<std::string>> ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        std::string id = c.archive.CreateCookie("same", 30, 600).asyncId;
        c.archive.SetCookieResult(id, "r", i % 2 == 0 ? 100 : 10);
        ids[t].push_back(id);
      }
    });
  std::thread ager([&] {
    for (int i = 0; i < 50; ++i) c.archive.AgeCookies();
  });
  for (auto& thread : threads) thread.join();
  ager.join();
  std::set<std::string> all;
  for (const auto& list : ids) all.insert(list.begin(), list.end());
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
  EXPECT_EQ(c.archive.Size(), all.size());
}

}  // namespace
