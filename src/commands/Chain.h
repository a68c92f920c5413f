// Chain: the record of one run of the sampler. Everything a sweep changes
// lives in it: the stored values of the nodes, the random stream, and the
// parts other modules keep for a chain. The compiled model (nodes, code,
// parents, likelihood lists, update methods, plans) is shared by every
// record and is not written during a sweep, so records bound to different
// threads can sweep the same model at once.
#pragma once

#include <memory>

#include "commands/Model.h"
#include "graph/Determ.h"
#include "numerics/RandNum.h"
#include "output/Monitors.h"
#include "sampling/Blocks.h"
#include "sampling/Plans.h"
#include "sampling/Samplers.h"
#include "store/Graph.h"

struct Chain_Record {
  Graph_Values values;       // every node's stored value, by slot
  RandNum_Stream stream;     // the random stream with its shuffle table
  Determ_ChainPart linear;   // maintained sums, the terms linear forms leave out
  Samplers_ChainPart sweep;  // the sweep's cursor, each update record's state, the last failure
  Plans_ChainPart plans;     // completed sweeps of the update command
  Blocks_ChainPart blocks;   // each block's proposals and acceptances
  Model_Progress progress;   // the iteration count
  Monitors_Traces traces;    // the monitors' samples of this chain
};

// Binds every part of the record to the calling thread: the modules read
// and write the bound record's parts until another is bound.
void Chain_Bind(Chain_Record& record);
// A new record with the bound record's values, stream and iteration count,
// for a second chain of the same compiled model; its traces start empty.
// Bind it in the thread that sweeps it.
std::unique_ptr<Chain_Record> Chain_Copy();

// The record of the run's chain, bound to the calling thread (start-up
// binds it to the main thread). Makes a fresh record first.
void InitChain();
Chain_Record& Chain_First();
