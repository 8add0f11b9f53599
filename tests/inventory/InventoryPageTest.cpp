// The level-one inventory page of a running provider: queries, paging,
// reset, reconfig, scans, over real loopback sockets.
#include "InventoryProvider.h"
#include "ProcessLog.h"
#include "inventory/InventoryFile.h"
#include "platform/Socket.h"
#include "platform/Time.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

const std::string kNoInventory = "204 No Content | we have no inventory.xml today";
const std::string kNoChild = "417 Expectation Failed | Could not start child process";

std::string PercentEncoded(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    char piece[4];
    std::snprintf(piece, sizeof piece, "%%%02X", c);
    out += std::isalnum(c) ? std::string(1, static_cast<char>(c)) : std::string(piece);
  }
  return out;
}

std::string Repeat(const std::string& text, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += text;
  return out;
}

class InventoryPage : public InventoryProviderTest {
 protected:
  void SetUp() override {
    client_ = dir_.Path() + "/client";
    std::filesystem::create_directory(client_);
    WriteRegistry(client_);
    WriteFile(client_ + "/inventory-1.xml",
              "<?xml version=\"1.0\"?>\n<x><y id=\"1\">one</y><y id=\"2\">two</y><y id=\"3\"/></x>\n");
  }
  Reply Get(const std::string& query) { return Request("GET", "/lvl1inventory?" + query); }
  Reply Post(const std::string& query) { return Request("POST", "/lvl1inventory?" + query); }

  std::string client_;
};

TEST_F(InventoryPage, NodeSetsArePagedWithATotalCount) {
  Start();
  const std::string y1 = "<y id=\"1\">one</y>", y2 = "<y id=\"2\">two</y>", y3 = "<y id=\"3\" />";
  const std::string total = "<TotalCount>3</TotalCount>";
  const struct {
    std::string query, status, body;
  } cases[] = {
      {"command=query&data=/x/y&start=0&number=0", "200 OK", y1 + y2 + y3 + total},
      {"command=query&data=/x/y&start=1&number=1", "200 OK", y2 + total},
      {"command=query&data=/x/y&start=1&number=9", "200 OK", y2 + y3 + total},
      {"command=query&data=/x/y&start=3", "200 OK", total}, {"command=query&data=/x/y&start=-1", "200 OK", total},
      // A window reaching past the end stops at the last node.
      {"command=query&data=/x/y&start=2&number=3", "200 OK", y3 + total},
      {"command=query&data=count(/x/y)", "200 OK", "3"},
      {"command=query&data=/x/y[@id=%272%27]", "200 OK", y2 + "<TotalCount>1</TotalCount>"},
      // Double quotes are dropped: the literal becomes a name step.
      {"command=query&data=/x/y[@id=%22a%22]", "400 Bad Request", "bad query"},
      {"command=query&data=/x/nothing", "400 Bad Request", "bad query"},
      {"command=query&data=count(((", "400 Bad Request", "bad query"},
      {"command=query&data=%22%22", "400 Bad Request", "bad query"},
      {"command=nothing", "400 Bad Request", "bad query"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Get(c.query).Whole(), c.status + " | " + c.body) << c.query;
  }
  EXPECT_TRUE(testing_support::WaitForText(provider_->LogFile(), "ERROR: NO DATA\nquery was /x/nothing"));
}

