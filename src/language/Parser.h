// Parser: the model file: its header, the const and var declarations, the
// data and inits statements, and the model body, which becomes a relation
// list of tree nodes for node generation to walk.
#pragma once

#include <cstdint>
#include <string>

#include "base/Files.h"
#include "language/Scanner.h"
#include "language/SymTabs.h"

struct Graph_Node;

// Records of the relation list.
enum Parser_RelationKind : int32_t {
  Parser_stochastic = 1,  // v ~ dist(...): left the reference to v, right the distribution
  Parser_logical = 2,     // v <- e: left the reference to v, right the expression
  Parser_loopStart = 3,   // name the counter, left and right the bounds
  Parser_loopTest = 4,    // name the counter, left the enclosing test, right the exit, next the body
  Parser_loopEnd = 5,     // next: the loop's test record
  Parser_loopExit = 6,    // next: the first relation after the loop
  Parser_head = 13,       // next: the first relation
};

// Expression nodes besides operators (token codes), functions and
// distributions (keyword codes).
enum Parser_TreeKind : int32_t {
  Parser_entry = -1,          // an index, parameter or bound list entry holder
  Parser_constantRef = 1,
  Parser_variableRef = 2,     // next: its index list, last index first
  Parser_counterRef = 3,
  Parser_literal = 4,         // node: its anonymous data node
  Parser_negate = -19,
  Parser_bound = 31,          // a bound entry of a parameter list
  Parser_inverseCloglog = -38,
  Parser_inverseLog = -41,
  Parser_inverseLogit = -48,
  Parser_inverseProbit = 52,  // the phi code
};

struct Parser_Tree {
  int32_t kind = Parser_entry;
  int64_t position = -1;  // source position for error reports
  SymTabs_Name* name = nullptr;
  Parser_Tree* left = nullptr;
  Parser_Tree* right = nullptr;
  Parser_Tree* next = nullptr;
  Graph_Node* node = nullptr;
  int32_t height = 1;     // levels of expression below and including this node
};

// Expressions deeper than this are refused: no later pass could turn them into
// code, and every walk over them would recurse that deep.
constexpr int32_t Parser_maxHeight = 200;

extern bool Parser_error;

// What the data and inits statements set.
struct Parser_Files {
  int32_t iteration = 0;
  int32_t seed = 314159;
  std::string dataFile;   // the last data file read
  std::string initsFile;  // the last initial-value file read; empty without inits
};

void InitParser();
// model name ;   (reads its first token itself)
void Parser_ModelStatement(Scanner_Token& t);
// const and var sections; allocates the node store and the constants' nodes.
void Parser_Declarations(Scanner_Token& t);
// data and inits statements, loading every file they name; leaves t on the
// first token of the body. The model file is made the error file again after each file.
void Parser_LoadData(Scanner_Token& t, const std::string& modelName, const Files_Handle& modelFile,
                     Parser_Files& files);
// The body, from its "{"; returns the head record.
Parser_Tree* Parser_BuildTree(Scanner_Token& t);
Parser_Tree* Parser_Expression(Scanner_Token& t);
// The value of a constant or index expression.
double Parser_EvaluateConstant(Parser_Tree* tree);
// The value of an extent or index expression as an integer.
int32_t Parser_Index(Parser_Tree* tree);
