#include "Fuzz.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <utility>
#include <vector>

#include "commands/Read.h"
#include "commands/Wren0600.h"
#include "base/Write.h"
#include "language/Errors.h"

namespace fs = std::filesystem;

namespace {

// Thrown by the ending put in place of the process exit.
struct EndOfRun {};

[[noreturn]] void ThrowEndOfRun() { throw EndOfRun{}; }

fs::path scratch;  // made on the first run, removed when the process ends
std::string lastLog;

void RemoveScratch() {
  std::error_code ec;
  if (!scratch.empty()) fs::remove_all(scratch, ec);
}

// Makes the scratch directory current and empty; false when it cannot be made.
bool EnterScratch() {
  if (scratch.empty()) {
    std::string tmpl = (fs::temp_directory_path() / "wren-fuzz-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) return false;
    scratch = tmpl;
    std::atexit(RemoveScratch);
  }
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(scratch, ec)) fs::remove_all(entry.path(), ec);
  fs::current_path(scratch, ec);
  return !ec;
}

void WriteFile(const std::string& name, const std::string& text) {
  std::ofstream out(name, std::ios::binary);
  out << text;
}

std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the command file "cmds" of the current directory as the program does
// in the background, with the log "f.log".
Fuzz_Outcome RunCommands(const std::string& commands) {
  WriteFile("cmds", commands);
  const char* argv[] = {"wren", "20", "f", "cmds"};
  Write_SetEnding(ThrowEndOfRun);
  Fuzz_Outcome outcome = Fuzz_completed;
  try {
    if (Wren0600_InitModules(4, argv)) WrenLoop();
  } catch (const EndOfRun&) {
    outcome = Fuzz_ended;
  }
  Write_SetEnding(nullptr);
  Write_Close();
  Read_Close();
  lastLog = ReadFile("f.log");
  return outcome;
}

// Runs the commands in the scratch directory with the files given written
// there first, and comes back to the directory it started from.
Fuzz_Outcome Run(const std::vector<std::pair<std::string, std::string>>& files,
                 const std::string& commands) {
  std::error_code ec;
  const fs::path home = fs::current_path(ec);
  if (ec || !EnterScratch()) return Fuzz_refused;
  for (const auto& [name, text] : files) WriteFile(name, text);
  Fuzz_Outcome outcome = RunCommands(commands);
  fs::current_path(home, ec);
  return outcome;
}

// A file name with a directory in it could reach outside the scratch
// directory; the runs keep to names without one.
bool NamesOutsideScratch(const std::string& text) {
  return text.find('/') != std::string::npos || text.find('\\') != std::string::npos;
}

// The quoted strings of a model text, in order, outside its comments.
std::vector<std::string> QuotedNames(const std::string& text) {
  std::vector<std::string> names;
  char quote = 0;
  bool comment = false;
  for (char c : text) {
    if (comment) {
      if (c == '\n') comment = false;
    } else if (quote != 0) {
      if (c == quote)
        quote = 0;
      else
        names.back() += c;
    } else if (c == '"' || c == '\'') {
      quote = c;
      names.emplace_back();
    } else if (c == '#') {
      comment = true;
    }
  }
  return names;
}

bool NameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.';
}

// A number of the text above the limit: digits with a fraction and an
// exponent, wherever they stand (in a comment too, which costs little).
bool LargeNumber(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const bool start = (text[i] >= '0' && text[i] <= '9') || text[i] == '.';
    if (!start || (i > 0 && NameCharacter(text[i - 1]))) continue;
    size_t j = i;
    while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
    if (j < text.size() && text[j] == '.') ++j;
    while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
    if (j < text.size() && (text[j] == 'E' || text[j] == 'e')) {
      ++j;
      if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
      while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
    }
    const std::string number = text.substr(i, j - i);
    if (std::strtod(number.c_str(), nullptr) > static_cast<double>(Fuzz_maxNumber)) return true;
    i = j;
  }
  return false;
}

// The line as the command reader keeps it: printable characters, each
// backspace or delete taking back the one before.
std::string Edited(const std::string& raw) {
  std::string line;
  for (char c : raw) {
    if (c == 8 || c == 127) {
      if (!line.empty()) line.pop_back();
    } else if (c >= 32 && c < 127) {
      line += c;
    }
  }
  return line;
}

// Trims an update command's count to what is left of the run's sweeps.
std::string TrimUpdate(const std::string& line, int32_t& left) {
  size_t i = line.find_first_not_of(' ');
  if (i == std::string::npos || line.compare(i, 7, "update(") != 0) return line;
  size_t from = line.find_first_not_of(' ', i + 7);
  if (from == std::string::npos) return line;
  size_t to = from;
  while (to < line.size() && line[to] >= '0' && line[to] <= '9') ++to;
  if (to == from) return line;
  const std::string digits = line.substr(from, to - from);
  const int32_t asked = digits.size() > 9 ? INT32_MAX : std::atoi(digits.c_str());
  const int32_t granted = std::max<int32_t>(1, std::min(asked, left));
  left = std::max<int32_t>(0, left - granted);
  return line.substr(0, from) + std::to_string(granted) + line.substr(to);
}

