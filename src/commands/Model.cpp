#include "commands/Model.h"

#include <cstdio>
#include <string>

#include "commands/Files.h"
#include "commands/Params.h"
#include "commands/Read.h"
#include "commands/Write.h"
#include "language/Messages.h"

bool Model_error = false;
int32_t Model_checkPointFreq = 2147483647;

namespace {

bool compiled = false;
int32_t iteration = 0;
std::string modelFile;

enum Message {
  alreadyCompiled = 10,
  expectedFileName = 11,
  noModelFile = 12,
  expectedRightParen = 13,
  noModel = 17,
};

void Complain(int message) {
  Write_Ln();
  Messages_Text(message);
}

// The commands that need a model all start the same way.
bool HaveModel() {
  if (compiled) return true;
  Complain(noModel);
  return false;
}

bool ClosingParenthesis() {
  Scanner_Token t;
  Read_Get(t);
  if (t.kind == Scanner_rparen) return true;
  Complain(expectedRightParen);
  return false;
}

}  // namespace

void InitModel() {
  compiled = false;
  Model_error = false;
  iteration = 0;
  Model_checkPointFreq = 2147483647;
  modelFile.clear();
}

void Model_Compile() {
  Model_error = false;
  if (compiled) return Complain(alreadyCompiled);
  Scanner_Token t;
  Read_Get(t);
  if (t.kind != Scanner_string) return Complain(expectedFileName);
  Files_Handle file = Files_Old(t.text);
  if (!file) return Complain(noModelFile);
  modelFile = t.text;
  // The phases of compilation follow here as the front end and the graph
  // builder provide them.
}

// Until a model can be compiled, the commands below that need one end at
// their first check.
void Model_Update() {
  if (!HaveModel()) return;
}

void Model_Save() {
  if (!HaveModel()) return;
}

void Model_Iter() {
  if (!HaveModel() || !ClosingParenthesis()) return;
  Write_Int(iteration, 10);
}

void Model_DisplayData() {
  if (!HaveModel() || !ClosingParenthesis()) return;
}

void Model_DisplayInits() {
  if (!HaveModel() || !ClosingParenthesis()) return;
}

void Model_DisplaySource() {
  if (!HaveModel() || !ClosingParenthesis()) return;
}

void Model_WriteGraph() {
  if (!HaveModel() || !ClosingParenthesis()) return;
}

void Model_SetCheckPoint(int32_t n) {
  if (n >= 1) Model_checkPointFreq = n;
}

void Model_Quit() {
  Write_Ln();
  Write_Close();
  Scanner_Token t;
  Read_Get(t);
  if (t.kind == Scanner_string && !Files_Rename(Params_logFile, t.text)) {
    // The log is closed, so the terminal is the only place left to say it.
    std::fprintf(stderr, "Could not move the log %s to %s; it was kept under its own name.\n",
                 Params_logFile.c_str(), t.text.c_str());
  }
}

void Model_RunTimeError() { Write_Close(); }
