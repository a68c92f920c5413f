#include "commands/Files.h"

#include "TestSupport.h"

namespace {

class FilesTest : public test::ScratchDir {};

TEST_F(FilesTest, OldOpensOnlyExistingRegularFiles) {
  EXPECT_EQ(Files_Old("missing.txt"), nullptr);
  std::filesystem::create_directory("dir");
  EXPECT_EQ(Files_Old("dir"), nullptr);
}

TEST_F(FilesTest, RidersOnOneFileKeepTheirOwnPositions) {
  Files_Handle h = Files_New("f.txt");
  Files_Rider w, r;
  Files_Set(w, h, 0);
  for (char c : std::string("hello")) Files_Write(w, c);
  Files_Set(w, h, 0);
  Files_Write(w, 'H');
  Files_Set(r, h, 1);  // reading where the last write stopped
  char ch = 0;
  Files_Read(r, ch);
  EXPECT_EQ(ch, 'e');
  Files_Set(w, h, 5);
  Files_Write(w, '!');
  Files_Read(r, ch);
  EXPECT_EQ(ch, 'l');
  Files_Set(r, h, 5);
  Files_Read(r, ch);
  EXPECT_TRUE(ch == '!' && !r.eof);
  Files_Read(r, ch);
  EXPECT_TRUE(ch == 0 && r.eof);
  Files_Flush(h);
  EXPECT_EQ(test::ReadFile("f.txt"), "Hello!");
}

TEST_F(FilesTest, RenameMovesOrKeepsTheFile) {
  test::WriteFile("a.log", "text");
  EXPECT_TRUE(Files_Rename("a.log", "b.log"));
  EXPECT_FALSE(test::Exists("a.log"));
  EXPECT_FALSE(Files_Rename("b.log", "nodir/c.log"));
  EXPECT_EQ(test::ReadFile("b.log"), "text");
  EXPECT_TRUE(Files_Rename("b.log", "./b.log"));
  EXPECT_EQ(test::ReadFile("b.log"), "text");
}

TEST_F(FilesTest, CloseTellsWhetherEveryByteReachedTheFile) {
  Files_Handle h = Files_New("f.txt");
  Files_Rider w;
  Files_Set(w, h, 0);
  Files_Write(w, 'a');
  EXPECT_TRUE(Files_Close(h));
  EXPECT_TRUE(Files_Close(h));  // nothing left to close
  // A device that takes no byte, as a full disk would.
  h = Files_New("/dev/full");
  ASSERT_NE(h, nullptr);
  Files_Set(w, h, 0);
  Files_Write(w, 'a');
  EXPECT_FALSE(Files_Close(h));
}

TEST_F(FilesTest, ReplacePutsTheFileInPlaceAndDeleteRemovesIt) {
  test::WriteFile("new.txt", "new");
  test::WriteFile("old.txt", "old");
  EXPECT_TRUE(Files_Replace("new.txt", "old.txt"));
  EXPECT_EQ(test::ReadFile("old.txt"), "new");
  EXPECT_FALSE(test::Exists("new.txt"));
  EXPECT_FALSE(Files_Replace("new.txt", "old.txt"));
  EXPECT_EQ(test::ReadFile("old.txt"), "new");
  Files_Delete("old.txt");
  EXPECT_FALSE(test::Exists("old.txt"));
  Files_Delete("old.txt");
}

}  // namespace