// A small model that uses both formats, several distributions, a matrix and
// a logical node.
const char* const fixedModel =
    "model f;\n"
    "const N = 4;\n"
    "var x[N], y[N], m[N], n[N], k[N], z[2, N], lambda[2], mu, beta, tau, p;\n"
    "@data\n"
    "@inits\n"
    "{\n"
    "  for (i in 1:N) {\n"
    "    m[i] <- mu + beta * x[i]\n"
    "    y[i] ~ dnorm(m[i], tau)\n"
    "    k[i] ~ dbin(p, n[i])\n"
    "  }\n"
    "  for (j in 1:2) {\n"
    "    for (i in 1:N) { z[j, i] ~ dpois(lambda[j]) }\n"
    "    lambda[j] ~ dgamma(1, 1)\n"
    "  }\n"
    "  mu ~ dnorm(0, 0.001)\n"
    "  beta ~ dnorm(0, 0.001)\n"
    "  tau ~ dgamma(0.1, 0.1)\n"
    "  p ~ dbeta(1, 1)\n"
    "}\n";

const char* const fixedData =
    "list(x = c(1, 2, 3, 4), y = c(1.2, 2.1, 2.9, 4.2), n = c(5, 6, 7, 8),\n"
    "     k = c(2, 3, 4, 4), z = structure(.Data = c(1, 2, 0, 3, 2, 2, 1, 4), .Dim = c(2, 4)))\n";
const char* const fixedInits = "list(mu = 0, beta = 1, tau = 1, p = 0.5, lambda = c(1, 1))\n";

std::string FixedModel(const std::string& data, const std::string& inits) {
  std::string text = fixedModel;
  text.replace(text.find("@data"), 5, data);
  text.replace(text.find("@inits"), 6, inits);
  return text;
}

}  // namespace

Fuzz_Outcome Fuzz_Model(const uint8_t* data, size_t size) {
  if (size > Fuzz_maxInput) return Fuzz_refused;
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  for (size_t start = 0;;) {
    const size_t end = input.find('\1', start);
    parts.push_back(input.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (LargeNumber(parts[0])) return Fuzz_refused;
  std::vector<std::pair<std::string, std::string>> files;
  const std::vector<std::string> names = QuotedNames(parts[0]);
  for (const std::string& name : names)
    if (NamesOutsideScratch(name)) return Fuzz_refused;
  for (size_t k = 1; k < parts.size() && k - 1 < names.size(); ++k)
    if (!names[k - 1].empty() && names[k - 1] != "m.bug") files.emplace_back(names[k - 1], parts[k]);
  files.emplace_back("m.bug", parts[0]);
  return Run(files, "compile(\"m.bug\")\nq()\n");
}

Fuzz_Outcome Fuzz_Data(const uint8_t* data, size_t size) {
  if (size < 1 || size > Fuzz_maxInput) return Fuzz_refused;
  const bool rectangular = (data[0] & 1) != 0;
  const bool inits = (data[0] & 2) != 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string dataStatement = "data in \"d.dat\";";
  std::string initsStatement = "inits in \"i.dat\";";
  if (inits)
    initsStatement = rectangular ? "inits mu, beta, tau, p in \"v.dat\";" : "inits in \"v.dat\";";
  else
    dataStatement = rectangular ? "data x, y, n, k, z in \"v.dat\";" : "data in \"v.dat\";";
  return Run({{"m.bug", FixedModel(dataStatement, initsStatement)},
              {"d.dat", fixedData},
              {"i.dat", fixedInits},
              {"v.dat", text}},
             "compile(\"m.bug\")\nupdate(5)\nq()\n");
}

Fuzz_Outcome Fuzz_Session(const uint8_t* data, size_t size) {
  if (size > Fuzz_maxInput) return Fuzz_refused;
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (NamesOutsideScratch(text)) return Fuzz_refused;
  std::string commands = "compile(\"m.bug\")\n";
  int32_t left = Fuzz_maxSweeps;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = Edited(text.substr(start, end - start));
    // Longer lines are refused whole by the reader, trimmed or not.
    commands += line.size() > Read_lineLength ? line : TrimUpdate(line, left);
    commands += '\n';
    start = end + 1;
  }
  return Run({{"m.bug", FixedModel("data in \"d.dat\";", "inits in \"i.dat\";")},
              {"d.dat", fixedData},
              {"i.dat", fixedInits}},
             commands);
}

std::string Fuzz_Log() { return lastLog; }
