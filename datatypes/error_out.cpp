#include "datatypes/error_out.h"

#include "runtime/sys.h"

namespace error {

Script last_script = Script::none;
Internal last_internal = Internal::none;
Math last_math = Math::none;

void raise_math(Math id) {
    last_math = id;
    sys::throw_code(sys::THROW_ERROR);
    __builtin_unreachable();
}

void raise_internal(Internal id) {
    last_internal = id;
    sys::throw_code(sys::THROW_ERROR);
    __builtin_unreachable();
}

void raise_script(Script id, const cell* arg1, const cell* arg2, const cell* arg3) {
    last_script = id;
    sys::throw_code(sys::THROW_ERROR);
    __builtin_unreachable();
}

}  // namespace error
