#include "net/response_header.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using net::ContentLength;

ContentLength lengthOf(const std::string& headerLines) {
  return net::contentLength("HTTP/1.0 200 OK\r\n" + headerLines + "\r\n");
}

TEST(ResponseHeader, FindNoCaseMatchesAsciiLettersOfEitherCase) {
  EXPECT_EQ(net::findNoCase("xx CONTENT-length: 5", "Content-Length: "), 3u);
  EXPECT_EQ(net::findNoCase("abc", ""), 0u);
  EXPECT_EQ(net::findNoCase("", "a"), net::kNotFound);
  // A match may not run past the last byte.
  EXPECT_EQ(net::findNoCase("Content-Lengt", "Content-Length"), net::kNotFound);
  // Only ASCII letters fold: '[' is not '{', and bytes above 127 match only
  // themselves.
  EXPECT_EQ(net::findNoCase("[", "{"), net::kNotFound);
  EXPECT_EQ(net::findNoCase("\xC9", "\xE9"), net::kNotFound);
}

TEST(ResponseHeader, BlockEndsAfterTheFirstBlankLine) {
  EXPECT_EQ(net::headerBlockLength("HTTP/1.0 200 OK\r\n\r\nbody\r\n\r\n"), 19u);
  EXPECT_EQ(net::headerBlockLength("HTTP/1.0 200 OK\r\n\r"), net::kNotFound);
  EXPECT_EQ(net::headerBlockLength("HTTP/1.0 200 OK\n\n"), net::kNotFound);
}

TEST(ResponseHeader, StatusIsJudgedOnBytesNineToFourteen) {
  EXPECT_TRUE(net::statusIsOk("HTTP/1.0 200 OK\r\n\r\n"));
  EXPECT_TRUE(net::statusIsOk("HTTP/1.1 200 ok\r\n\r\n"));
  EXPECT_TRUE(net::statusIsOk("ICY/9.99 200 OKAY\r\n\r\n"));
  EXPECT_FALSE(net::statusIsOk("HTTP/1.1 302 Found\r\nLocation: /\r\n\r\n"));
  EXPECT_FALSE(net::statusIsOk("HTTP/1.0 404 Not Found\r\n\r\n"));
  EXPECT_FALSE(net::statusIsOk("HTTP/1.0 200 O"));
  EXPECT_FALSE(net::statusIsOk("HTTP/1.0  200 OK\r\n\r\n"));
}

TEST(ResponseHeader, LengthIsReadAsPercentDReadsIt) {
  ContentLength length = lengthOf("Content-Length: 1234\r\n");
  EXPECT_EQ(length.kind, ContentLength::Kind::Announced);
  EXPECT_EQ(length.value, 1234);
  EXPECT_EQ(lengthOf("content-length: 7\r\n").value, 7);
  EXPECT_EQ(lengthOf("CONTENT-LENGTH:  \t+42x\r\n").value, 42);
  EXPECT_EQ(lengthOf("Content-Length: 0\r\n").kind, ContentLength::Kind::Announced);
  EXPECT_EQ(lengthOf("Content-Length: -5\r\n").value, -5);
  EXPECT_EQ(lengthOf("Content-Length: 2147483647\r\n").value, 2147483647);
  EXPECT_EQ(lengthOf("Content-Length: -2147483648\r\n").value, INT32_MIN);
  EXPECT_EQ(lengthOf("Content-Length: -99999999999999999999\r\n").value, INT32_MIN);
  EXPECT_EQ(lengthOf("Content-Length: 2147483648\r\n").kind, ContentLength::Kind::OutOfRange);
  EXPECT_EQ(lengthOf("Content-Length: 99999999999999999999\r\n").kind, ContentLength::Kind::OutOfRange);
  // The first one wins.
  EXPECT_EQ(lengthOf("Content-Length: 3\r\nContent-Length: 4\r\n").value, 3);
}

