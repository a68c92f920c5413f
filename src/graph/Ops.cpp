#include "graph/Ops.h"

int32_t Ops_FromToken(int32_t kind) {
  if (kind == 0) return 0;
  for (int32_t op = 1; op < Ops_numCodes; ++op)
    if (Ops_rows[static_cast<size_t>(op)].token == kind) return op;
  return 0;
}
