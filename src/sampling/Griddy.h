// Griddy: the fall-back update of a bounded node whose full conditional has
// no structure the other samplers can use. The log full conditional is
// evaluated on an equally spaced grid between the node's limits, a
// piecewise-linear density built from it proposes a candidate, and an
// independence Metropolis step accepts or rejects it.
#pragma once

#include <cstdint>

#include "sampling/Samplers.h"

// Grid intervals: the bin count given at start-up held within 8 .. 1000.
extern int32_t Griddy_numBins;

// bins is the command line's count, which the caller reads.
void InitGriddy(int32_t bins);
// One update of the sampler's node: numBins + 3 evaluations of its full
// conditional, no allocation. The node then holds either the accepted
// candidate or its old value. When its limits are not finite or do not
// leave an interval, or no grid point has a finite full conditional, the
// update fails through Samplers_Fail and the value stays as it was.
void Griddy_Updater(Samplers_Sampler& s);
