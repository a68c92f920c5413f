// Entry points that only the tests use: inspection of a module's private
// state and a seam to stop the process at a chosen step. They are defined in
// the modules' own files and declared here, not in the modules' headers, so
// that no other module can come to rely on them.
#pragma once

#include <cstdint>

struct Graph_Node;

// Records a stop request as the interrupt key would.
void CtrlC_Request();

// The code of the update method a node would get.
int32_t ClassDen_MethodCode(Graph_Node* node);

// Called before every step that changes the file system in a committed set of
// files and in staged files; null in a normal run. Tests set it to stop the
// process at a chosen step.
extern void (*Files_beforeStep)();

// The number of plans made and of linear forms they maintain.
int32_t Plans_Count();
int32_t Plans_MaintainedForms();

// The adaptive rejection sampler's point store and envelope: reset the points
// with the ends given, store a point (returning the number stored), read
// point k (counted from 0), read the ends, and the quantile p of the envelope
// of the stored points (NaN when there is none).
void DFreeARS_TestReset(bool lower, double lowerEnd, bool upper, double upperEnd);
int32_t DFreeARS_TestStore(double x, double y);
bool DFreeARS_TestPoint(int32_t k, double& x, double& y);
void DFreeARS_TestEnds(bool& lower, double& lowerEnd, bool& upper, double& upperEnd);
double DFreeARS_TestQuantile(double p);
