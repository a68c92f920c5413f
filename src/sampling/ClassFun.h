// ClassFun: how a parameter depends on the node being updated, decided
// symbolically from the code of logical nodes: not at all (with the sign of
// a constant when it is known), as the node itself, linearly, through an
// exponential or an inverse link, and so on. Nothing is evaluated except the
// sign of data values, and nothing is changed. Used at compile time only, by
// the update-method choice.
#pragma once

#include <cstdint>

#include "store/Graph.h"

enum ClassFun_Form : int32_t {
  ClassFun_nonNegConst = 0,     // does not depend on the node; known to be >= 0
  ClassFun_negConst = 1,        // does not depend on it; a data value below 0
  ClassFun_anyConst = 2,        // does not depend on it; either sign
  ClassFun_identity = 3,        // the node itself
  ClassFun_scaledIdentity = 4,  // a non-negative multiple of it
  ClassFun_linear = 5,          // affine in it
  ClassFun_invLinkLinear = 6,   // an inverse link of a linear form, and its kin
  ClassFun_expLinear = 7,       // exponential of a linear form
  ClassFun_powerForm = 8,       // a power of the node
  ClassFun_expSum = 9,          // a non-negative constant plus exponentials of linear forms
  ClassFun_generalForm = 10,    // anything else
};

void InitClassFun();
// While a memo exists, the class of every logical node with respect to its
// block is remembered, so the terms of one node that share operands (an
// aggregate, say) classify them once. The graph must not change while it
// exists; one exists at a time.
class ClassFun_Memo {
 public:
  ClassFun_Memo(int32_t label, int32_t size);
  ~ClassFun_Memo();
  ClassFun_Memo(const ClassFun_Memo&) = delete;
  ClassFun_Memo& operator=(const ClassFun_Memo&) = delete;
};

// While a session exists, what classification learns about aggregates (a
// sum over many nodes) is kept for every block, so a sum shared by the
// terms of many nodes is read once. The graph must not change while it
// exists; one exists at a time.
class ClassFun_Session {
 public:
  ClassFun_Session();
  ~ClassFun_Session();
  ClassFun_Session(const ClassFun_Session&) = delete;
  ClassFun_Session& operator=(const ClassFun_Session&) = delete;
};

// The class of node as a function of the updated node, the block of size
// consecutive numbers starting at label. Code that is not shaped as node
// generation writes it is never read out of bounds; it is generalForm.
int32_t ClassFun_MapRnToR1(Graph_Node* node, int32_t label, int32_t size);
// The class of the m-vector whose first component is node: anyConst,
// identity, linear, invLinkLinear or generalForm.
int32_t ClassFun_MapRnToRm(Graph_Node* node, int32_t label, int32_t size, int32_t m);