TEST(ResponseHeader, LengthNeedsTheHeaderNameTheBlankAndANumber) {
  EXPECT_EQ(lengthOf("Content-Length:123\r\n").kind, ContentLength::Kind::Unannounced);
  EXPECT_EQ(lengthOf("Content-Length: abc\r\n").kind, ContentLength::Kind::Unannounced);
  EXPECT_EQ(lengthOf("Content-Length: -\r\n").kind, ContentLength::Kind::Unannounced);
  EXPECT_EQ(lengthOf("Server: x\r\n").kind, ContentLength::Kind::Unannounced);
  // Another header whose name ends in the same words is not the length...
  EXPECT_EQ(lengthOf("X-Original-Content-Length: 9\r\n").kind, ContentLength::Kind::Unannounced);
  EXPECT_EQ(lengthOf("X-Original-Content-Length: 9\r\nContent-Length: 2\r\n").value, 2);
  // ...and neither is a value that merely mentions it.
  EXPECT_EQ(lengthOf("Note: Content-Length: 9\r\n").kind, ContentLength::Kind::Unannounced);
  // Nothing after the block counts: a body is not a header.
  EXPECT_EQ(net::contentLength("HTTP/1.0 200 OK\r\n\r\n").kind, ContentLength::Kind::Unannounced);
}

}  // namespace

namespace {

using net::HeaderCollector;
using Progress = HeaderCollector::Progress;

TEST(HeaderCollector, BlankLineSplitAnywhereAcrossReceives) {
  const std::string response = "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabc";
  const std::size_t blockEnd = response.find("\r\n\r\n") + 4;
  // Every cut into two receives, the blank line's own bytes included.
  for (std::size_t cut = 1; cut < response.size(); ++cut) {
    HeaderCollector collector(1024, 2048);
    Progress first = collector.add(std::string_view(response).substr(0, cut));
    if (cut < blockEnd) {
      EXPECT_EQ(first, Progress::NeedMore) << cut;
      EXPECT_EQ(collector.add(std::string_view(response).substr(cut)), Progress::Complete) << cut;
    } else {
      EXPECT_EQ(first, Progress::Complete) << cut;
    }
    EXPECT_EQ(collector.block(), response.substr(0, blockEnd)) << cut;
    // The body's first bytes are those of the receive that completed the
    // block, no more.
    const std::size_t fed = cut < blockEnd ? response.size() : cut;
    EXPECT_EQ(collector.bodyBytes(), response.substr(blockEnd, fed - blockEnd)) << cut;
  }
  // One byte per receive.
  HeaderCollector bytewise(1024, 1);
  Progress progress = Progress::NeedMore;
  for (char c : response.substr(0, blockEnd)) progress = bytewise.add(std::string_view(&c, 1));
  EXPECT_EQ(progress, Progress::Complete);
  EXPECT_EQ(bytewise.bodyBytes(), "");
}

TEST(HeaderCollector, StaysDoneAndRefusesLongBlocks) {
  HeaderCollector done(1024, 2048);
  EXPECT_EQ(done.add("HTTP/1.0 200 OK\r\n\r\nab"), Progress::Complete);
  // Later receives are the body's, not the header's.
  EXPECT_EQ(done.add("\r\n\r\nmore"), Progress::Complete);
  EXPECT_EQ(done.block(), "HTTP/1.0 200 OK\r\n\r\n");
  EXPECT_EQ(done.bodyBytes(), "ab");

  // A block of exactly the limit is taken; one byte more is refused, whether
  // its end arrives or not.
  const std::string block = "HTTP/1.0 200 OK\r\nX: " + std::string(20, 'x') + "\r\n\r\n";
  HeaderCollector exact(block.size(), 2048);
  EXPECT_EQ(exact.add(block + "body"), Progress::Complete);
  HeaderCollector over(block.size() - 1, 2048);
  EXPECT_EQ(over.add(block), Progress::TooLong);
  EXPECT_EQ(over.block(), "");
  HeaderCollector endless(block.size() - 1, 2048);
  EXPECT_EQ(endless.add(block.substr(0, block.size() - 5)), Progress::NeedMore);
  EXPECT_EQ(endless.add("xxxx"), Progress::TooLong);
  EXPECT_EQ(endless.add("\r\n\r\n"), Progress::TooLong);
}

}  // namespace
