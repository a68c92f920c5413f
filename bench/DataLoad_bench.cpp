// Load times of data files: a list-format file with one variable and a
// rectangular file, each with 10^5 and 10^6 values, so that the growth with
// the file's size shows. Each case is read three times, each time into a
// fresh node store; the fastest read is printed.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "commands/Chain.h"
#include "base/Files.h"
#include "store/Graph.h"
#include "language/Data.h"
#include "language/Errors.h"
#include "language/Messages.h"
#include "language/Scanner.h"
#include "language/SymTabs.h"
#include "BenchSupport.h"

namespace {

// The k-th value of a file: a mix of integers, negative and positive reals
// with a few decimals, and now and then NA, as real data files hold them.
std::string ValueText(int64_t k) {
  uint64_t h = static_cast<uint64_t>(k) * 2654435761u % 1000003u;
  if (h % 97 == 0) return "NA";
  if (h % 5 == 0) return std::to_string(h % 1000);
  char text[32];
  std::snprintf(text, sizeof text, "%s%u.%03u", h % 3 == 0 ? "-" : "", static_cast<unsigned>(h % 10000 / 100),
                static_cast<unsigned>(h % 1000));
  return text;
}

void WriteList(const std::string& name, int64_t n) {
  std::ofstream out(name, std::ios::binary);
  out << "list(n = " << n << ",\n  x = c(";
  for (int64_t k = 0; k < n; ++k) {
    out << ValueText(k);
    if (k + 1 < n) out << (k % 10 == 9 ? ",\n    " : ", ");
  }
  out << "))\n";
}

// Rows of four values: x[r] and y[r, 1..3].
void WriteRectangular(const std::string& name, int64_t rows) {
  std::ofstream out(name, std::ios::binary);
  out << "# x y[,1] y[,2] y[,3]\n";
  for (int64_t k = 0; k < 4 * rows; ++k) out << ValueText(k) << (k % 4 == 3 ? "\n" : "\t");
}

// A fresh name table and node store holding x[n] or x[rows] and y[rows,3].
std::vector<SymTabs_Name*> Declare(int64_t rows, bool withY) {
  InitSymTabs();
  InitGraph();
  std::vector<SymTabs_Name*> names;
  SymTabs_Name x{.name = "x", .numIndices = 1, .lastNode = static_cast<int32_t>(rows - 1)};
  x.dims[0] = static_cast<int32_t>(rows);
  names.push_back(SymTabs_StoreName(x));
  int32_t total = static_cast<int32_t>(rows);
  if (withY) {
    SymTabs_Name y{.name = "y", .numIndices = 2, .firstNode = total};
    y.dims[0] = 3;
    y.dims[1] = static_cast<int32_t>(rows);
    total += 3 * static_cast<int32_t>(rows);
    y.lastNode = total - 1;
    names.push_back(SymTabs_StoreName(y));
  }
  Graph_AllocateNodes(total);
  return names;
}

int64_t NodesCreated() {
  int64_t n = 0;
  for (const Graph_Node* node : Graph_nodes) n += node != nullptr;
  return n;
}

// One load in a child process of its own, so that every load starts, as in
// a run of the program, with a fresh heap: the node store's growth dominates
// the cost, and memory freed by an earlier load would otherwise distort it.
// Only the read is timed. Returns the seconds, or a negative number when the
// read failed; nodes receives the number of nodes created.
template <typename Prepare, typename Read>
double TimeOnce(const std::string& file, Prepare prepare, Read load, int64_t& nodes) {
  int fd[2];
  if (pipe(fd) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(fd[0]);
    prepare();
    Files_Handle h = Files_Old(file);
    Errors_SetErrorFile(file, h);
    auto start = std::chrono::steady_clock::now();
    load(h);
    double result[2] = {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                        static_cast<double>(NodesCreated())};
    if (Data_error) result[0] = -1;
    bool sent = write(fd[1], result, sizeof result) == static_cast<ssize_t>(sizeof result);
    _exit(sent ? 0 : 1);
  }
  close(fd[1]);
  double result[2] = {-1, 0};
  bool got = pid > 0 && read(fd[0], result, sizeof result) == static_cast<ssize_t>(sizeof result);
  close(fd[0]);
  int status = 0;
  if (pid > 0) waitpid(pid, &status, 0);
  nodes = static_cast<int64_t>(result[1]);
  return got ? result[0] : -1;
}

template <typename Prepare, typename Read>
void Time(const char* label, int64_t values, const std::string& file, Prepare prepare, Read read) {
  double best = 1e30;
  int64_t nodes = 0;
  for (int run = 0; run < 3; ++run) {
    double s = TimeOnce(file, prepare, read, nodes);
    if (s < 0) {
      std::printf("%-12s %8lld values  reading failed\n", label, static_cast<long long>(values));
      std::exit(1);
    }
    if (s < best) best = s;
  }
  std::printf("%-12s %8lld values  %8.3f s  (%lld nodes, %.0f ns per value)\n", label,
              static_cast<long long>(values), best, static_cast<long long>(nodes),
              best * 1e9 / static_cast<double>(values));
}

}  // namespace

int main() {
  InitChain();
  bench::ScratchDirectory scratch(false);
  if (!scratch.ok()) return 1;
  const std::filesystem::path& dir = scratch.path();

  InitScanner();
  InitErrors();
  InitMessages();
  InitData();

  for (int64_t n : {100000, 1000000}) {
    std::string list = (dir / ("list" + std::to_string(n) + ".txt")).string();
    WriteList(list, n);
    Time("list", n, list, [n] { Declare(n, false); }, [](const Files_Handle& h) {
      int32_t iteration = 0, seed = 314159;
      Data_ReadSFile(Graph_data, iteration, seed, h);
    });
  }
  for (int64_t n : {100000, 1000000}) {
    int64_t rows = n / 4;
    std::string rect = (dir / ("rect" + std::to_string(n) + ".txt")).string();
    WriteRectangular(rect, rows);
    std::vector<SymTabs_Name*> names;
    Time("rectangular", n, rect, [&names, rows] { names = Declare(rows, true); },
         [&names, rows](const Files_Handle& h) {
           Data_ReadRectangularFile(Graph_data, names, static_cast<int32_t>(rows), h);
         });
  }
  return 0;
}
