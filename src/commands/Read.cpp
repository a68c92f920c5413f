#include "commands/Read.h"

#include <cstdio>
#include <string>

#include "base/Params.h"
#include "base/TextFile.h"
#include "base/Write.h"

namespace {

Files_Handle inFile;
int64_t pos = 0;  // how far the command file has been consumed
Scanner_Token token;

constexpr char backspace = 8, del = 127;

// Where the characters of the next line come from.
struct Source {
  Files_Rider rider;
  Files_Handle commandFile;

  Source() {
    if (Params_backGround) {
      commandFile = Files_Old(Params_commandFile);
      Files_Set(rider, commandFile, pos);
    } else {
      TextFile_FlushTerminal();  // the prompt must show before we wait
    }
  }
  ~Source() {
    if (Params_backGround) {
      pos = Files_Pos(rider);
      Files_Close(commandFile);
    }
  }
  // The next byte, or -1 at the end of the input.
  int Next() {
    if (!Params_backGround) return std::getchar();
    char ch;
    Files_Read(rider, ch);
    return rider.eof ? -1 : static_cast<unsigned char>(ch);
  }
};

void EraseOnTerminal() {
  if (Params_backGround) return;
  std::fputs("\b \b", stdout);
}

}  // namespace

bool InitRead() {
  Read_Close();
  pos = 0;
  token = Scanner_Token{};
  if (Params_error) return true;  // the main module reports the command line
  inFile = Files_New(Params_commandBuf);
  if (!inFile) {
    std::fputs("Error ----  Could not create command buffer file\n", stdout);
    return false;
  }
  if (Params_backGround) {
    Files_Handle f = Files_Old(Params_commandFile);
    if (!f) {
      std::fputs("Error ----  Could not find command file\n", stdout);
      return false;
    }
    Files_Close(f);
  }
  return true;
}

bool Read_Open() {
  std::string line;
  size_t excess = 0;  // characters beyond what a line may hold
  bool ended = false;
  {
    Source source;
    for (;;) {
      int c = source.Next();
      if (c < 0) {
        ended = line.empty() && excess == 0;
        break;
      }
      if (c == '\n' || c == '\r') break;
      if (c == backspace || c == del) {
        if (excess > 0) {
          --excess;
          EraseOnTerminal();
        } else if (!line.empty()) {
          line.pop_back();
          EraseOnTerminal();
        }
      } else if (c >= 32 && c < 127) {
        if (line.size() < Read_lineLength)
          line += static_cast<char>(c);
        else
          ++excess;
      }
    }
  }
  Read_Close();
  if (excess > 0) {
    // A cut line could mean something else entirely, so none of it is run.
    line.clear();
    Write_Ln();
    Write_String("Command line longer than 119 characters; it was not run.");
  }

  Files_Handle buffer = Files_New(Params_commandBuf);
  Files_Rider r;
  Files_Set(r, buffer, 0);
  for (char ch : line) {
    Files_Write(r, ch);
    Write_Logged(ch);
  }
  Files_Close(buffer);

  inFile = Files_Old(Params_commandBuf);
  Scanner_Open(token, inFile, 0);
  return !ended;
}

void Read_Get(Scanner_Token& t) {
  Scanner_Get(token);
  t = token;
}

void Read_Reset() { Scanner_Open(token, inFile, 0); }

void Read_Close() { Files_Close(inFile); }
