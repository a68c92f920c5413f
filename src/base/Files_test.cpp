#include "base/Files.h"

#include <sys/stat.h>

#include "TestSupport.h"

namespace {

class FilesTest : public test::ScratchDir {};

// Riders on one file keep their own positions, across writes and reads.
TEST_F(FilesTest, RidersOnOneFileKeepTheirOwnPositions) {
  std::filesystem::create_directory("dir");
  EXPECT_TRUE(Files_Old("missing.txt") == nullptr && Files_Old("dir") == nullptr);  // only regular files open
  Files_Handle h = Files_New("f.txt");
  Files_Rider w, r;
  Files_Set(w, h, 0);
  for (char c : std::string("hello")) Files_Write(w, c);
  Files_Set(w, h, 0);
  Files_Write(w, 'H');
  Files_Set(r, h, 1);  // reading where the last write stopped
  char ch[4] = {'x', 'x', 'x', 'x'};
  Files_Read(r, ch[0]);
  Files_Set(w, h, 5);
  Files_Write(w, '!');
  Files_Read(r, ch[1]);
  Files_Set(r, h, 5);
  Files_Read(r, ch[2]);
  EXPECT_FALSE(r.eof);
  Files_Read(r, ch[3]);
  EXPECT_TRUE(r.eof);
  EXPECT_EQ(std::string(ch, 4), std::string("el!") + '\0');
  EXPECT_TRUE(Files_Close(h));
  EXPECT_EQ(test::ReadFile("f.txt"), "Hello!");
}

// A rename on a full disk needs no room for a copy and replaces the target
// whole; one that cannot be done keeps the file.
TEST_F(FilesTest, RenameMovesOrKeepsTheFile) {
  const std::string text(20000, 'x');
  test::WriteFile("a.log", text);
  test::WriteFile("b.log", "earlier");
  { test::FileSizeLimit limit(4096); EXPECT_TRUE(Files_Rename("a.log", "b.log")); }
  EXPECT_EQ(test::ReadFile("b.log"), text);
  EXPECT_FALSE(test::Exists("a.log"));
  EXPECT_FALSE(Files_Rename("b.log", "nodir/c.log"));
  EXPECT_TRUE(Files_Rename("b.log", "./b.log"));
  EXPECT_EQ(test::ReadFile("b.log"), text);
}

// Across file systems the file is copied; a copy cut short leaves both the
// file and the earlier target as they were.
TEST_F(FilesTest, ACopyAcrossFileSystemsCutShortKeepsBothFiles) {
  struct stat here {}, shm {};
  if (stat(".", &here) != 0 || stat("/dev/shm", &shm) != 0 || here.st_dev == shm.st_dev ||
      access("/dev/shm", W_OK) != 0)
    GTEST_SKIP() << "no second writable file system at /dev/shm";
  const std::string target = "/dev/shm/wren-files-test-" + std::to_string(getpid()) + ".log";
  const std::string text(20000, 'y');
  test::WriteFile("a.log", text);
  test::WriteFile(target, "earlier");
  { test::FileSizeLimit limit(4096); EXPECT_FALSE(Files_Rename("a.log", target)); }
  EXPECT_EQ(test::ReadFile(target), "earlier");
  EXPECT_EQ(test::ReadFile("a.log"), text);
  EXPECT_FALSE(test::Exists(target + ".tmp"));
  EXPECT_TRUE(Files_Rename("a.log", target));
  EXPECT_EQ(test::ReadFile(target), text);
  EXPECT_FALSE(test::Exists("a.log"));
  Files_Delete(target);
}

TEST_F(FilesTest, AStagedFileTakesTheFinalNameOnlyWhenCompleteAndPlaced) {
  test::WriteFile("s.txt", "earlier");
  {
    Files_StagedFile f("s.txt");
    ASSERT_TRUE(f.Opened());
    for (char c : std::string("new text")) Files_Write(f.rider, c);
    EXPECT_EQ(test::ReadFile("s.txt"), "earlier");
    EXPECT_FALSE(f.Place());  // not finished yet
    EXPECT_TRUE(f.Finish());
    EXPECT_TRUE(f.Place());
  }
  EXPECT_EQ(test::ReadFile("s.txt"), "new text");
  EXPECT_FALSE(test::Exists("s.txt.tmp"));
  {
    test::FileSizeLimit limit(4096);
    Files_StagedFile f("s.txt");
    for (int i = 0; i < 10000; ++i) Files_Write(f.rider, 'z');  // past the limit: the write fails
    EXPECT_FALSE(f.Finish());
  }
  EXPECT_EQ(test::ReadFile("s.txt"), "new text");
  EXPECT_FALSE(test::Exists("s.txt.tmp"));
  Files_StagedFile unnamed("");
  EXPECT_FALSE(unnamed.Opened() || unnamed.Finish() || unnamed.Place());
  EXPECT_FALSE(Files_Replace("missing.txt", "s.txt"));
  EXPECT_EQ(test::ReadFile("s.txt"), "new text");
  Files_Delete("s.txt");
  EXPECT_FALSE(test::Exists("s.txt"));
}

}  // namespace
