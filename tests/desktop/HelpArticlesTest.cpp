#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "desktop/popover/HelpArticles.h"
#include "support/TempDir.h"

namespace vantorel {
namespace {

using test::TempDir;

TEST(HelpArticles, KeptInTheUsersCacheAndReadInOrderLeavingOutBadEntries) {
  TempDir dir;
  const char* saved = std::getenv("XDG_CACHE_HOME");
  const std::optional<std::string> keep = saved ? std::optional<std::string>(saved) : std::nullopt;
  ::setenv("XDG_CACHE_HOME", dir.path().c_str(), 1);
  EXPECT_EQ(HelpListCachePath(), dir / "vantorel/com.quellmark.help.plist");
  const std::string list = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><array>
  <dict><key>title</key><string>Getting started</string><key>excerpt</key><string>First steps.</string>
        <key>link</key><string>https://vantorel.example.com/a</string></dict>
  <string>not a dictionary</string>
  <dict><key>title</key><integer>3</integer><key>link</key><string>https://vantorel.example.com/b</string></dict>
  <dict><key>title</key><string>No excerpt</string><key>link</key><string>https://vantorel.example.com/c</string></dict>
</array></plist>)";
  ASSERT_TRUE(SaveHelpList(list));
  EXPECT_EQ(ReadHelpArticles(HelpListCachePath()),
            (std::vector<HelpArticle>{{"Getting started", "First steps.", "https://vantorel.example.com/a"},
                                      {"No excerpt", "", "https://vantorel.example.com/c"}}));
  ASSERT_TRUE(SaveHelpList(R"(<plist version="1.0"><dict/></plist>)"));
  EXPECT_EQ(ReadHelpArticles(HelpListCachePath()), std::nullopt);  // not a list
  ASSERT_TRUE(SaveHelpList("garbage"));
  EXPECT_EQ(ReadHelpArticles(HelpListCachePath()), std::nullopt);
  if (keep) ::setenv("XDG_CACHE_HOME", keep->c_str(), 1);
  else ::unsetenv("XDG_CACHE_HOME");
}

}  // namespace
}  // namespace vantorel
