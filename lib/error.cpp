// The exceptions' destructors, out of line: their vtables and type
// information then live in the library alone, so a program catches what the
// library throws whatever it was linked with.
#include "lumbra/error.h"

namespace lumbra {

Error::~Error() = default;
ArgumentError::~ArgumentError() = default;
InputError::~InputError() = default;
ResourceError::~ResourceError() = default;
Cancelled::~Cancelled() = default;

}  // namespace lumbra
