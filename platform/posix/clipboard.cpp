// The native build has no system clipboard.
#include "datatypes/error.h"
#include "platform/clipboard.h"

namespace clipboard {

bool read(cell*) { error::raise(error::INTERNAL, "feature-na"); }
bool write(cell*) { error::raise(error::INTERNAL, "feature-na"); }

}  // namespace clipboard