// Without an inventory file, or with one nested far deeper than any scanner
// writes (parsing it would overflow the session thread's stack), the page
// answers 204 and serves on; the next request searches again and finds the
// file that appears, one nested as deep as accepted included.
TEST_F(InventoryPage, WithoutAUsableFileAnswers204UntilOneAppears) {
  std::filesystem::remove(client_ + "/inventory-1.xml");
  Start();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Get("command=query&data=count(//x)").Whole(), kNoInventory);
    WriteFile(client_ + "/inventory-1.xml", "<?xml version=\"1.0\"?>\n" + Repeat("<x>", 100000) + Repeat("</x>", 100000));
  }
  WriteFile(client_ + "/inventory-1.xml", Repeat("<x a='1'>", 1000) + Repeat("</x>", 1000));
  EXPECT_EQ(Get("command=query&data=count(//x)").body, "1000");
  EXPECT_EQ(Get("command=query&data=count(//x[last()]/ancestor::*)").body, "999");
  EXPECT_EQ(Get("command=query&data=//x[@a]&start=999&number=1").body, "<x a=\"1\" /><TotalCount>1000</TotalCount>");

  WriteFile(client_ + "/inventory-1.xml",
            "<r><e a=\"x&amp;y\" b='say \"hi\" &amp; &apos;yo&apos; &lt;'><c>t&lt;1 AT&amp;#x26 Co;</c><!-- note --><d/>"
            "tail</e></r>");
  EXPECT_EQ(Get("command=reset").status, "200 OK");
  EXPECT_EQ(Get("command=query&data=/r/e").body,
            "<e a=\"x&amp;y\" b='say \"hi\" &amp; &apos;yo&apos; &lt;'>\n"
            "    <c>t&lt;1 AT&amp;#x26 Co;</c>\n"
            "    <!-- note -->\n"
            "    <d />tail\n"
            "</e><TotalCount>1</TotalCount>");
  EXPECT_EQ(Get("command=configuration").status, "200 OK");
  EXPECT_TRUE(StillRunning());
}

TEST_F(InventoryPage, ResetAndReconfig) {
  Start();
  EXPECT_EQ(Get("command=query&data=count(/x/y)").body, "3");
  WriteFile(client_ + "/inventory-1.xml", "<x><y/></x>");
  EXPECT_EQ(Get("command=query&data=count(/x/y)").body, "3");  // still the loaded one
  EXPECT_EQ(Get("command=reset").Whole(), "200 OK | ");
  EXPECT_EQ(Get("command=query&data=count(/x/y)").body, "1");

  WriteFile(dir_.File("other.xml"), "<x><y/><y/><z/></x>");
  EXPECT_EQ(Get("command=reconfig&data=" + dir_.File("other.xml")).status, "200 OK");
  EXPECT_EQ(Get("command=query&data=count(/x/*)").body, "3");
  // query and reset in one request: answered, then dropped.
  EXPECT_EQ(Get("command=query,reset&data=count(/x/y)").body, "2");
  EXPECT_EQ(Get("command=query&data=count(/x/*)").body, "1");
  // A failed or empty reconfig drops the file switched to as well.
  for (const std::string& name : {dir_.File("missing.xml"), std::string()}) {
    EXPECT_EQ(Get("command=reconfig&data=" + dir_.File("other.xml")).status, "200 OK");
    EXPECT_EQ(Get("command=reconfig&data=" + name).Whole(), kNoInventory) << name;
    EXPECT_EQ(Get("command=query&data=count(/x/y)").body, "1") << name;
  }

  // POST reconfig takes "name", percent-decoded by the page.
  std::string spaced = dir_.File("with space.xml");
  WriteFile(spaced, "<x><q/></x>");
  EXPECT_EQ(Post("command=reconfiguration&name=" + dir_.Path() + "/with%20space.xml").status, "200 OK");
  EXPECT_EQ(Post("command=query&data=count(/x/q)").body, "1");
}

