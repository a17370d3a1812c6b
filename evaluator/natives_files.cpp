// File natives: to-local-file.
#include "datatypes/file.h"
#include "datatypes/string.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"

namespace natives {

// to-local-file path /full: the operating-system form of a file name, the
// current directory first for a relative one under /full.
void to_local_file(const int32_t* refs) {
    cell* path = stack::arg(0);
    cell* out = string::push_new(string::length_of(path) + 4);
    file::to_local(path, out, refs[0] >= 0);
    stack::set_last(out);
}

}  // namespace natives
