// Natives not built yet: each raises internal not-done until its group's
// file defines it. To build one, delete its line here (keep the blank lines
// between stubs: they let several helpers delete lines without conflicts)
// and define it in natives_<group>.cpp.
#include "datatypes/error_out.h"
#include "evaluator/natives.h"

#define ZOL_PENDING(name) \
    void name(const int32_t*) { error::raise_internal(error::Internal::not_done); }

namespace natives {

ZOL_PENDING(if_)

ZOL_PENDING(unless)

ZOL_PENDING(either)

ZOL_PENDING(any)

ZOL_PENDING(all)

ZOL_PENDING(while_)

ZOL_PENDING(until)

ZOL_PENDING(loop)

ZOL_PENDING(repeat)

ZOL_PENDING(forever)

ZOL_PENDING(foreach)

ZOL_PENDING(forall)

ZOL_PENDING(remove_each)

ZOL_PENDING(switch_)

ZOL_PENDING(case_)

ZOL_PENDING(get)

ZOL_PENDING(set)

ZOL_PENDING(type_of)

ZOL_PENDING(reduce)

ZOL_PENDING(compose)

ZOL_PENDING(bind)

ZOL_PENDING(in)

ZOL_PENDING(parse)

ZOL_PENDING(construct)

ZOL_PENDING(is_value)

ZOL_PENDING(as_money)

ZOL_PENDING(extend)

ZOL_PENDING(debase)

ZOL_PENDING(checksum)

ZOL_PENDING(unset_)

ZOL_PENDING(new_line)

ZOL_PENDING(is_new_line)

ZOL_PENDING(enbase)

ZOL_PENDING(context_of)

ZOL_PENDING(now)

ZOL_PENDING(as)

ZOL_PENDING(call)

ZOL_PENDING(compress)

ZOL_PENDING(decompress)

ZOL_PENDING(apply)

}  // namespace natives
