#include "text/path_split.h"

#include <gtest/gtest.h>

namespace {

void ExpectParts(const PathSyntax& syntax, const std::string& path, const char* drive, const char* directory,
                 const char* name, const char* extension) {
  SCOPED_TRACE(path);
  const PathParts parts = SplitPath(path, syntax);
  EXPECT_EQ(parts.drive, drive);
  EXPECT_EQ(parts.directory, directory);
  EXPECT_EQ(parts.name, name);
  EXPECT_EQ(parts.extension, extension);
  EXPECT_EQ(FolderPart(path, syntax) + NamePart(path, syntax), path);
}

TEST(SplitPathTest, SplitsAsTheWindowsRunTimeDoes) {
  ExpectParts(kWindowsPaths, "C:\\a.b\\c.txt", "C:", "\\a.b\\", "c", ".txt");
  ExpectParts(kWindowsPaths, "\\\\server\\share\\x", "", "\\\\server\\share\\", "x", "");
  ExpectParts(kWindowsPaths, "X:foo", "X:", "", "foo", "");
  ExpectParts(kWindowsPaths, "1:bar", "1:", "", "bar", "");
  ExpectParts(kWindowsPaths, "a/b.c/d", "", "a/b.c/", "d", "");
  ExpectParts(kWindowsPaths, "file.tar.gz", "", "", "file.tar", ".gz");
  ExpectParts(kWindowsPaths, ".hidden", "", "", "", ".hidden");
  ExpectParts(kWindowsPaths, "/home/me/r\xC3\xA9sum\xC3\xA9.odt", "", "/home/me/", "r\xC3\xA9sum\xC3\xA9", ".odt");
  // A separator that is the drive's first character is the drive's.
  ExpectParts(kWindowsPaths, "\\:x.txt", "\\:", "", "x", ".txt");
  ExpectParts(kWindowsPaths, "/:a", "/:", "", "a", "");
}

TEST(SplitPathTest, OnPosixOnlySlashesSeparateAndThereAreNoDrives) {
  ExpectParts(kPosixPaths, "a\\b.c/d\\e.txt", "", "a\\b.c/", "d\\e", ".txt");
  ExpectParts(kPosixPaths, "C:foo", "", "", "C:foo", "");
  ExpectParts(kPosixPaths, "/etc/x.d\\y", "", "/etc/", "x", ".d\\y");
  ExpectParts(kPosixPaths, "/:x", "", "/", ":x", "");
}

TEST(SplitPathTest, CutsLongPartsInsteadOfEmptyingThem) {
  const std::string long_name(300, 'n');
  const PathParts parts = SplitPath("C:\\dir\\" + long_name + ".txt", kWindowsPaths);
  EXPECT_EQ(parts.drive, "C:");
  EXPECT_EQ(parts.name, std::string(255, 'n'));
  EXPECT_EQ(parts.extension, ".txt");
  // Characters as every rule reads them: a byte that starts none is one.
  EXPECT_EQ(SplitPath("/d/" + std::string(300, '\x80'), kPosixPaths).name, std::string(255, '\x80'));
  const std::string name = std::string(254, 'n') + "\xE2\x82" + "nn";
  EXPECT_EQ(SplitPath(name + ".txt", kPosixPaths).name, std::string(254, 'n') + "\xE2");
}

}  // namespace
