// ClassDen: the choice of one update procedure for every stochastic node,
// made once per compilation. The node's full conditional (its prior times
// the terms of its likelihood list) is classified by fixed rule tables from
// distribution identifiers and the functional form of each parameter, and
// the class, with the bounds the model gives the node, picks a procedure:
// a conjugate or prior draw, discrete enumeration, adaptive rejection
// sampling or the griddy Metropolis updater. Nothing is evaluated except
// the values of constant parameters.
#pragma once

#include <cstdint>

#include "store/Graph.h"
#include "sampling/Samplers.h"

// Set, before the node error that ends the program, when a node has no
// update procedure.
extern bool ClassDen_error;

void InitClassDen();
// Registers one Sampler per stochastic node or block, in increasing node
// number, each with its procedure.
void ClassDen_ChooseUpdateMethod();
// The method code a node would get; the registration pass uses it, and so
// do the tests.
int32_t ClassDen_MethodCode(Graph_Node* node);