// A reconfig loads only a regular file that lies, links followed, in the
// client folder or the working directory: a local user must not read other
// XML files through the provider. Anything else is refused like a file
// that does not load, with the reason in the log, and the provider serves
// on: a folder, a FIFO (opening it must not wait for a writer) and a sparse
// file one byte over the size limit (read, it would load).
TEST_F(InventoryPage, ReconfigLoadsOnlyRegularFilesOfTheClientFolderOrWorkingDirectory) {
  TempDir outside;
  WriteFile(outside.File("secret.xml"), "<x><secret/></x>");
  std::string away = "../" + std::filesystem::path(outside.Path()).filename().string();
  WriteFile(dir_.File("here.xml"), "<x><here/></x>");
  // A folder whose name only begins with the working directory's.
  std::string sibling = dir_.Path() + "-sibling";
  std::filesystem::create_directory(sibling);
  WriteFile(sibling + "/secret.xml", "<x><secret/></x>");
  std::error_code linked;
  std::filesystem::create_symlink(outside.File("secret.xml"), dir_.File("link-out.xml"), linked);
  if (!linked) std::filesystem::create_symlink(client_ + "/inventory-1.xml", dir_.File("link-in.xml"), linked);
  const bool noFifo = testing_support::RunProgram({"mkfifo", dir_.File("fifo.xml")}).exitCode != 0;  // Windows
  WriteFile(dir_.File("sparse.xml"), "<x/>");
  std::filesystem::resize_file(dir_.File("sparse.xml"), kInventorySizeLimit + 1);
  Start();
  const struct {
    std::string name;
    bool loads;
    bool skip;           // no symbolic links or FIFOs here
    std::string reason;  // logged when refused for it
  } cases[] = {
      {client_ + "/inventory-1.xml", true, false, ""}, {"here.xml", true, false, ""},
      {"client/../here.xml", true, false, ""},
      {outside.File("secret.xml"), false, false, "ERROR:Reconfiguration failure with: " + outside.File("secret.xml")},
      {away + "/secret.xml", false, false,
       "Reconfig file " + away + "/secret.xml refused: it lies outside the client folder and the working directory"},
      {"client/../" + away + "/secret.xml", false, false, ""}, {sibling + "/secret.xml", false, false, ""},
      {"client", false, false, "Reconfig file client refused: it is not a regular file"},
      {dir_.Path(), false, false, "not a regular file"}, {"nothing.xml", false, false, ""},
      {"link-out.xml", false, bool(linked), ""}, {"link-in.xml", true, bool(linked), ""},
      {"fifo.xml", false, noFifo, "not a regular file"}, {"sparse.xml", false, false, "larger than"},
  };
  for (const auto& c : cases) {
    if (c.skip) continue;
    std::size_t logged = provider_->Log().size();
    EXPECT_EQ(Get("command=reconfig&data=" + c.name).Whole(), c.loads ? "200 OK | " : kNoInventory) << c.name;
    // Refused: the next request falls back to the client folder's file.
    EXPECT_EQ(Get("command=query&data=count(//secret)").body, "0") << c.name;
    // Refused by the reconfig check of the name or by the loader itself
    // (which names the file as resolved, separators and all).
    std::string log = provider_->Log().substr(logged);
    EXPECT_NE(log.find(c.reason), std::string::npos) << c.name << "\n" << log;
  }
  EXPECT_TRUE(StillRunning());
  EXPECT_EQ(Post("command=reconfig&name=" + PercentEncoded(away + "/secret.xml")).Whole(), kNoInventory);
  std::filesystem::remove_all(sibling);
}

