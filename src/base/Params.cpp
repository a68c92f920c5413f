#include "base/Params.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

bool Params_error = false;
std::string Params_errorDetail;
bool Params_backGround = false;
int32_t Params_numBins = 0;
std::string Params_stem;
bool Params_stemNamesFile = false;
std::string Params_commandFile;
std::string Params_commandBuf;
std::string Params_logFile;
std::string Params_outFile;
std::string Params_indexFile;
std::string Params_out1File;
std::string Params_index1File;
std::string Params_restartFile;
std::string Params_sampleOutFile;
std::string Params_sampleIndexFile;
std::string Params_checkPointMark;

namespace {

// The longest extension appended to the stem ("1.out", "1.ind").
constexpr size_t longestExtension = 5;

void Fail(const std::string& detail) {
  Params_error = true;
  Params_errorDetail = detail;
  Params_backGround = false;
}

bool ParseBins(const char* text, int32_t& bins) {
  if (text == nullptr || *text == '\0') return false;
  const char* p = text;
  if (*p == '+' || *p == '-') ++p;
  if (*p == '\0') return false;
  for (const char* q = p; *q != '\0'; ++q)
    if (*q < '0' || *q > '9') return false;
  errno = 0;
  long long v = std::strtoll(text, nullptr, 10);
  if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
  bins = static_cast<int32_t>(v);
  return true;
}

void ClearNames() {
  for (std::string* s : {&Params_stem, &Params_commandFile, &Params_commandBuf, &Params_logFile,
                         &Params_outFile, &Params_indexFile, &Params_out1File, &Params_index1File,
                         &Params_restartFile, &Params_sampleOutFile, &Params_sampleIndexFile,
                         &Params_checkPointMark})
    s->clear();
}

}  // namespace

void InitParams(int argc, const char* const* argv) {
  Params_error = false;
  Params_errorDetail.clear();
  Params_backGround = false;
  Params_numBins = 0;
  Params_stemNamesFile = false;
  ClearNames();

  if (argc != 3 && argc != 4) {
    Params_error = true;
    return;
  }
  if (!ParseBins(argv[1], Params_numBins)) {
    Fail(std::string("The bin count must be a whole number that fits an integer: ") + argv[1]);
    return;
  }
  std::string stem = argv[2];
  if (stem.empty()) {
    Fail("The file stem must not be empty.");
    return;
  }
  if (stem.size() + longestExtension > Params_maxName) {
    Fail("The file stem must be at most " + std::to_string(Params_maxName - longestExtension) +
         " characters long.");
    return;
  }
  if (argc == 4) {
    std::string cmd = argv[3];
    if (cmd.empty() || cmd.size() > Params_maxName) {
      Fail("The command file name must be 1 to " + std::to_string(Params_maxName) +
           " characters long.");
      return;
    }
    Params_backGround = true;
    Params_commandFile = cmd;
  }
  Params_stem = stem;
  // Read before any file of the run is written; a name that cannot be
  // examined counts as no file.
  std::error_code ignored;
  Params_stemNamesFile = std::filesystem::is_regular_file(stem, ignored);
  Params_commandBuf = stem + ".buf";
  Params_logFile = stem + ".log";
  Params_outFile = stem + ".out";
  Params_indexFile = stem + ".ind";
  Params_out1File = stem + "1.out";
  Params_index1File = stem + "1.ind";
  Params_restartFile = stem + ".res";
  Params_sampleOutFile = stem + ".sof";
  Params_sampleIndexFile = stem + ".sif";
  Params_checkPointMark = stem + ".ckp";
}
