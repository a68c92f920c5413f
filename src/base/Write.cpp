#include "base/Write.h"

#include <cstdlib>
#include <cstdio>
#include <string>

#include "base/Params.h"
#include "base/TextFile.h"

Files_Rider Write_log;

namespace {

Files_Handle logHandle;
// The log could not be created or has lost bytes. The session goes on (the
// sampler's own files matter more than its transcript); standard error says
// so once, and a background run, which shows nothing on the terminal, sends
// its console text from the last point known to have reached the log onwards
// to standard error, so that nothing more is lost.
bool logFailed = false;
// Console text written since the log was last pushed out; kept so that it
// can still be shown when pushing it out fails. Pushed out at every prompt
// and whenever it grows past pushEvery.
std::string unflushed;
constexpr size_t pushEvery = 65536;
// The text a sweeping thread holds back (Write_Hold); null: none.
thread_local constinit std::string* held = nullptr;

// notMade: the log could not be created at all, rather than written on.
void ReportLogFailure(bool notMade) {
  logFailed = true;
  std::fflush(stdout);
  std::fprintf(stderr, "\nCould not %s the log %s (no permission, or the disk is full); the log %s.%s\n",
               notMade ? "create" : "write", Params_logFile.c_str(), notMade ? "is missing" : "ends early",
               Params_backGround ? " The session goes on; its console text follows here." : " The session goes on.");
  if (Params_backGround) std::fwrite(unflushed.data(), 1, unflushed.size(), stderr);
  std::string().swap(unflushed);
}

void PushLog() {
  if (logFailed || !logHandle) return;
  Files_Flush(logHandle);
  if (Files_Failed(logHandle))
    ReportLogFailure(false);
  else
    unflushed.clear();
}

// After the text s has gone to the log.
void Logged(std::string_view s) {
  if (logFailed) {
    if (Params_backGround) std::fwrite(s.data(), 1, s.size(), stderr);
    return;
  }
  if (!logHandle) return;
  unflushed.append(s);
  if (Files_Failed(logHandle))
    ReportLogFailure(false);
  else if (unflushed.size() >= pushEvery)
    PushLog();
}

// Makes the log's characters reach the terminal for the length of one call.
struct Visible {
  Visible() { TextFile_visible = true; }
  ~Visible() { TextFile_visible = false; }
};

}  // namespace

void InitWrite() {
  if (logHandle) Files_Close(logHandle);
  logHandle = Files_New(Params_logFile);
  Files_Set(Write_log, logHandle, 0);
  logFailed = false;
  unflushed.clear();
  if (!logHandle && !Params_logFile.empty()) ReportLogFailure(true);
}

void Write_Char(char ch) {
  if (held != nullptr) return held->push_back(ch);
  Visible v;
  TextFile_Write(Write_log, ch);
  Logged(std::string_view(&ch, 1));
}

void Write_Logged(char ch) {
  if (held != nullptr) return held->push_back(ch);
  TextFile_Write(Write_log, ch);
  Logged(std::string_view(&ch, 1));
}

void Write_String(std::string_view s) {
  if (held != nullptr) {
    held->append(s.substr(0, s.find('\0')));
    return;
  }
  Visible v;
  TextFile_WriteString(Write_log, s);
  Logged(s.substr(0, s.find('\0')));
}

void Write_Ln() {
  if (held != nullptr) return held->push_back('\n');
  Visible v;
  TextFile_WriteLine(Write_log);
  Logged("\n");
}

void Write_Int(int64_t n, int width) { Write_String(TextFile_IntText(n, width)); }

void Write_LongReal(double x, int width) { Write_String(TextFile_RealText(x, width)); }

int64_t Write_Pos() {
  if (held != nullptr) return static_cast<int64_t>(held->size());
  return Files_Pos(Write_log);
}

void Write_Flush() {
  if (held != nullptr) return;
  PushLog();
  TextFile_FlushTerminal();
  if (logFailed) std::fflush(stderr);
}

void Write_Close() {
  PushLog();
  TextFile_FlushTerminal();
  const bool open = logHandle != nullptr;
  if (!Files_Close(logHandle) && open && !logFailed) ReportLogFailure(false);
  unflushed.clear();
  Write_log.file.reset();
}

namespace {
Write_Ending ending = nullptr;
}  // namespace

void Write_EndRun() {
  if (held != nullptr) throw Write_Stopped{};
  if (ending != nullptr) ending();
  // A fatal fault is a failed run: a script running several chains must be
  // able to tell it from one that finished.
  std::exit(1);
}

void Write_SetEnding(Write_Ending e) { ending = e; }

void Write_Hold(std::string* text) { held = text; }