// The core name goes into the scanner's command line: only a host name or
// address is taken, anything that could add or merge switches is refused
// like an unknown scan type. And the scanner is only ever the client
// folder's: without one, no program of the search path is started.
TEST_F(InventoryPage, ScansStartOnlyTheClientFoldersScannerForAHostName) {
  std::filesystem::copy_file(testing_support::HelperBinary("scanner-standin"), client_ + "/cviscn32.exe");
  Start();
  EXPECT_EQ(Post("scan=full&core=srv").Whole(), "200 OK | Full scan initiated");
  ASSERT_TRUE(testing_support::WaitForText(client_ + "/scan-args.txt", "/sync"));
  EXPECT_EQ(testing_support::ReadTextFile(client_ + "/scan-args.txt"),
            "/NOUI\n/NTT=srv:5007\n/RSS\n/F-\n/S=CORE\n/o=inventory.out\n/I=HTTP://srv/cvlogon/cvappl3.cvz\n/v\n/g\n/sync\n");
  EXPECT_TRUE(testing_support::WaitForText(provider_->LogFile(), "idle is 5,")) << provider_->Log();
  std::filesystem::remove(client_ + "/scan-args.txt");
  EXPECT_EQ(Post("scan=default&core=10.1.2.3").body, "Delta (default) scan initiated");
  ASSERT_TRUE(testing_support::WaitForText(client_ + "/scan-args.txt", "/g\n"));
  EXPECT_EQ(testing_support::ReadTextFile(client_ + "/scan-args.txt").find("/NTT=10.1.2.3:5007\n"), 6u);
  EXPECT_EQ(ReadFile(client_ + "/scan-args.txt").find("/sync"), std::string::npos);
  EXPECT_EQ(Post("scan=full&core=Core-1.example_x").status, "200 OK");

  const std::string refused[] = {"srv /o=/tmp/evil.out /I=HTTP://evil/x", "a\"b c", "", "srv\tx", "a/b",
                                 "srv:80", "\xc3\xa9vil", std::string(256, 'c')};
  for (const std::string& core : refused) {
    EXPECT_EQ(Post("scan=full&core=" + PercentEncoded(core)).Whole(), "400 Bad Request | Bad scan request") << core;
  }
  EXPECT_EQ(Post("scan=quick&core=srv&command=query&data=/x").body, "Bad scan request");
  // A host name, but the command line would be too long.
  EXPECT_EQ(Post("scan=full&core=" + std::string(200, 'c')).Whole(), kNoChild);
  // The scanner's command line is logged once for each scan started.
  EXPECT_EQ(testing_support::CountOf(provider_->Log(), "Cinventory::StartScan "), 3u) << provider_->Log();
  Get("command=configuration");
  Get("command=configuration");  // served after the first one set its time-out
  // The main thread notes the time-out after handing the request over, so
  // the line may come after the reply.
  EXPECT_TRUE(testing_support::WaitForText(provider_->LogFile(), "idle is 300,")) << provider_->Log();

  // A client folder without the scanner: 417.
  std::filesystem::create_directory(dir_.Path() + "/empty");
  WriteRegistry(dir_.Path() + "/empty");
  EXPECT_EQ(Post("scan=full&core=srv").Whole(), kNoChild);

  // No client folder, a scanner on the search path: 417 as well.
  provider_.reset();
  std::string bin = dir_.Path() + "/bin";
  std::filesystem::create_directory(bin);
  std::filesystem::copy_file(testing_support::HelperBinary("scanner-standin"), bin + "/cviscn32.exe");
  WriteRegistry("");
  Start({{"PATH", bin}});
  EXPECT_EQ(Post("scan=full&core=srv").Whole(), kNoChild);
}

// A client that sends a query and never reads its 20 MB answer holds up no
// other request: queries, resets and reconfigs go on, and a scan request,
// served on the main thread, does not wait for it either.
TEST_F(InventoryPage, AClientThatDoesNotReadHoldsUpNoOtherRequest) {
  std::string doc;
  for (int i = 0; i < 100000; ++i) doc += "<y id=\"" + std::to_string(i) + "\"/>";
  WriteFile(client_ + "/inventory-1.xml", Repeat("<x>", 8) + doc + Repeat("</x>", 8));
  Start();
  platform::Socket stalled = platform::CreateTcpSocket();
  ASSERT_TRUE(platform::ConnectLoopback(stalled, provider_->Port(), 5000));
  const std::string request = "GET /lvl1inventory?command=query&data=//x HTTP/1.1\r\n\r\n";
  platform::Send(stalled, request.data(), request.size());
  // The answer is being written (every x prints the whole tree below it).
  ASSERT_GT(platform::WaitReadable(stalled, 20000), 0);

  EXPECT_EQ(Get("command=query&data=count(//y)").body, "100000");
  EXPECT_EQ(Post("scan=quick&core=srv").body, "Bad scan request");
  EXPECT_EQ(Get("command=reset").status, "200 OK");
  EXPECT_EQ(Post("command=reconfig&name=" + client_ + "/inventory-1.xml").status, "200 OK");
  EXPECT_EQ(Get("command=query&data=count(//x)").body, "8");
  stalled.Close();
}

