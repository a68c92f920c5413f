// CodeGen: turns the parsed model body into the nodes of the graph. Loops are
// unrolled; every logical node gets its code and operands, nodes that depend
// on data only are folded into constants, and every stochastic node gets its
// distribution and parameters.
#pragma once

#include <cstdint>

struct Parser_Tree;

// Distribution identifiers, as stored in a node's density.
enum CodeGen_Density : int32_t {
  CodeGen_dbern = 1, CodeGen_dbeta, CodeGen_dbin, CodeGen_dcat, CodeGen_dchisq, CodeGen_ddirch,
  CodeGen_ddexp, CodeGen_dexp, CodeGen_df, CodeGen_dgamma, CodeGen_dgeom, CodeGen_dgum,
  CodeGen_dhypo, CodeGen_dlogis, CodeGen_dlnorm, CodeGen_dmnorm, CodeGen_dmulti, CodeGen_dnegbin,
  CodeGen_dnorm, CodeGen_dpar, CodeGen_dpois, CodeGen_dpow, CodeGen_dunif, CodeGen_dweib,
  CodeGen_dwish, CodeGen_dzipf,
};

extern bool CodeGen_error;

void InitCodeGen();
// Runs the four passes (allocate nodes, logical relations, folding,
// stochastic relations), stopping after the first that fails.
void CodeGen_WriteGraph(Parser_Tree* head);
