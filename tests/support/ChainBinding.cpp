// Every test runs with a chain record bound to the main thread, as the
// program's start-up binds one before any module is used.
#include "commands/Chain.h"

namespace {

const bool bound = (InitChain(), true);

}  // namespace
