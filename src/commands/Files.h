// Files: byte-stream files read and written through riders.
//
// A handle is shared by every rider bound to it; a rider carries its own
// position, so several riders (the scanner, the error locator) can read one
// open file independently.
#pragma once

#include <cstdint>
#include <memory>
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
// Moves a file by copying it to newName and deleting oldName. Returns false,
// keeping oldName, when the copy cannot be made. Naming the same file twice,
// or a missing oldName, changes nothing.
bool Files_Rename(const std::string& oldName, const std::string& newName);
// Puts the file fromName in the place of toName in one step, replacing any
// file there: at every moment toName is either the old file or the whole new
// one. Both must lie on the same file system (the same directory will do).
// False, changing nothing, when that cannot be done.
bool Files_Replace(const std::string& fromName, const std::string& toName);
// Removes the file; nothing happens when there is none.
void Files_Delete(const std::string& name);
