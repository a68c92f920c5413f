// Data: reads data and initial-value files into declared nodes.
//
// Two formats exist. The list format names each variable and gives its
// values, and may carry the iteration count and the random seed; it is also
// the format in which the sampler's state is saved. The rectangular format
// holds bare numbers in columns for the variables named by a data or inits
// statement. Every value creates the declared node that receives it; "NA"
// creates nothing. The caller makes the file the current error file first,
// tests Data_error afterwards and closes the file.
#pragma once

#include <cstdint>
#include <vector>

#include "base/Files.h"
#include "language/SymTabs.h"

extern bool Data_error;  // set by every error of this module; cleared when a read starts

void InitData();
// Reads a list-format file from its start. kind is Graph_data or Graph_stochastic;
// iteration and seed are replaced when the file holds those keys.
void Data_ReadSFile(int32_t kind, int32_t& iteration, int32_t& seed, const Files_Handle& file);
// Reads a list-format file of starting values for a further chain of a
// compiled model: each value goes to its node when that node is stochastic
// and marked Graph_noInitial (it then becomes Graph_stochastic); values of
// any other node are passed over. iteration and seed as above.
void Data_ReadChainStart(int32_t& iteration, int32_t& seed, const Files_Handle& file);
// Reads a rectangular file for the names of a data or inits statement, each with `rows` rows.
void Data_ReadRectangularFile(int32_t kind, const std::vector<SymTabs_Name*>& names, int32_t rows,
                              const Files_Handle& file);
