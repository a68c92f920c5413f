// Parents: the stochastic parents of every node's distribution, looking
// through logical nodes, and from them each node's likelihood list: the
// children whose density terms enter its full conditional. Unobserved
// dead-end children (twigs) are left out, and every component of a
// multivariate block carries the block's list.
#pragma once

#include "store/Graph.h"

// Set, before the report, when a node error was found.
extern bool Parents_error;

void InitParents();
// Builds the likelihood list of every node with a distribution, then drops
// the twigs from them and gives the components of each block the list of its
// first component. The caller tests Parents_error.
void Parents_BuildSamplingDistribu();
// Adds the stochastic parents of a stochastic node's distribution to list,
// unique by label (a block appears once); data nodes are never parents.
void Parents_StochasticParentList(Graph_Node* node, Graph_List& list);
// Adds the stochastic ancestors of a logical node to list, unique by label.
void Parents_DeterministicParentLi(Graph_Node* node, Graph_List& list);
