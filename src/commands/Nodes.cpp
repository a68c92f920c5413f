#include "commands/Nodes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "base/Files.h"
#include "base/Params.h"
#include "commands/Read.h"
#include "base/TextFile.h"
#include "base/Write.h"
#include "commands/Chain.h"
#include "store/Graph.h"
#include "language/Messages.h"
#include "language/SymTabs.h"
#include "output/Converge.h"
#include "output/Monitors.h"
#include "output/OutNode.h"

namespace {

bool error = false;
bool newFile = true;       // the next stats creates its two files afresh
int32_t numMonitors = 0;   // rows written to the stats index file
int64_t outPos = 0;        // where the next stats continues its two files
int64_t indPos = 0;

enum Message {
  notFound = 30, noIndices = 31, indexNotInteger = 32, misplacedBracket = 33, misplacedComma = 34,
  expectedBracket = 35, expectedFrequency = 36, expectedRightParen = 37, syntaxError = 38,
  expectedColon = 39, expectedRangeInteger = 40, expectedComma = 41,
};

constexpr int32_t numBatches = 25;
constexpr size_t rowColumn = 15;  // report rows start their numbers here

void Error(int number) {
  error = true;
  Write_Ln();
  Messages_Text(number);
}

// Percentages outside (0, 100) name no point of a trace, and a pair whose
// lower end lies above its upper end names no interval.
void PercentagesRefused() {
  error = true;
  Write_Ln();
  Write_String("Percentages must lie between 0 and 100, the lower one first");
}

// An index beyond the declared extent would address another variable's nodes.
void OutOfRange() {
  error = true;
  Write_Ln();
  Write_String("Index outside the declared extent of the variable");
}

Scanner_Token t;  // the token the command is looking at

void Next() { Read_Get(t); }

// Reads the node name that every node command starts with and leaves t at
// the token after it.
bool GetName(OutNode_Ref& ref) {
  Next();
  const SymTabs_Name* name = t.kind == Scanner_name ? SymTabs_FindName(t.text) : nullptr;
  if (name == nullptr || name->kind == SymTabs_counter) {
    Error(notFound);
    return false;
  }
  const int32_t k = name->numIndices;
  ref = OutNode_WholeRef(*name);
  Next();
  if (t.kind != Scanner_lbrak) return true;
  if (k == 0) {
    Error(noIndices);
    return false;
  }
  for (int32_t d = 0; d < k; ++d) {
    const bool last = d == k - 1;
    Next();
    if (t.kind == Scanner_integer) {
      const int32_t a = t.intValue;
      int32_t b = a;
      Next();
      if (t.kind == Scanner_colon) {
        Next();
        if (t.kind != Scanner_integer) {
          Error(indexNotInteger);
          return false;
        }
        b = t.intValue;
        Next();
      }
      const int32_t slot = k - 1 - d;  // the reference holds the last index first
      if (a < 1 || b < a || b > ref.extents[slot]) {
        OutOfRange();
        return false;
      }
      ref.lower[slot] = a - 1;
      ref.upper[slot] = b;
    } else if (t.kind != Scanner_comma && t.kind != Scanner_rbrak) {
      Error(indexNotInteger);
      return false;
    }
    // t now ends the entry.
    if (t.kind == Scanner_comma) {
      if (last) {
        Error(misplacedComma);
        return false;
      }
    } else if (t.kind == Scanner_rbrak) {
      if (!last) {
        Error(misplacedBracket);
        return false;
      }
    } else {
      Error(last ? expectedBracket : syntaxError);
      return false;
    }
  }
  Next();
  return true;
}

// The node numbers of the reference, first index outermost (slot 0 of the
// reference, the last index, varies fastest).
template <typename Visit>
void ForEachElement(const OutNode_Ref& ref, Visit visit) {
  const int32_t k = ref.numDims;
  std::array<int32_t, 3> i{};
  for (int32_t s = 0; s < k; ++s) {
    if (ref.lower[s] >= ref.upper[s]) return;
    i[s] = ref.lower[s];
  }
  for (;;) {
    int64_t offset = 0;
    for (int32_t s = k - 1; s >= 0; --s) offset = offset * ref.extents[s] + i[s];
    visit(static_cast<int32_t>(ref.base + offset));
    int32_t s = 0;
    while (s < k && ++i[s] == ref.upper[s]) {
      i[s] = ref.lower[s];
      ++s;
    }
    if (s == k) return;
  }
}

bool ClosingParenthesis() {
  if (t.kind == Scanner_rparen) return true;
  Error(expectedRightParen);
  return false;
}

// The options of stats, diag and out: an iteration range and percentages.
struct Options {
  int32_t first = 1;
  int32_t last = 2147483647;
  double pLow = 2.5;
  double pHigh = 97.5;
};

bool Percentage(double& p) {
  if (t.kind == Scanner_integer) {
    p = t.intValue;
  } else if (t.kind == Scanner_real) {
    p = t.realValue;
  } else {
    Error(syntaxError);
    return false;
  }
  return true;
}

bool Between0And100(double p) { return p > 0.0 && p < 100.0; }

// A pair pLow : pHigh, t at pLow. A pair without its colon ends the command
// without a message. A pair outside (0, 100) or out of order is refused
// before anything is written.
bool Percentages(Options& o) {
  if (!Percentage(o.pLow)) return false;
  Next();
  if (t.kind != Scanner_colon) {
    error = true;
    return false;
  }
  Next();
  if (!Percentage(o.pHigh)) return false;
  Next();
  if (!ClosingParenthesis()) return false;
  if (!Between0And100(o.pLow) || !Between0And100(o.pHigh) || o.pLow > o.pHigh) {
    PercentagesRefused();
    return false;
  }
  return true;
}

bool GetOptions(Options& o) {
  if (t.kind == Scanner_rparen) return true;
  if (t.kind != Scanner_comma) return ClosingParenthesis();
  Next();
  if (t.kind == Scanner_real) return Percentages(o);
  if (t.kind != Scanner_integer) {
    Error(syntaxError);
    return false;
  }
  o.first = t.intValue;
  Next();
  if (t.kind != Scanner_colon) {
    Error(expectedColon);
    return false;
  }
  Next();
  if (t.kind != Scanner_integer) {
    Error(expectedRangeInteger);
    return false;
  }
  o.last = t.intValue;
  Next();
  if (t.kind == Scanner_rparen) return true;
  if (t.kind != Scanner_comma) {
    Error(expectedComma);
    return false;
  }
  Next();
  return Percentages(o);
}

struct Statistics {
  double mean = 0, sd = 0, median = 0, lower = 0, upper = 0;
  int32_t n = 0;
};

struct Diagnostic {
  double mean1 = 0, sd1 = 0, mean2 = 0, sd2 = 0, Z = 0;
  int32_t n = 0;
};

// "[2,3]" for an array element, nothing for a scalar.
std::string Indices(int32_t node) {
  SymTabs_Name label;
  if (!SymTabs_LookUpLabel(node, label)) return "";
  const std::string text = SymTabs_LabelText(label);
  const size_t bracket = text.find('[');
  return bracket == std::string::npos ? "" : text.substr(bracket);
}

// Appends one field of a report row. A value may fill its whole field (an
// exponent of three digits, a count of six); the fields after it then start
// one place later, so that two fields never run together and no digit is
// lost. Rows whose values fit are unchanged.
void AppendField(std::string& row, const std::string& field) {
  if (!row.empty() && row.back() != ' ' && !field.empty() && field.front() != ' ') row += ' ';
  row += field;
}

// A console row of the node tables: the row's start (an element's indices,
// a chain's name), spaces up to the first column of numbers, the fields,
// then the sample size after three spaces.
void WriteFields(std::string row, const std::vector<std::string>& fields, int64_t n) {
  if (row.size() < rowColumn) row.resize(rowColumn, ' ');
  for (const std::string& f : fields) AppendField(row, f);
  AppendField(row, "   ");
  AppendField(row, TextFile_IntText(n, 6));
  Write_Ln();
  Write_String(row);
}

// A row of the stats and diag tables: reals in fields of the width given.
void WriteRow(std::string row, std::initializer_list<double> values, int width, int32_t n) {
  std::vector<std::string> fields;
  for (double x : values) fields.push_back(TextFile_RealText(x, width));
  WriteFields(std::move(row), fields, n);
}

void WritePercentage(double p, bool lower) {
  // The commands accept only percentages in (0, 100); the bounds keep the
  // conversion defined whatever the caller passes.
  double tenths = 10.0 * p + 1.0E-16;
  if (!(tenths >= 0.0)) tenths = 0.0;
  if (tenths > 999.0) tenths = 999.0;
  const int64_t k = static_cast<int64_t>(tenths);
  if (k < 10) {
    Write_String(lower ? "    0." : "  0.");
    Write_Int(k, 0);
  } else if (k < 100) {
    Write_String(lower ? "   " : " ");
    Write_Int(k / 10, 0);
    Write_String(".");
    Write_Int(k % 10, 0);
  } else {
    if (lower) Write_String(" ");
    Write_Int(k / 10, 2);
    Write_String(".");
    Write_Int(k % 10, 0);
  }
}

void StatsHeading(const Options& o) {
  Write_Ln();
  Write_String(std::string(rowColumn, ' '));
  Write_String("   mean   ");
  Write_String("     sd    ");
  WritePercentage(o.pLow, true);
  Write_String("% : ");
  Write_String(" ");
  WritePercentage(o.pHigh, false);
  Write_String("%  CI");
  Write_String("    median  ");
  Write_String("    sample");
}

// Opens one of the stats files: afresh, or to continue where the last stats
// stopped.
Files_Rider OpenReport(const std::string& name, bool fresh, int64_t pos) {
  Files_Rider r;
  Files_Handle file = fresh ? nullptr : Files_Old(name);
  if (!file) {
    file = Files_New(name);
    pos = 0;
  }
  Files_Set(r, file, pos);
  return r;
}

void Stats(const OutNode_Ref& ref, const Options& o) {
  const bool fresh = newFile;
  if (newFile) {
    newFile = false;
    numMonitors = 0;
  }
  Files_Rider out = OpenReport(Params_out1File, fresh, outPos);
  Files_Rider ind = OpenReport(Params_index1File, fresh, indPos);
  if (!out.file || !ind.file) {
    Write_Ln();
    Write_String("Could not write the summary files " + Params_out1File + " and " + Params_index1File);
  }
  bool headed = false;
  ForEachElement(ref, [&](int32_t node) {
    Statistics s;
    int32_t start = o.first, end = o.last;
    Monitors_CalculateStatistics(node, start, end, s.mean, s.sd, s.median, s.lower, s.upper, s.n, o.pLow, o.pHigh);
    if (s.n == 0) return;
    if (!headed) StatsHeading(o);
    headed = true;
    WriteRow(Indices(node), {s.mean, s.sd, s.lower, s.upper, s.median}, 11, s.n);
    std::string line;
    for (double x : {s.mean, s.sd, o.pLow, s.lower, o.pHigh, s.upper, s.median})
      AppendField(line, TextFile_RealText(x, 11));
    for (int32_t v : {s.n, start, end}) AppendField(line, TextFile_IntText(v, 6));
    TextFile_WriteString(out, line);
    TextFile_WriteLine(out);
    TextFile_WriteString(ind, SymTabs_NodeText(node) + " ");
    TextFile_WriteInt(ind, ++numMonitors, 0);
    TextFile_WriteLine(ind);
  });
  outPos = Files_Pos(out);
  indPos = Files_Pos(ind);
  // Opening failed is reported above; a full disk shows only at the close.
  const bool opened = out.file && ind.file;
  const bool outDone = Files_Close(out.file);
  const bool indDone = Files_Close(ind.file);
  if (opened && !(outDone && indDone)) {
    Write_Ln();
    Write_String("Could not write the summary files " + Params_out1File + " and " + Params_index1File);
  }
}

void Diagnostics(const OutNode_Ref& ref, const Options& o) {
  Write_Ln();
  Write_String(std::string(rowColumn, ' '));
  for (const char* h : {"   mean   ", "    sd    ", "   mean   ", "    sd    ", "    Z     ", "  sample  "})
    Write_String(h);
  // The diagnostic compares the start of one chain with its end: each chain
  // gets a row of its own, named after the element's indices.
  const int32_t chains = Chain_Count();
  ForEachElement(ref, [&](int32_t node) {
    Chain_ForEach([&](int32_t k) {
      Diagnostic d;
      int32_t start = o.first;
      Monitors_Diagnostics(node, numBatches, start, o.last, d.mean1, d.sd1, d.mean2, d.sd2, d.Z, d.n);
      if (d.n < 1) return;
      std::string row = Indices(node);
      if (chains > 1) row += (row.empty() ? "chain " : " chain ") + std::to_string(k);
      WriteRow(row, {d.mean1, d.sd1, d.mean2, d.sd2, d.Z}, 10, d.n);
    });
  });
}

constexpr int convWidth = 11;

// A figure of the conv table: "NA" where it is not defined.
std::string Figure(double x, bool whole) {
  std::string f;
  if (std::isnan(x)) {
    f = " NA";
  } else if (whole) {
    f = " " + TextFile_IntText(std::llround(x), 0);
  } else {
    return TextFile_RealText(x, convWidth);
  }
  if (f.size() < convWidth) f.resize(convWidth, ' ');
  return f;
}

// Convergence and precision figures of every monitored element with samples
// in range.
void Convergence(const OutNode_Ref& ref, const Options& o) {
  Write_Ln();
  Write_String(std::string(rowColumn, ' '));
  for (const char* h : {"   R-hat   ", "  bulk ESS ", "  tail ESS ", " MCSE mean ", "   sample"}) Write_String(h);
  ForEachElement(ref, [&](int32_t node) {
    const std::vector<std::span<const double>> chains = Monitors_ChainTraces(node, o.first, o.last);
    if (std::all_of(chains.begin(), chains.end(), [](std::span<const double> c) { return c.empty(); })) return;
    const Converge_Summary s = Converge_Summarise(chains);
    WriteFields(Indices(node),
                {Figure(s.rHat, false), Figure(s.bulkEss, true), Figure(s.tailEss, true), Figure(s.mcseMean, false)},
                static_cast<int64_t>(s.draws));
  });
}

// The pair is written under temporary names and replaces the earlier pair
// only when both are complete: a full disk leaves the earlier files as they
// were and says so.
void Out(const OutNode_Ref& ref, const Options& o) {
  newFile = true;
  Files_StagedFile out(Params_out1File), ind(Params_index1File);
  bool done = out.Opened() && ind.Opened();
  if (done) {
    int64_t line = 1;
    ForEachElement(ref, [&](int32_t node) {
      const int64_t count = Monitors_OutMonitor(out.rider, node, o.first, o.last);
      Monitors_WriteIndexEntry(ind.rider, node, line, count);
      line += count;
    });
    const bool outDone = out.Finish();
    done = ind.Finish() && outDone && out.Place() && ind.Place();
  }
  if (!done) {
    Write_Ln();
    Write_String("Could not write the sample files " + Params_out1File + " and " + Params_index1File);
  }
}

// Every node command begins by resolving its node.
bool Begin(OutNode_Ref& ref) {
  error = false;
  return GetName(ref);
}

}  // namespace

