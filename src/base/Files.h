// Files: byte-stream files read and written through riders.
//
// A handle is shared by every rider bound to it; a rider carries its own
// position, so several riders (the scanner, the error locator) can read one
// open file independently.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

struct Files_File;
using Files_Handle = std::shared_ptr<Files_File>;

struct Files_Rider {
  Files_Handle file;    // null when no file is bound or the file was closed
  int64_t pos = 0;      // bytes read or written through this rider since Files_Set
  bool eof = false;     // set by a read that found no byte
};

// Opens an existing regular file; null when there is none by that name.
Files_Handle Files_Old(const std::string& name);
// Creates the file, truncating an existing one; null when it cannot be made.
Files_Handle Files_New(const std::string& name);
// Closes the file; every rider on it then reads end of file and writes nothing.
// False when a byte written to it since it was opened did not reach the
// operating system (a full disk, a failed device): callers that must not
// lose what they wrote test it.
bool Files_Close(Files_Handle& handle);
void Files_Set(Files_Rider& rider, const Files_Handle& handle, int64_t pos);
// Reads one byte into ch (0 at end of file) and advances the position by one.
void Files_Read(Files_Rider& rider, char& ch);
void Files_Write(Files_Rider& rider, char ch);
int64_t Files_Pos(const Files_Rider& rider);
// Pushes buffered bytes of the file to the operating system.
void Files_Flush(const Files_Handle& handle);
// True once a byte written to the open file has failed to reach the
// operating system (a full disk, a file-size limit): what follows it in the
// file is lost too. False for no file.
bool Files_Failed(const Files_Handle& handle);
// Moves a file to newName, replacing a file there. Within one file system
// this is a rename; across file systems the file is copied beside newName
// first and moved over it only when the copy is complete. Returns false,
// keeping oldName and any earlier newName as they were, when that cannot be
// done. Naming the same file twice, or a missing oldName, changes nothing.
bool Files_Rename(const std::string& oldName, const std::string& newName);
// Puts the file fromName in the place of toName in one step, replacing any
// file there: at every moment toName is either the old file or the whole new
// one. Both must lie on the same file system (the same directory will do).
// False, changing nothing, when that cannot be done.
bool Files_Replace(const std::string& fromName, const std::string& toName);
// Removes the file; nothing happens when there is none.
void Files_Delete(const std::string& name);

// A file written under a temporary name (the final name and ".tmp") beside
// its final one and put in place only when complete, so that the final name
// holds either the earlier file or the whole new one. The temporary file is
// removed when this goes out of scope without having been placed.
class Files_StagedFile {
 public:
  explicit Files_StagedFile(const std::string& finalName);
  Files_StagedFile(const Files_StagedFile&) = delete;
  Files_StagedFile& operator=(const Files_StagedFile&) = delete;
  ~Files_StagedFile();

  // Whether the temporary file could be created.
  bool Opened() const { return created_; }
  // Closes the file; true when it was created and every byte written to it
  // reached it.
  bool Finish();
  // Puts the finished file in the place of the final one, in one step.
  bool Place();
  const std::string& Name() const { return final_; }
  const std::string& Temporary() const { return temporary_; }
  // Created, and closed by Finish.
  bool Finished() const { return created_ && !handle_; }
  // Leaves the temporary file in place even if it is never placed: it
  // belongs to a committed set (Files_CommitSet).
  void Keep() { kept_ = true; }

  Files_Rider rider;  // writes into the temporary file

 private:
  std::string final_, temporary_;
  Files_Handle handle_;
  bool created_ = false, placed_ = false, kept_ = false;
};

// Staged files put in place as one set. Once every file of the set is
// finished and has reached the disk, a small marker file, itself written
// under a temporary name and put in place in one step, commits the set; the
// files are then put in place one after another and the marker removed. A
// run stopped at any instant so leaves either the earlier set, perhaps with
// temporary files beside it, or a committed set that Files_RecoverSet
// completes: never a mixture of the two.
struct Files_SetOutcome {
  bool committed = false;                     // false: nothing was changed
  const Files_StagedFile* unplaced = nullptr; // a committed file still under its temporary name
};
// The marker holds text, which Files_RecoverSet hands back. Files must all be
// finished; a set that cannot be committed is left to the files' own clean-up.
Files_SetOutcome Files_CommitSet(const std::string& marker, const std::string& text,
                                 std::span<Files_StagedFile* const> files);

enum class Files_Recovery {
  none,       // no marker and no temporary file of the set
  completed,  // a committed set was put in place
  removed,    // temporary files of a set never committed were removed
  failed      // a committed set could not be put in place; it stays committed
};
// Finishes what a stopped run left of the set of files named finals with the
// marker named marker; text receives the marker's text for a committed set.
// Safe to stop at any instant and to run again.
Files_Recovery Files_RecoverSet(const std::string& marker, std::span<const std::string> finals, std::string& text);
