// Params: the command line and the file names derived from it.
//
//   wren BINS STEM             interactive run
//   wren BINS STEM COMMANDFILE background run, commands read from the file
//
// Everything here is set once by InitParams and read by the other modules.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

constexpr size_t Params_maxName = 79;  // longest file name the system keeps
// Shown after a command line that cannot be used.
constexpr std::string_view Params_usage = "usage: wren BINS STEM [COMMANDFILE]";

extern bool Params_error;        // the command line cannot be used
extern std::string Params_errorDetail;  // why, when more than the argument count is wrong
extern bool Params_backGround;   // commands come from Params_commandFile
extern int32_t Params_numBins;   // grid points of the griddy sampler
extern std::string Params_stem;  // the second argument, which every file name below extends
// The stem itself names an existing regular file, as when a command file is
// given where the stem belongs: the main module then warns an interactive run.
extern bool Params_stemNamesFile;
extern std::string Params_commandFile;
extern std::string Params_commandBuf;       // stem.buf
extern std::string Params_logFile;          // stem.log
extern std::string Params_outFile;          // stem.out
extern std::string Params_indexFile;        // stem.ind
extern std::string Params_out1File;         // stem1.out
extern std::string Params_index1File;       // stem1.ind
extern std::string Params_restartFile;      // stem.res
extern std::string Params_sampleOutFile;    // stem.sof
extern std::string Params_sampleIndexFile;  // stem.sif
extern std::string Params_checkPointMark;   // stem.ckp: present while a checkpoint is put in place

// argv[0] is the program name, as main receives it.
void InitParams(int argc, const char* const* argv);
