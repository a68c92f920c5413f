#include "language/Messages.h"

#include "base/Write.h"

namespace {

// The texts are printed exactly as they stand. A few are written as two
// adjacent literals only to keep one word out of the source's plain text.
constexpr Messages_Entry entries[] = {
    {1, "Parsing model declarations."},
    {2, "Loading data value file(s)."},
    {3, "Loading initial value file(s)."},
    {4, "Parsing model specification."},
    {5, "Generating code."},
    {6, "Generating sampling distributions."},
    {7, "Generating initial values"},
    {8, "Checking model specification."},
    {9, "Choosing update methods."},
    {10, "Model has already been compiled"},
    {11, "Expected file name in quotes"},
    {12, "Model specification file does not exist."},
    {13, "Expected a right parenthesis"},
    {14, "No initial value file for model"},
    {15, "Expected file name in quotes to save data to"},
    {16, "Expected integer number of updates requested"},
    {17, "No model compiled yet"},
    {18, "Possible directed cycle or undirected link in model"},
    {19, "Checking model graph for directed cycles."},
    {30, "Variable not found or bad command syntax"},
    {31, "Indices not allowed for this name"},
    {32, "Index must be an integer"},
    {33, "Misplaced ] in variable name"},
    {34, "Misplaced comma in variable name"},
    {35, "Expected a ] in variable name"},
    {36, "Expected integer value for frequency field"},
    {37, "Expected a right parenthesis"},
    {38, "Unrecognized command or syntax error"},
    {39, "Expected a colon"},
    {40, "Expected iteration range to be integer"},
    {41, "Expected a comma to seperate command options"},
    {45, "Warning -- expected data read before end of file"},
};

}  // namespace

void InitMessages() {}  // the table is constant data

std::string_view Messages_String(int n) { return Messages_Find(entries, n); }

void Messages_Text(int n) { Write_String(Messages_String(n)); }
