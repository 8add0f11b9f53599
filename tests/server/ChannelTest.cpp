#include "server/IOChannel.h"

#include "platform/Socket.h"

#include <gtest/gtest.h>


namespace {

// A connected pair of loopback sockets: the client end and the server end.
struct SocketPair {
  platform::Socket client;
  platform::Socket server;
  std::uint16_t clientPort = 0;
  SocketPair() {
    platform::Socket listener = platform::CreateTcpSocket();
    EXPECT_TRUE(platform::BindLoopback(listener, 0));
    EXPECT_TRUE(platform::Listen(listener));
    client = platform::CreateTcpSocket();
    EXPECT_TRUE(platform::ConnectLoopback(client, platform::BoundPort(listener), 2000));
    clientPort = platform::BoundPort(client);
    EXPECT_EQ(platform::WaitReadable(listener, 2000), 1);
    EXPECT_EQ(platform::Accept(listener, &server), platform::AcceptResult::Accepted);
  }
  void Send(const std::string& text) { platform::Send(client, text.data(), text.size()); }
  void CloseClient() { client.Close(); }
};

TEST(IOSocket, LinesPiecesAndPeerClose) {
  SocketPair pair;
  IOSocket io(std::move(pair.server));
  char buffer[64];
  EXPECT_EQ(io.ReadLine(buffer, 1), -1);
  pair.Send("abcdefghij\nnext line\nrest");
  // A line longer than the buffer comes in pieces of size - 1.
  EXPECT_EQ(io.ReadLine(buffer, 5), 4);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(io.ReadLine(buffer, 5), 4);
  EXPECT_STREQ(buffer, "efgh");
  EXPECT_EQ(io.ReadLine(buffer, 5), 3);
  EXPECT_STREQ(buffer, "ij\n");
  EXPECT_EQ(io.ReadLine(buffer, sizeof buffer), 10);
  EXPECT_STREQ(buffer, "next line\n");
  // Nothing past the line was taken from the socket.
  EXPECT_EQ(io.Read(buffer, 2), 2);
  EXPECT_EQ(std::string(buffer, 2), "re");
  EXPECT_EQ(io.Read(buffer, 0), -1);
  // A partial line when the peer closes is not reported.
  pair.CloseClient();
  EXPECT_EQ(io.ReadLine(buffer, sizeof buffer), 0);
}

// The head arrives in one piece with the start of the body; the channel
// that read the head hands the socket over (leaving it open), and the new
// owner gets the body from its first byte, then what arrives later.
TEST(IOSocket, HandOverLeavesTheSocketJustAfterTheLastLine) {
  SocketPair pair;
  char buffer[64];
  pair.Send("POST /x HTTP/1.1\r\nContent-Length: 9\r\n\r\nbody");
  {
    IOSocket io(std::move(pair.server));
    EXPECT_EQ(io.ReadLine(buffer, sizeof buffer), 18);
    EXPECT_EQ(io.ReadLine(buffer, sizeof buffer), 19);
    EXPECT_EQ(io.ReadLine(buffer, sizeof buffer), 2);
    pair.server = io.ReleaseSocket();
  }
  pair.Send("-more");
  IOSocket second(std::move(pair.server));
  std::string body;
  while (body.size() < 9) {
    long n = second.Read(buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    body.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(body, "body-more");
  EXPECT_EQ(second.Write("x", 1), 1);
  char c;
  EXPECT_EQ(platform::Receive(pair.client, &c, 1), 1);
}

// Standard streams and the command of -o are served end to end (the
// provider's stdio and framework page tests); here only the buffer limit.
TEST(IOOneShot, ASmallBufferCutsTheCommand) {
  char line[64];
  IOOneShot cut(nullptr, nullptr, "GET /a-long-path");
  EXPECT_EQ(cut.ReadLine(line, 6), 5);
  EXPECT_STREQ(line, "GET /");
}

}  // namespace
