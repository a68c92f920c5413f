#include "language/Errors.h"

#include <cstdlib>
#include <unordered_set>

#include "base/Write.h"
#include "store/Graph.h"
#include "language/Messages.h"
#include "language/SymTabs.h"

namespace {


constexpr Messages_Entry entries[] = {
    {0, "Expected a right parenthesis."},
    {1, "Expected a left square bracket."},
    {2, "Expected a comma."},
    {3, "Expected a right square bracket."},
    {4, "Unexpected token in constant or index expression."},
    {5, "Expression cannot be evaluated it depends on data."},
    {6, "Index expression not an integer."},
    {7, "Index expression greater than array bound."},
    {8, "Index expression less than one."},
    {9, "Index expression depends on variable node."},
    {10, "Can not evaluate index or constant expression."},
    {11, "Source code must begin with model statement."},
    {12, "Expected model name."},
    {13, "Expected a semicolon."},
    {14, "Expected constant name or name already declared."},
    {15, "Expected equals sign."},
    {16, "Expected a comma or semicolon."},
    {17, "Expected variable name or name already declared."},
    {18, "Variable declared with too many indices."},
    {19, "Expected a comma semicolon or left square bracket."},
    {20, "Incorrect pairing of open and close braces."},
    {21, "Unable to allocate storage for model. Report to User Group."},
    {22, "Data or initial value already read for node."},
    {23, "Expected entry in data file to be either a number or NA."},
    {24, "Size of file object different to declared size."},
    {25, "File object must be at least two dimensions to be a structure."},
    {26, "Expected a left parenthesis."},
    {27, "Expected a period."},
    {28, "Expected key word Data."},
    {29, "Expected key word Data."},
    {30, "Expected collection operator c."},
    {31, "Expected key word Dim."},
    {32, "Expected an integer number for node dimension."},
    {33, "Dimension of file object inconsistent with node declaration."},
    {34, "Unexpected token in data file."},
    {35, "Expected key word list."},
    {36, "Expected key word in."},
    {37, "Expected file name in quotes."},
    {38, "Expected key word data."},
    {39, "Expected open brace."},
    {40, "Block is not contiguous: every index after the first range must span its whole extent."},
    {41, "Arguments of inprod function must contain a single index range."},
    {42, "Argument of sum or mean function must contain index range."},
    {43, "Invalid use of mulivariate node."},
    {44, "Unexpected token in deterministic expression."},
    {45, "Expected a parameter."},
    {46, "Expected the assignment operator."},
    {47, "Unreconized density name."},
    {48, "Expected either assignment operator or distributed as operator."},
    {49, "Expected either semicolon or close brace."},
    {50, "Unexpected token at start of statement."},
    {51, "Node already defined."},
    {52, "Size mismatch for vectors in inprod."},
    {53, "Expected a right parenthesis."},
    {54, "Expected a variable name."},
    {55, "Value of parameter outside range 1.0E-10 ..1.0E+10."},
    {56, "Invalid value for parameter too big or too small."},
    {57, "Invalid value for parameter not in range 0.0 to 1.0."},
    {58, "Invalid value for parameter expected an integer value."},
    {59, "Invalid parameter value must be fixed."},
    {60, "Invalid value for node expected positive value."},
    {61, "Invalid value for node too big or too small."},
    {62, "Invalid value for node not in range 0.0 to 1.0."},
    {63, "Invalid value for node expected an integer value."},
    {64, "Node already infered to be data or stochastic."},
    {65, "Expected variable declaration."},
    {66, "Invalid token scanned or unexpected end of input."},
    {67, "File does not exist."},
    {68, "Expected a comma to separate the two arguments."},
    {69, "Unexpected token."},
    {70, "Expected loop control variable."},
    {71, "Loop control variable already in use."},
    {72, "Expected a colon."},
    {73, "Made use of undefined node."},
    {74, "Made use of undefined node"},
    {75, "Bound(s) for distribution already implied."},
    {76, "Node value is less than implied lower bound."},
    {77, "Node value is greater than implied upper bound."},
    {78, "Node has undefined parent."},
    {79, "Multiviate  node contains both data and sampling components."},
    {80, "Can not generate starting values for some nodes in model."},
    {81, "Node value is less than lower bound."},
    {82, "Node value is greater than upper bound."},
    {83, "Deterministic node is too complex to generate code for"},
    {84, "Bad size for node."},
    {85, "Executed non implemented instruction."},
    {86, "Update method not implemented yet."},
    {87, "Can not bracket mode of sampling density."},
    {88, "Can not locate mode of sampling density."},
    {89, "Allowed number of function evaluations exceeded for ARS."},
    {90, "Node has undefined parent."},
    {91, "Unable to generate initial values for this model."},
    {92, "Too many constants."},
    {93, "Indicator function not allowed for here."},
    {94, "Node has been declared as constant"},
    {95, "Loops too deeply nested"},
    {96, "Unable to choose update method for node"},
    {97, "Wrong size for parameter of density"},
    {98, "Node is not defined"},
    {99, "Node value is less then lower allowed value"},
    {100, "Node value is greater than allowed upper value"},
    {101, "Size mismatch in data statement"},
    {110, "Too many nodes in model"},
    {111, "No prior specified for node"},
};

std::string errorFileName;
Files_Handle errorFile;

void WriteTail(std::string_view text) {
  Write_String(" -- error  -- ");
  Write_Ln();
  Write_String(text);
  Write_Ln();
}

// The name a node-error report gives a node. A declared node has its own
// label. A hidden node (a literal, a hidden sum or pick, an auxiliary of a
// relation) has none the user would know, so it is named by the declared
// node whose relation holds it: the nodes that have it as a parent are
// searched, then the nodes that have those as a parent, level by level,
// and the first declared node met (the lowest numbered of the nearest level)
// names it. Nodes keep no links to their dependants, so the search reads every
// node's parents once per level; it runs only when a report ends the run.
bool ReportedLabel(const Graph_Node* node, SymTabs_Name& label) {
  if (SymTabs_LookUpLabel(node->label, label)) return true;
  std::unordered_set<const Graph_Node*> level{node}, seen{node};
  while (!level.empty()) {
    std::unordered_set<const Graph_Node*> next;
    for (int32_t n = 0; n < Graph_totalNumNodes; ++n) {
      const Graph_Node* d = Graph_Label(n);
      if (d == nullptr || seen.count(d) != 0) continue;
      bool refers = false;
      for (const Graph_Node* p : d->parents) refers = refers || (p != nullptr && level.count(p) != 0);
      if (!refers) continue;
      if (SymTabs_LookUpLabel(d->label, label)) return true;
      seen.insert(d);
      next.insert(d);
    }
    level = std::move(next);
  }
  return false;
}

}  // namespace

