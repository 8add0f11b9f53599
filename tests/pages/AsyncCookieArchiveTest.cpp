#include "pages/AsyncCookie.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

namespace {

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
  AsyncCookie Get(const std::string& id) {
    AsyncCookie record;
    EXPECT_TRUE(archive.Find(id, record)) << id;
    return record;
  }
};

std::string Record(const std::string& attributes, const std::string& outside, const std::string& unique,
                   const std::string& result) {
  return "\t<async-cookie " + attributes + ">\n\t\t<outside>" + outside + "</outside>\n\t\t<unique>" + unique +
         "</unique>\n\t\t<result>" + result + "</result>\n\t</async-cookie>\n";
}

// Numbers step down within a second, stop at 0, and come free when aged.
TEST(AsyncCookieArchive, UniqueValues) {
  ClockedArchive c;
  EXPECT_EQ(c.archive.CreateCookie("op", 30, 600).asyncId, "op!00000003e8");
  EXPECT_EQ(c.archive.CreateCookie("op", 30, 600).asyncId, "op!00000003e7");
  EXPECT_EQ(c.archive.CreateCookie("other", 30, 600).uniquetimet, 998u);
  c.now = 1700;
  c.archive.AgeCookies();
  EXPECT_EQ(c.archive.Size(), 0u);
  c.now = 1000;
  EXPECT_EQ(c.archive.CreateCookie("op", 30, 600).uniquetimet, 1000u);
  c.now = 1;
  std::uint32_t number = 99;
  std::string text;
  for (std::uint32_t expected : {1u, 0u}) {
    c.archive.GetUniqueValue(number, text);
    EXPECT_EQ(number, expected);
  }
  EXPECT_EQ(text, "0000000000");
}

// Completion is kept through a later, lower progress; unknown ids are refused.
TEST(AsyncCookieArchive, CompletionAndUnknownIds) {
  ClockedArchive c;
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
  ClockedArchive c;
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
}

TEST(AsyncCookieArchive, SaveAndLoadRoundTrip) {
  TempDir dir;
  std::string file = dir.File("page.async.xml");
  ClockedArchive c;
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

  ClockedArchive loaded;
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
  ClockedArchive c;
  c.archive.SetArchiveName(file);
  AsyncCookie record = c.Get("bare!000000004d");
  EXPECT_EQ(record.holdtime, 30);
  EXPECT_EQ(record.progress, 0);
  EXPECT_EQ(record.result, "");
  EXPECT_EQ(record.expiretime, 99999u);
  EXPECT_EQ(c.archive.Size(), 1u);
  for (const char* content : {"<other/>", "<async><async-cookie>"}) {
    WriteFile(file, content);
    ClockedArchive e;
    e.archive.SetArchiveName(file);
    EXPECT_EQ(e.archive.Size(), 0u) << content;
    e.archive.CreateCookie("fresh", 30, 600);
    e.archive.Term();
    EXPECT_NE(ReadFile(file).find("<outside>fresh</outside>"), std::string::npos) << content;
  }
  ClockedArchive missing;
  missing.archive.SetArchiveName(dir.File("missing-folder/archive.xml"));
  missing.archive.CreateCookie("x", 30, 600);
  missing.archive.Term();
  EXPECT_TRUE(missing.archive.IsDirty());
}

TEST(AsyncCookieArchive, ConcurrentCreationKeepsIdsUnique) {
  ClockedArchive c;
  std::vector<std::set<std::string>> ids(4);
  std::vector<std::thread> threads;
  for (auto& mine : ids)
    threads.emplace_back([&c, &mine] {
      for (int i = 0; i < 200; ++i) {
        std::string id = c.archive.CreateCookie("same", 30, 600).asyncId;
        c.archive.SetCookieResult(id, "r", i % 2 == 0 ? 100 : 10);
        mine.insert(id);
        c.archive.AgeCookies();
      }
    });
  for (auto& thread : threads) thread.join();
  std::set<std::string> all;
  for (const auto& mine : ids) all.insert(mine.begin(), mine.end());
  EXPECT_EQ(all.size(), 800u);
  EXPECT_EQ(c.archive.Size(), all.size());
}

}  // namespace
