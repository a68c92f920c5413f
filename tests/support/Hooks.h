// Entry points that only the tests use: inspection of a module's private
// state and a seam to stop the process at a chosen step. They are defined in
// the modules' own files and declared here, not in the modules' headers, so
// that no other module can come to rely on them.
#pragma once

#include <cstdint>

struct Graph_Node;

// Records a stop request as the interrupt key would.
void CtrlC_Request();

// Called before every step that changes the file system in a committed set of
// files and in staged files; null in a normal run. Tests set it to stop the
// process at a chosen step.
extern void (*Files_beforeStep)();

// The number of plans made and of linear forms they maintain.
int32_t Plans_Count();
int32_t Plans_MaintainedForms();

