#include "lumbra/version.h"

#include "version.h"

namespace lumbra {

const char* version() { return LUMBRA_VERSION; }

}  // namespace lumbra