void InitNodes() {
  error = false;
  newFile = true;
  numMonitors = 0;
  outPos = indPos = 0;
}

void Nodes_Node() {
  OutNode_Ref ref;
  if (!Begin(ref)) return;
  // Each chain's values in turn, under its number when there are several.
  Chain_ForEach([&ref](int32_t k) {
    if (Chain_Count() > 1) {
      Write_Ln();
      Write_String("chain " + std::to_string(k));
    }
    OutNode_DisplayNode(ref);
  });
}

void Nodes_Record() {
  OutNode_Ref ref;
  if (!Begin(ref)) return;
  int32_t freq = 1;
  if (t.kind == Scanner_comma) {
    Next();
    if (t.kind != Scanner_integer) return Error(expectedFrequency);
    freq = t.intValue;
    Next();
  }
  if (!ClosingParenthesis()) return;
  // A frequency below 1 would never record a value.
  if (freq < 1) freq = 1;
  ForEachElement(ref, [&](int32_t node) { Monitors_SetMonitor(node, freq); });
}

void Nodes_Clear() {
  OutNode_Ref ref;
  if (!Begin(ref) || !ClosingParenthesis()) return;
  ForEachElement(ref, [](int32_t node) { Monitors_ClearMonitor(node); });
}

void Nodes_Stats() {
  OutNode_Ref ref;
  Options o;
  if (Begin(ref) && GetOptions(o)) Stats(ref, o);
}

void Nodes_Diagnostic() {
  OutNode_Ref ref;
  Options o;
  if (Begin(ref) && GetOptions(o)) Diagnostics(ref, o);
}

void Nodes_Convergence() {
  OutNode_Ref ref;
  Options o;
  if (Begin(ref) && GetOptions(o)) Convergence(ref, o);
}

void Nodes_OutPut() {
  OutNode_Ref ref;
  Options o;
  if (Begin(ref) && GetOptions(o)) Out(ref, o);
}
