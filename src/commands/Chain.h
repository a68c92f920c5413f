// Chain: the record of one run of the sampler. Everything a sweep changes
// lives in it: the stored values of the nodes, the random stream, and the
// parts other modules keep for a chain. The compiled model (nodes, code,
// parents, likelihood lists, update methods, plans) is shared by every
// record and is not written during a sweep, so records bound to different
// threads can sweep the same model at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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

// The run's chains, numbered from 1; chain 1 is Chain_First(). A run asks
// for more when it compiles its model, and keeps them to its end.
int32_t Chain_Count();
Chain_Record& Chain_At(int32_t number);
// Calls visit(k) for every chain k in order with chain k's record bound to
// the calling thread: chain 1 is the record bound when called, so that a
// run of one chain binds nothing; when there are more, Chain_First() is
// bound again at the end.
void Chain_ForEach(const std::function<void(int32_t)>& visit);
// The most chains a run may ask for.
constexpr int32_t Chain_maxChains = 64;

// Makes chains 2 .. count after a successful compile, chain 1's record
// bound. Chain k (k >= 2) starts from the list-format file starts[k - 2]
// when there is one and it is not empty, its other stochastic nodes drawn
// from their priors; its random stream starts from
// RandNum_StreamSeed(seed, k), and a seed or iteration in its file then
// takes over as in chain 1's initial-value file. False, after the report,
// when the starting values could not be read or drawn. Chain 1's record is
// bound again on return, its values and stream untouched.
bool Chain_Start(int32_t count, const std::vector<std::string>& starts, int32_t seed);

// Puts "In chain k:" on a line of its own, ahead of the report of something
// that happened in chain k alone.
void Chain_SayWhich(int32_t k);

// The name under which chain k keeps its copy of a file the run writes for
// every chain: the name itself for chain 1; for chain k, "_k" put before the
// extension of the file's own name ("run.out" gives "run_2.out"), or at
// the end when it has none.
std::string Chain_FileName(const std::string& name, int32_t k);
