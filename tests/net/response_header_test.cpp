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
