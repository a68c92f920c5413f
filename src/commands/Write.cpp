#include "commands/Write.h"

#include "commands/Params.h"
#include "commands/TextFile.h"

Files_Rider Write_log;

namespace {

Files_Handle logHandle;

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
}

void Write_Char(char ch) {
  Visible v;
  TextFile_Write(Write_log, ch);
}

void Write_String(std::string_view s) {
  Visible v;
  TextFile_WriteString(Write_log, s);
}

void Write_Ln() {
  Visible v;
  TextFile_WriteLine(Write_log);
}

void Write_Int(int64_t n, int width) {
  Visible v;
  TextFile_WriteInt(Write_log, n, width);
}

void Write_LongReal(double x, int width) {
  Visible v;
  TextFile_WriteLongReal(Write_log, x, width);
}

int64_t Write_Pos() { return Files_Pos(Write_log); }

void Write_Flush() {
  Files_Flush(logHandle);
  TextFile_FlushTerminal();
}

void Write_Close() {
  TextFile_FlushTerminal();
  Files_Close(logHandle);
  Write_log.file.reset();
}
