#include "base/Files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct Files_File {
  std::FILE* fp = nullptr;
  int64_t osPos = 0;      // where the stream stands, to skip needless seeks
  bool lastWrite = false; // a read after a write needs a seek, and vice versa
  bool lost = false;      // a byte written was not taken by the stream

  ~Files_File() {
    if (fp != nullptr) std::fclose(fp);
  }
};

// A seam for the tests, which declare it for themselves: null in a run.
void (*Files_beforeStep)() = nullptr;

namespace {

void Step() {
  if (Files_beforeStep != nullptr) Files_beforeStep();
}

std::string TemporaryName(const std::string& finalName) { return finalName + ".tmp"; }

// Asks that the file's bytes be on the disk, not only with the operating
// system, so that a power loss after a later step cannot leave it short.
bool SyncFile(const std::string& name, int flags) {
  const int fd = open(name.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

// The same for the directory entries of the files beside name: the renames
// done there so far.
bool SyncDirectoryOf(const std::string& name) {
  const size_t slash = name.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
  return SyncFile(dir, O_RDONLY | O_DIRECTORY);
}

bool IsRegularFile(const std::string& name) {
  struct stat st {};
  return stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

Files_Handle Wrap(std::FILE* fp) {
  if (fp == nullptr) return nullptr;
  auto h = std::make_shared<Files_File>();
  h->fp = fp;
  return h;
}

// Brings the stream to the rider's position before a transfer.
bool Position(Files_File& f, int64_t pos, bool writing) {
  if (f.fp == nullptr) return false;
  if (f.osPos != pos || f.lastWrite != writing) {
    if (std::fseek(f.fp, static_cast<long>(pos), SEEK_SET) != 0) return false;
    f.osPos = pos;
  }
  f.lastWrite = writing;
  return true;
}

}  // namespace

Files_Handle Files_Old(const std::string& name) {
  if (name.empty() || !IsRegularFile(name)) return nullptr;
  // Reopened report files are written on where they stopped, so ask for
  // writing too; a read-only file still opens for reading.
  std::FILE* fp = std::fopen(name.c_str(), "r+b");
  if (fp == nullptr) fp = std::fopen(name.c_str(), "rb");
  return Wrap(fp);
}

Files_Handle Files_New(const std::string& name) {
  if (name.empty()) return nullptr;
  return Wrap(std::fopen(name.c_str(), "w+b"));
}

bool Files_Close(Files_Handle& handle) {
  bool ok = true;
  if (handle && handle->fp != nullptr) {
    // Buffered bytes go out at the close, so a full disk may show only here.
    ok = !handle->lost && std::ferror(handle->fp) == 0;
    if (std::fclose(handle->fp) != 0) ok = false;
    handle->fp = nullptr;
  }
  handle.reset();
  return ok;
}

void Files_Set(Files_Rider& rider, const Files_Handle& handle, int64_t pos) {
  rider.file = handle;
  rider.pos = pos < 0 ? 0 : pos;
  rider.eof = false;
}

void Files_Read(Files_Rider& rider, char& ch) {
  ch = 0;
  int c = EOF;
  if (rider.file && Position(*rider.file, rider.pos, false)) {
    c = std::fgetc(rider.file->fp);
    if (c != EOF) rider.file->osPos++;
  }
  rider.eof = (c == EOF);
  if (c != EOF) ch = static_cast<char>(c);
  rider.pos++;
}

void Files_Write(Files_Rider& rider, char ch) {
  if (rider.file && rider.file->fp != nullptr) {
    if (Position(*rider.file, rider.pos, true) &&
        std::fputc(static_cast<unsigned char>(ch), rider.file->fp) != EOF)
      rider.file->osPos++;
    else
      rider.file->lost = true;
  }
  rider.pos++;
}

int64_t Files_Pos(const Files_Rider& rider) { return rider.pos; }

void Files_Flush(const Files_Handle& handle) {
  if (handle && handle->fp != nullptr && std::fflush(handle->fp) != 0) handle->lost = true;
}

bool Files_Failed(const Files_Handle& handle) {
  return handle && handle->fp != nullptr && (handle->lost || std::ferror(handle->fp) != 0);
}

bool Files_Rename(const std::string& oldName, const std::string& newName) {
  struct stat from {}, to {};
  if (stat(oldName.c_str(), &from) != 0) return true;  // nothing to move
  if (stat(newName.c_str(), &to) == 0 && from.st_dev == to.st_dev && from.st_ino == to.st_ino)
    return true;  // copying a file onto itself would empty it
  if (newName.empty()) return false;
  // A rename needs no room on the disk, which may be full.
  if (std::rename(oldName.c_str(), newName.c_str()) == 0) return true;
  if (errno != EXDEV) return false;
  std::FILE* in = std::fopen(oldName.c_str(), "rb");
  if (in == nullptr) return false;
  // Copied beside the target, so that a copy cut short by a full disk never
  // takes the place of a file already there.
  const std::string temporary = newName + ".tmp";
  std::FILE* out = std::fopen(temporary.c_str(), "wb");
  if (out == nullptr) {
    std::fclose(in);
    return false;
  }
  char buf[65536];
  bool ok = true;
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) {
    if (std::fwrite(buf, 1, n, out) != n) {
      ok = false;
      break;
    }
  }
  if (std::ferror(in)) ok = false;
  std::fclose(in);
  if (std::fclose(out) != 0) ok = false;
  if (!ok || std::rename(temporary.c_str(), newName.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  std::remove(oldName.c_str());
  return true;
}

bool Files_Replace(const std::string& fromName, const std::string& toName) {
  if (fromName.empty() || toName.empty()) return false;
  return std::rename(fromName.c_str(), toName.c_str()) == 0;
}

void Files_Delete(const std::string& name) {
  if (!name.empty()) std::remove(name.c_str());
}

Files_StagedFile::Files_StagedFile(const std::string& finalName)
    : final_(finalName), temporary_(TemporaryName(finalName)) {
  if (!finalName.empty()) {
    Step();
    handle_ = Files_New(temporary_);
  }
  created_ = handle_ != nullptr;
  Files_Set(rider, handle_, 0);
}

Files_StagedFile::~Files_StagedFile() {
  if (handle_) Files_Close(handle_);
  if (created_ && !placed_ && !kept_) Files_Delete(temporary_);
}

bool Files_StagedFile::Finish() {
  rider.file.reset();
  if (!created_) return false;
  Step();
  return Files_Close(handle_);
}

bool Files_StagedFile::Place() {
  if (!Finished()) return false;
  Step();
  placed_ = Files_Replace(temporary_, final_);
  return placed_;
}

Files_SetOutcome Files_CommitSet(const std::string& marker, const std::string& text,
                                 std::span<Files_StagedFile* const> files) {
  Files_SetOutcome outcome;
  for (const Files_StagedFile* f : files) {
    Step();
    if (!f->Finished() || !SyncFile(f->Temporary(), O_RDONLY)) return outcome;
  }
  {
    Files_StagedFile note(marker);
    for (char c : text) Files_Write(note.rider, c);
    if (!note.Finish()) return outcome;
    Step();
    if (!SyncFile(note.Temporary(), O_RDONLY) || !note.Place()) return outcome;
  }
  Step();
  SyncDirectoryOf(marker);  // the commit must reach the disk before any file moves
  outcome.committed = true;
  for (Files_StagedFile* f : files) f->Keep();
  for (Files_StagedFile* f : files) {
    if (!f->Place()) {
      outcome.unplaced = f;
      return outcome;  // the marker stays: the set is completed later
    }
  }
  Step();
  SyncDirectoryOf(marker);
  Step();
  Files_Delete(marker);
  return outcome;
}

Files_Recovery Files_RecoverSet(const std::string& marker, std::span<const std::string> finals, std::string& text) {
  text.clear();
  if (!IsRegularFile(marker)) {
    bool found = false;
    for (const std::string& name : finals) {
      if (IsRegularFile(TemporaryName(name))) {
        found = true;
        Step();
        Files_Delete(TemporaryName(name));
      }
    }
    if (IsRegularFile(TemporaryName(marker))) {
      found = true;
      Step();
      Files_Delete(TemporaryName(marker));
    }
    return found ? Files_Recovery::removed : Files_Recovery::none;
  }
  if (Files_Handle h = Files_Old(marker)) {
    Files_Rider r;
    Files_Set(r, h, 0);
    for (char ch; Files_Read(r, ch), !r.eof;) text += ch;
    Files_Close(h);
  }
  for (const std::string& name : finals) {
    if (!IsRegularFile(TemporaryName(name))) continue;  // put in place before the stop
    Step();
    if (!Files_Replace(TemporaryName(name), name)) return Files_Recovery::failed;
  }
  Step();
  SyncDirectoryOf(marker);
  Step();
  Files_Delete(marker);
  return Files_Recovery::completed;
}
