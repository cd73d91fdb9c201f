/* Every avutil function the loader binds, but not the exported version string. */
#include "media/EntryPointLists.h"

#define STUB_FUNCTION(name) void name(void) {}
TOVI_AVUTIL_FUNCTIONS(STUB_FUNCTION)