void InitErrors() {
  errorFileName.clear();
  errorFile.reset();
}

std::string_view Errors_String(int n) { return Messages_Find(entries, n); }

void Errors_SetErrorFile(const std::string& name, const Files_Handle& handle) {
  errorFileName = name;
  errorFile = handle;
}

void Errors_CompileError(int64_t position, int number) {
  Errors_CompileErrorText(position, Errors_String(number));
}

void Errors_CompileErrorText(int64_t position, std::string_view text) {
  Write_Ln();
  Write_String("Error in file: ");
  Write_String(errorFileName);

  // Find the line that holds the character before the position. The position
  // counts the character held ahead of the token, so when that character is a
  // line end the token stands on the line the line end closes.
  Files_Rider r;
  Files_Set(r, errorFile, 0);
  int64_t lineStart = 0, line = 1;
  char ch = 0;
  for (int64_t i = 0; i < position - 1; ++i) {
    Files_Read(r, ch);
    if (r.eof) break;
    if (ch == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  int64_t column = position - lineStart;

  Write_Ln();
  Files_Set(r, errorFile, lineStart);
  for (;;) {
    Files_Read(r, ch);
    if (r.eof || ch == '\n') break;
    Write_Char(ch);
  }
  Write_Ln();
  for (int64_t i = 1; i < column; ++i) Write_Char(' ');
  Write_Char('$');
  Write_Ln();
  Write_String(" at line ");
  Write_Int(line, 5);
  Write_String(" column ");
  Write_Int(column, 5);
  Write_Ln();
  Write_Ln();
  WriteTail(text);
}

void Errors_NodeError(const Graph_Node* node, int number) {
  Errors_NodeErrorText(node, Errors_String(number));
}

void Errors_NodeReport(const Graph_Node* node, std::string_view text) {
  Write_Ln();
  Write_String("Error in file: ");
  Write_String(errorFileName);
  Write_Ln();
  Write_String(" for node: ");
  SymTabs_Name label;
  if (node != nullptr && ReportedLabel(node, label))
    Write_String(SymTabs_LabelText(label));
  else if (node != nullptr)
    Write_Int(node->label, 0);
  Write_Ln();
  WriteTail(text);
  Write_Flush();
}

void Errors_NodeErrorText(const Graph_Node* node, std::string_view text) {
  Errors_NodeReport(node, text);
  Write_EndRun();
}