// Queries on 16 threads while resets and reconfigs (GET and POST, one to a
// file that does not load) switch the document on 3 more: every answer is
// the whole answer of one of the documents, never a mix or a failure, and
// a query started before a switch finishes on its document.
TEST_F(InventoryPage, ConcurrentQueriesResetsAndReconfigs) {
  // The y elements as written (end "/>") or as answered (end " />").
  auto items = [](char tag, int count, const char* end) {
    std::string text;
    for (int i = 0; i < count; ++i) text += "<y id=\"" + std::string(1, tag) + std::to_string(i) + "\"" + end;
    return text;
  };
  auto document = [&](char tag, int count) { return "<x>" + items(tag, count, "/>") + "</x>"; };
  auto nodes = [&](char tag, int count) {
    return items(tag, count, " />") + "<TotalCount>" + std::to_string(count) + "</TotalCount>";
  };
  WriteFile(client_ + "/inventory-1.xml", document('a', 200));
  WriteFile(dir_.File("b.xml"), document('b', 300));
  WriteFile(dir_.File("c.xml"), document('c', 400));
  const std::set<std::string> valid = {"200", "300", "400", nodes('a', 200), nodes('b', 300), nodes('c', 400)};
  Start();

  std::mutex lock;
  std::vector<std::string> wrong;
  std::set<std::string> seen;
  auto expect = [&](bool good, const std::string& what, const Reply& r) {
    std::lock_guard<std::mutex> guard(lock);
    if (!good) wrong.push_back(what + ": " + r.status + " " + r.body.substr(0, 80));
  };
  const std::uint64_t end = platform::MonotonicMilliseconds() + 3000;
  std::vector<std::thread> threads;
  for (int t = 0; t < 16; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; platform::MonotonicMilliseconds() < end; ++i) {
        Reply r = Get((t + i) % 2 ? "command=query&data=count(/x/y)" : "command=query&data=/x/y");
        expect(r.status == "200 OK" && valid.count(r.body) == 1, "query", r);
        std::lock_guard<std::mutex> guard(lock);
        seen.insert(r.body);
      }
    });
  threads.emplace_back([&] {
    while (platform::MonotonicMilliseconds() < end) {
      Reply r = Get("command=reset");
      expect(r.Whole() == "200 OK | ", "reset", r);
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; platform::MonotonicMilliseconds() < end; ++i) {
      Reply r = Get("command=reconfig&data=" + dir_.File(i % 2 ? "b.xml" : "c.xml"));
      expect(r.Whole() == "200 OK | ", "GET reconfig", r);
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; platform::MonotonicMilliseconds() < end; ++i) {
      Reply r = Post("command=reconfig&name=" + dir_.File(i % 2 ? "c.xml" : "missing.xml"));
      expect(r.Whole() == (i % 2 ? "200 OK | " : kNoInventory), "POST reconfig", r);
    }
  });
  for (auto& thread : threads) thread.join();
  for (const std::string& w : wrong) ADD_FAILURE() << w;
  // Every document was queried.
  EXPECT_EQ(seen, valid);
  EXPECT_TRUE(StillRunning());
}

// A core name that leaves the scanner's command line no room is refused
// like a scanner that cannot start, never started with a cut command line.
TEST_F(InventoryPage, ScansWhoseCommandLineWouldNotFitAreRefused) {
  std::filesystem::copy_file(testing_support::HelperBinary("scanner-standin"), client_ + "/cviscn32.exe");
  Start();
  // The folder (with its separator), twice the name and 112 reach 388.
  const std::size_t folder = client_.size() + 1;
  ASSERT_LT(folder, 270u);
  Reply r = Post("scan=default&core=" + std::string((388 - 112 - folder + 1) / 2, 'c'));
  EXPECT_EQ(r.status, "417 Expectation Failed");
  EXPECT_EQ(r.body, "Could not start child process");
  EXPECT_FALSE(testing_support::WaitForText(client_ + "/scan-args.txt", "/g", 1000));
}

}  // namespace
