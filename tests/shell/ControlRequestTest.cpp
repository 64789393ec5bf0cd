// Request lines of the control socket as anyone on the machine may send
// them: what is echoed back is always one clean line.

#include <gtest/gtest.h>

#include "shell/ControlRequest.h"

namespace vantorel {
namespace {

TEST(ControlRequest, WhatIsEchoedBackHasNoRawControlOrBrokenBytes) {
  const ControlRequest nul = ParseControlRequest(std::string("bogus\0\xff\x1b[2J", 11));
  EXPECT_EQ(nul.kind, ControlRequest::Kind::Invalid);
  EXPECT_EQ(nul.error, "unknown request 'bogus\\x00\\xff\\x1b[2J'");
  const ControlRequest relative = ParseControlRequest("rescan some\rwhere");
  EXPECT_EQ(relative.error, "some\\rwhere is not a folder (give an absolute path)");
  const ControlRequest empty = ParseControlRequest("rescan ");
  EXPECT_EQ(empty.kind, ControlRequest::Kind::Invalid);
  EXPECT_EQ(empty.error, "the folder to rescan is an empty path (give an absolute path)");
  // Found by fuzzing: bytes that each escape to four stay a short line.
  const ControlRequest wide = ParseControlRequest("rescan x" + std::string(300, '\xff'));
  EXPECT_LE(wide.error.size(), 300u);
  EXPECT_EQ(wide.error.rfind(" is not a folder (give an absolute path)"), wide.error.size() - 40);
  const ControlRequest bare = ParseControlRequest("rescan");
  EXPECT_EQ(bare.kind, ControlRequest::Kind::Rescan);
  EXPECT_EQ(bare.folder, "");
  EXPECT_EQ(ParseControlRequest("rescan /a b").folder, "/a b");
}

TEST(ControlRequest, PauseAndResumeTakeNoArgument) {
  EXPECT_EQ(ParseControlRequest("pause").kind, ControlRequest::Kind::Pause);
  EXPECT_EQ(ParseControlRequest("resume").kind, ControlRequest::Kind::Resume);
  EXPECT_EQ(ParseControlRequest("pause now").kind, ControlRequest::Kind::Invalid);
}

}  // namespace
}  // namespace vantorel
