// Letter-case natives: uppercase and lowercase, on a string in place (from
// its head, the whole of it or the /part limit) or on a char!.
#include "datatypes/char.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/case.h"

namespace natives {

namespace {
void change_case(const int32_t* refs, bool upper) {
    cell* v = stack::arg(0);
    if (v->type() == TYPE_CHAR) {
        char_::make_at(v, case_::fold((int32_t)v->data2, upper));
        return;
    }
    cell* part = refs[0] >= 0 ? stack::arg(refs[0]) : series::ABSENT;
    string::change_case(v, part, upper);  // the string itself is the result
}
}  // namespace

void uppercase(const int32_t* refs) { change_case(refs, true); }
void lowercase(const int32_t* refs) { change_case(refs, false); }

}  // namespace natives
