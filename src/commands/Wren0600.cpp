#include "commands/Wren0600.h"

#include <csignal>

#include "base/CtrlC.h"
#include "commands/Chain.h"
#include "commands/Help.h"
#include "commands/Model.h"
#include "commands/Nodes.h"
#include "base/Params.h"
#include "commands/Read.h"
#include "base/TextFile.h"
#include "base/Write.h"
#include "graph/Analyse.h"
#include "graph/CodeGen.h"
#include "graph/FoldCons.h"
#include "graph/Parents.h"
#include "graph/Determ.h"
#include "store/Graph.h"
#include "sampling/InitVals.h"
#include "language/Errors.h"
#include "language/Data.h"
#include "language/Messages.h"
#include "language/Parser.h"
#include "language/Scanner.h"
#include "language/SymTabs.h"
#include "numerics/RandNum.h"
#include "numerics/SpecFunc.h"
#include "output/Converge.h"
#include "output/Monitors.h"
#include "output/OutGraph.h"
#include "output/OutNode.h"
#include "output/Sort.h"
#include "sampling/ClassDen.h"
#include "sampling/ClassFun.h"
#include "sampling/ConjDist.h"
#include "sampling/DFreeARS.h"
#include "sampling/Griddy.h"
#include "sampling/Blocks.h"
#include "sampling/Plans.h"
#include "sampling/Samplers.h"

namespace {

Scanner_Token T;  // the current command token

// Shows the prompt and reads a command line. Returns the command's code and
// leaves the scanner just after the "(" that follows the command word, or at
// the start of the line for a bare name. The end of the input reads as q().
int32_t GetCommand() {
  Write_String("Wren>");
  // Everything before the prompt reaches the log now: a run stopped while a
  // command is under way loses nothing earlier, and a log that can no longer
  // be written is reported before the next command.
  Write_Flush();
  if (!Read_Open()) return Scanner_q;
  Read_Get(T);
  int32_t code = T.kind;
  if (code == Scanner_name)
    Read_Reset();
  else
    Read_Get(T);
  return code;
}

void WriteDate(const std::tm& now) {
  static const char* const months[] = {" Jan ", " Feb ", " Mar ", " Apr ", " May ", " Jun ",
                                       " Jul ", " Aug ", " Sep ", " Oct ", " Nov ", " Dec "};
  int day = now.tm_mday;
  Write_Int(day, day < 10 ? 2 : 3);
  const char* suffix = "th";
  if (day < 11 || day > 13) {
    if (day % 10 == 1) suffix = "st";
    if (day % 10 == 2) suffix = "nd";
    if (day % 10 == 3) suffix = "rd";
  }
  Write_String(suffix);
  Write_String(months[(now.tm_mon % 12 + 12) % 12]);
  Write_Int(now.tm_year + 1900, 5);
}

// "wren 20 run.cmd" reads as an interactive run on the stem run.cmd, though
// its writer most likely meant the file's commands to be run.
void WarnStemIsFile() {
  Write_String("Warning: " + Params_stem + " is an existing file; it is read as the file stem (the log is " +
               Params_logFile + ").");
  Write_String(" To run the commands of a file, give it third: wren BINS STEM COMMANDFILE");
  Write_Ln();
}

}  // namespace

bool Wren0600_InitModules(int argc, const char* const* argv) {
  InitScanner();
  InitParams(argc, argv);
  InitWrite();
  if (!InitRead()) return false;
  InitHelp();
  InitChain();
  InitGraph();
  InitSymTabs();
  InitErrors();
  InitSpecFunc();
  InitDeterm();
  InitMessages();
  InitParser();
  InitData();
  InitCodeGen();
  InitFoldCons();
  InitParents();
  InitRandNum();
  InitAnalyse();
  InitInitVals();
  InitClassFun();
  InitClassDen();
  InitConjDist();
  InitGriddy(Params_numBins);
  InitDFreeARS();
  InitSamplers();
  InitPlans();
  InitBlocks();
  InitCtrlC();
  InitSort();
  InitMonitors();
  InitConverge();
  InitOutNode();
  InitOutGraph();
  InitModel();
  InitNodes();
  return true;
}

void Wren0600_WriteBanner(const std::tm& now) {
  Write_String("Welcome to WREN on ");
  WriteDate(now);
  Write_String(" at ");
  Write_Int(now.tm_hour, 0);
  Write_String(":");
  Write_Int(now.tm_min, 0);
  Write_String(":");
  Write_Int(now.tm_sec, 0);
  Write_Ln();
  Write_String("Version 0.600 for ");
  Write_String("unix systems.");
  Write_Ln();
  Write_String("For general release: please see documentation for disclaimer.");
  Write_Ln();
}

bool WrenLoop() {
  for (;;) {
    int32_t code = GetCommand();
    switch (code) {
      case Scanner_name: Nodes_Node(); break;
      case Scanner_data: Model_DisplayData(); break;
      case Scanner_inits: Model_DisplayInits(); break;
      case Scanner_model: Model_DisplaySource(); break;
      case Scanner_compile:
        Model_Compile();
        if (Model_error) return true;
        break;
      case Scanner_update:
        Model_Update();
        if (Model_error) {
          Model_RunTimeError();
          return true;
        }
        break;
      case Scanner_monitor: Nodes_Record(); break;
      case Scanner_clear: Nodes_Clear(); break;
      case Scanner_q: Model_Quit(); return false;
      case Scanner_graph: Model_WriteGraph(); break;
      case Scanner_iter: Model_Iter(); break;
      case Scanner_help: Help_HelpAction(); break;
      case Scanner_out: Nodes_OutPut(); break;
      case Scanner_save: Model_Save(); break;
      case Scanner_stats: Nodes_Stats(); break;
      case Scanner_diag: Nodes_Diagnostic(); break;
      case Scanner_conv: Nodes_Convergence(); break;
      case Scanner_checkpoint:
        Read_Get(T);
        // Anything but a whole number leaves the frequency as it was.
        if (T.kind == Scanner_integer) Model_SetCheckPoint(T.intValue);
        Read_Get(T);
        break;
      default: break;  // an empty line or anything that is no command
    }
    Write_Ln();
  }
}

int Wren0600_Main(int argc, const char* const* argv) {
  // A limit on file size then fails the write that passes it, as a full disk
  // does, and the writers report it and keep the earlier files; the signal
  // would end the run with the log and the traces unwritten.
  std::signal(SIGXFSZ, SIG_IGN);
  if (!Wren0600_InitModules(argc, argv)) {
    TextFile_FlushTerminal();
    return Wren0600_statusFailed;
  }
  if (Params_error) {
    Write_Ln();
    Write_String("Invalid command line arguments");
    Write_Ln();
    if (!Params_errorDetail.empty()) {
      Write_String(Params_errorDetail);
      Write_Ln();
    }
    Write_String(Params_usage);
    Write_Ln();
    TextFile_FlushTerminal();
    return Wren0600_statusFailed;
  }
  std::time_t t = std::time(nullptr);
  std::tm now{};
  localtime_r(&t, &now);
  if (!Params_backGround && Params_stemNamesFile) WarnStemIsFile();
  Wren0600_WriteBanner(now);
  Model_RecoverCheckPoint();
  const bool failed = WrenLoop();
  Write_Flush();
  return failed ? Wren0600_statusFailed : Wren0600_statusDone;
}
