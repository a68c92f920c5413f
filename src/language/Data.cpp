#include "language/Data.h"

#include <string>

#include "base/Write.h"
#include "store/Graph.h"
#include "language/Errors.h"
#include "language/Messages.h"
#include "language/Scanner.h"

bool Data_error = false;

namespace {

constexpr int endOfDataWarning = 45;  // message number
constexpr int endOfFileMark = 26;     // the end-of-text control byte, which may close a text file

// One file being read: its scanner and the kind every value's node receives.
struct Reader {
  Scanner_Token t;
  int32_t kind = Graph_data;
  // The nodes exist already (a further chain of a compiled model): a value
  // goes to a node still waiting for its start, and every other is passed over.
  bool restart = false;
};

// Reports at the current token and ends the reading: callers return false at once.
bool Error(Reader& r, int number) {
  Errors_CompileError(r.t.rider.pos, number);
  Data_error = true;
  return false;
}

bool Expect(Reader& r, int32_t kind, int number) {
  Scanner_Get(r.t);
  return r.t.kind == kind || Error(r, number);
}

// The number of elements: the product of the extents, 1 for a scalar.
int64_t Size(const SymTabs_Name& name) {
  int64_t s = 1;
  for (int i = 0; i < name.numIndices; ++i) s *= name.dims[i];
  return s;
}

// Element k of the variable, counted in row-major order, receives the value.
// An element beyond the declared size has no node to receive it; the caller
// reports the size mismatch where the format defines it.
bool Store(Reader& r, const SymTabs_Name& name, int64_t k, double value) {
  if (k < 0 || k >= Size(name)) return true;
  int64_t number = name.firstNode + k;
  if (number < 0 || number >= static_cast<int64_t>(Graph_nodes.size())) return true;
  if (r.restart) {
    Graph_Node* node = Graph_nodes[number];
    if (node != nullptr && node->kind == Graph_noInitial) {
      Graph_Own(node) = value;
      node->kind = Graph_stochastic;
    }
    return true;
  }
  if (Graph_nodes[number] != nullptr) return Error(r, 22);
  Graph_Node* node = Graph_NewNode();
  node->label = static_cast<int32_t>(number);
  Graph_Own(node) = value;
  node->kind = r.kind;
  Graph_nodes[number] = node;
  return true;
}

bool RunsOn(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.'; }

// Ends the number that is the current token. Other programs write integers
// with an L directly after them (50L), which is passed over. Anything else
// run on to the number (0x10, 1.5.3, 2e3x) cannot be read as a value; taking
// the front of it would load a number the file does not hold, so the text
// run on becomes the current token and the caller reports it.
bool EndOfNumber(Reader& r) {
  if (r.t.kind == Scanner_integer && r.t.ch == 'L') {
    Scanner_Get(r.t);
    if (r.t.kind != Scanner_name || r.t.text != "L") return false;
  }
  if (!RunsOn(r.t.ch)) return true;
  Scanner_Get(r.t);
  return false;
}

// One value from the current token on: "NA", or an optional minus and a number.
// The current token is the value's last token afterwards.
bool ReadNumber(Reader& r, const SymTabs_Name& name, int64_t k) {
  if (r.t.kind == Scanner_NA) return true;  // the element stays without a node
  bool negative = false;
  if (r.t.kind == Scanner_minus) {
    negative = true;
    Scanner_Get(r.t);
  }
  double value;
  if (r.t.kind == Scanner_integer)
    value = r.t.intValue;
  else if (r.t.kind == Scanner_real)
    value = r.t.realValue;
  else
    return Error(r, 23);
  if (!EndOfNumber(r)) return Error(r, 23);
  return Store(r, name, k, negative ? -value : value);
}

// Where the k-th value of a list written column by column (the first index
// varying fastest) goes in the row-major order of the nodes.
int64_t ColumnToRow(const SymTabs_Name& name, int64_t k) {
  const int n = name.numIndices;  // dims[] hold the last index first
  int64_t index[3] = {0, 0, 0};
  for (int j = 0; j < n; ++j) {
    index[j] = k % name.dims[n - 1 - j];
    k /= name.dims[n - 1 - j];
  }
  int64_t offset = 0;
  for (int j = 0; j < n; ++j) offset = offset * name.dims[n - 1 - j] + index[j];
  return offset;
}

// The values of c(...); the "(" is the current token. Afterwards the current
// token is the one after the list, which the caller expects to be ")".
// byColumn: the values come column by column rather than row by row.
bool ReadNumberList(Reader& r, const SymTabs_Name& name, bool byColumn = false) {
  const int64_t size = Size(name);
  int64_t k = 0;
  do {
    Scanner_Get(r.t);
    if (!ReadNumber(r, name, byColumn && k < size ? ColumnToRow(name, k) : k)) return false;
    ++k;
    Scanner_Get(r.t);
  } while (r.t.kind == Scanner_comma);
  return k == size || Error(r, 24);
}

// A "." directly followed by the D of Data or Dim.
bool ReadPoint(Reader& r) {
  if (!Expect(r, Scanner_period, 27)) return false;
  return r.t.ch == 'D' || Error(r, 28);
}

// An integer extent as the current token, an L after it passed over.
bool ReadExtent(Reader& r, int32_t& extent) {
  if (r.t.kind != Scanner_integer) return Error(r, 32);
  extent = r.t.intValue;
  return EndOfNumber(r) || Error(r, 32);
}

// The extents after "dim =" or ".Dim =", first index first: c(2, 3),
// c(2L, 3L) or the run 2:3. Each must be the declared extent of its index;
// there may be no more than the variable has indices, and with all set no
// fewer. Afterwards the current token is the one after them.
bool ReadExtents(Reader& r, const SymTabs_Name& name, bool all) {
  const int32_t n = name.numIndices;
  int32_t i = 0;  // extents compared so far
  // The record keeps the extents last index first.
  const auto compare = [&](int32_t extent) { return (i < n && extent == name.dims[n - 1 - i++]) || Error(r, 33); };
  Scanner_Get(r.t);
  if (r.t.kind == Scanner_integer) {
    int32_t from = 0, to = 0;
    if (!ReadExtent(r, from) || !Expect(r, Scanner_colon, 30)) return false;
    Scanner_Get(r.t);
    if (!ReadExtent(r, to)) return false;
    for (int32_t e = from;; e += from <= to ? 1 : -1) {
      if (!compare(e)) return false;
      if (e == to) break;
    }
  } else {
    if (r.t.kind != Scanner_c) return Error(r, 30);
    if (!Expect(r, Scanner_lparen, 26)) return false;
    do {
      Scanner_Get(r.t);
      int32_t extent = 0;
      if (!ReadExtent(r, extent) || !compare(extent)) return false;
      Scanner_Get(r.t);
    } while (r.t.kind == Scanner_comma);
    if (r.t.kind != Scanner_rparen) return Error(r, 2);
  }
  if (all && i < n) return Error(r, 33);
  Scanner_Get(r.t);
  return true;
}

// Attributes R writes after the extents (dimnames = list(NULL, c("a", "b")))
// tell nothing this program reads: they are passed over up to the closing
// ")" of the structure, which stays the current token.
bool SkipAttributes(Reader& r) {
  for (int depth = 0; depth > 0 || r.t.kind != Scanner_rparen; Scanner_Get(r.t)) {
    if (r.t.kind == Scanner_invalid) return Error(r, 0);
    if (r.t.kind == Scanner_lparen) ++depth;
    if (r.t.kind == Scanner_rparen) --depth;
  }
  return true;
}

// structure(...); the current token is "structure". Two forms:
//   structure(.Data = c(...), .Dim = c(...)): the values row by row, last
//     index fastest, as every list file of this program holds them;
//   structure(c(...), dim = ...) or structure(c(...), .Dim = ...), the form
//     R writes: the values column by column, first index fastest, with every
//     extent given, and any attributes after them passed over.
// The closing ")" is left for the list's loop to pass over.
bool ReadStructure(Reader& r, const SymTabs_Name& name) {
  if (name.numIndices < 2) return Error(r, 25);
  if (!Expect(r, Scanner_lparen, 26)) return false;
  Scanner_Get(r.t);
  const bool byColumn = r.t.kind == Scanner_c;
  if (!byColumn) {
    if (r.t.kind != Scanner_period) return Error(r, 27);
    if (r.t.ch != 'D') return Error(r, 28);
    if (!Expect(r, Scanner_Data, 29) || !Expect(r, Scanner_equals, 15) || !Expect(r, Scanner_c, 30))
      return false;
  }
  if (!Expect(r, Scanner_lparen, 26) || !ReadNumberList(r, name, byColumn)) return false;
  if (r.t.kind != Scanner_rparen) return Error(r, 0);
  if (!Expect(r, Scanner_comma, 2)) return false;
  Scanner_Token key = r.t;
  Scanner_Get(key);
  if (byColumn && key.kind == Scanner_name && key.text == "dim") {
    r.t = key;
  } else if (!ReadPoint(r) || !Expect(r, Scanner_Dim, 31)) {
    return false;
  }
  if (!Expect(r, Scanner_equals, 15) || !ReadExtents(r, name, byColumn)) return false;
  return !byColumn || SkipAttributes(r);
}

// One entry "name = ..." of a declared variable; the current token is the name.
bool ReadNode(Reader& r, const SymTabs_Name& name) {
  if (!Expect(r, Scanner_equals, 15)) return false;
  Scanner_Get(r.t);
  if (r.t.kind == Scanner_structure) return ReadStructure(r, name);
  if (r.t.kind == Scanner_c) {
    if (!Expect(r, Scanner_lparen, 26) || !ReadNumberList(r, name)) return false;
    if (r.t.kind != Scanner_rparen) return Error(r, 0);
  } else {
    if (name.numIndices > 0) return Error(r, 25);
    if (!ReadNumber(r, name, 0)) return false;
  }
  Scanner_Get(r.t);
  return true;
}

// "= integer" after iteration or seed; no sign is allowed.
bool ReadKeyValue(Reader& r, int32_t& target) {
  if (!Expect(r, Scanner_equals, 15) || !Expect(r, Scanner_integer, 34)) return false;
  const int32_t value = r.t.intValue;
  if (!EndOfNumber(r)) return Error(r, 34);
  target = value;
  Scanner_Get(r.t);
  return true;
}

bool ReadIteration(Reader& r, int32_t& iteration) { return ReadKeyValue(r, iteration); }

bool ReadSeed(Reader& r, int32_t& seed) { return ReadKeyValue(r, seed); }

// An entry for a name the model does not declare is skipped, but a misspelt
// name would otherwise surface later as some unrelated failure, so say so.
void WarnUndeclared(const Reader& r, const std::string& name) {
  Write_String("Warning -- ");
  Write_String(name);
  Write_String(r.kind == Graph_data ? " in the data file" : " in the initial value file");
  Write_String(" is not a name of the model; its values are skipped");
  Write_Ln();
}

}  // namespace

void InitData() { Data_error = false; }

namespace {

void ReadList(Reader& r, int32_t& iteration, int32_t& seed, const Files_Handle& file);

}  // namespace

void Data_ReadSFile(int32_t kind, int32_t& iteration, int32_t& seed, const Files_Handle& file) {
  Reader r;
  r.kind = kind;
  ReadList(r, iteration, seed, file);
}

void Data_ReadChainStart(int32_t& iteration, int32_t& seed, const Files_Handle& file) {
  Reader r;
  r.kind = Graph_stochastic;
  r.restart = true;
  ReadList(r, iteration, seed, file);
}

namespace {

void ReadList(Reader& r, int32_t& iteration, int32_t& seed, const Files_Handle& file) {
  Data_error = false;
  Scanner_Open(r.t, file, 0);
  if (!Expect(r, Scanner_list, 35) || !Expect(r, Scanner_lparen, 26)) return;
  Scanner_Get(r.t);
  // Everything that is not a declared variable, iteration or seed is passed
  // over, so a list may carry variables this model does not use, and its
  // commas and closing parenthesis need no checking.
  bool ok = true;
  while (ok) {
    switch (r.t.kind) {
      case Scanner_invalid:
        // The end of the file; any other invalid token cannot be passed over.
        if (r.t.ch != Scanner_endOfFile) Error(r, 34);
        return;
      case Scanner_name: {
        const SymTabs_Name* name = SymTabs_FindName(r.t.text);
        if (name != nullptr && name->kind == SymTabs_variable) {
          ok = ReadNode(r, *name);
        } else {
          // Only an entry's own name is warned about: bare words inside the
          // values of a skipped entry are not names of anything.
          const std::string text = r.t.text;
          Scanner_Get(r.t);
          if (name == nullptr && r.t.kind == Scanner_equals) WarnUndeclared(r, text);
        }
        break;
      }
      case Scanner_iteration:
        ok = ReadIteration(r, iteration);
        break;
      case Scanner_seed:
        ok = ReadSeed(r, seed);
        break;
      default:
        Scanner_Get(r.t);
        break;
    }
  }
}

}  // namespace

void Data_ReadRectangularFile(int32_t kind, const std::vector<SymTabs_Name*>& names, int32_t rows,
                              const Files_Handle& file) {
  Data_error = false;
  Reader r;
  r.kind = kind;
  Scanner_Open(r.t, file, 0);
  for (int64_t row = 0; row < rows; ++row) {
    for (const SymTabs_Name* name : names) {
      int64_t columns = (name->numIndices == 2 || name->numIndices == 3) ? name->dims[0] : 1;
      for (int64_t j = 0; j < columns; ++j) {
        Scanner_Get(r.t);
        if (r.t.kind == Scanner_comma) Scanner_Get(r.t);
        if (!ReadNumber(r, *name, row * columns + j)) return;
      }
    }
  }
  // Only layout may follow the last value. Anything else suggests the file
  // holds more than the statement asked for, which is worth a warning but
  // leaves the values read in place.
  int c = r.t.ch;
  while (c != Scanner_endOfFile) {
    if (c != ' ' && c != '\n' && c != '\r' && c != endOfFileMark) {
      Messages_Text(endOfDataWarning);
      Write_Ln();
      return;
    }
    char ch;
    Files_Read(r.t.rider, ch);
    c = r.t.rider.eof ? Scanner_endOfFile : static_cast<unsigned char>(ch);
  }
}
