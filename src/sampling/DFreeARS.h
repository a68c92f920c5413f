// DFreeARS: derivative-free adaptive rejection sampling of a node whose log
// full conditional is concave. The four entry points are the method table's
// names for the whole line (Full), a lower end (LTrunc), an upper end
// (RTrunc) and both (Trunc); each reads the node's actual support from its
// distribution and bounds, and a point where the log full conditional is
// not finite ends the support on its side. The
// envelope is built from secants through stored points of the log density;
// the quantiles of the last envelope are kept in the chain's state of the
// node's Sampler record and start the next draw.
#pragma once

#include <cstdint>

#include "sampling/Samplers.h"

void InitDFreeARS();
void DFreeARS_FullArs(Samplers_Sampler& s);
void DFreeARS_LTruncArs(Samplers_Sampler& s);
void DFreeARS_RTruncArs(Samplers_Sampler& s);
void DFreeARS_TruncArs(Samplers_Sampler& s);

