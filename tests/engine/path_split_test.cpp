#include "os/path_split.h"

#include <gtest/gtest.h>

namespace {

void ExpectParts(const std::string& path, const char* drive, const char* directory, const char* name,
                 const char* extension) {
  SCOPED_TRACE(path);
  const os::PathParts parts = os::SplitPath(path);
  EXPECT_EQ(parts.drive, drive);
  EXPECT_EQ(parts.directory, directory);
  EXPECT_EQ(parts.name, name);
  EXPECT_EQ(parts.extension, extension);
}

TEST(SplitPathTest, SplitsAsTheWindowsRunTimeDoes) {
  ExpectParts("C:\\a.b\\c.txt", "C:", "\\a.b\\", "c", ".txt");
  ExpectParts("\\\\server\\share\\x", "", "\\\\server\\share\\", "x", "");
  ExpectParts("X:foo", "X:", "", "foo", "");
  ExpectParts("1:bar", "1:", "", "bar", "");
  ExpectParts("a/b.c/d", "", "a/b.c/", "d", "");
  ExpectParts("file.tar.gz", "", "", "file.tar", ".gz");
  ExpectParts(".hidden", "", "", "", ".hidden");
  ExpectParts("/home/me/r\xC3\xA9sum\xC3\xA9.odt", "", "/home/me/", "r\xC3\xA9sum\xC3\xA9", ".odt");
}

TEST(SplitPathTest, CutsLongPartsInsteadOfEmptyingThem) {
  const std::string long_name(300, 'n');
  const os::PathParts parts = os::SplitPath("C:\\dir\\" + long_name + ".txt");
  EXPECT_EQ(parts.drive, "C:");
  EXPECT_EQ(parts.name, std::string(255, 'n'));
  EXPECT_EQ(parts.extension, ".txt");
}

}  // namespace
