// Built-in word tables.
#include "runtime/words.h"

#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"

namespace words {

#define X(id, text) int32_t sym_##id = 0;
ZOL_SYMBOL_WORDS(X)
#undef X
#define X(id, text) cell* global_##id = nullptr;
ZOL_GLOBAL_WORDS(X)
#undef X
#define X(id, text) cell* word_##id = nullptr;
ZOL_LOADED_WORDS(X)
#undef X
#define X(id, text) cell* refinement_##id = nullptr;
ZOL_REFINEMENTS(X)
#undef X
cell* issue_ooo = nullptr;

// The lists are data: a transcription slip shows up here, not at run time.
#define X(id, text) +1
static_assert(0 ZOL_SYMBOL_WORDS(X) == 113, "113 symbol ids");
static_assert(0 ZOL_GLOBAL_WORDS(X) == 25, "25 global words");
static_assert(0 ZOL_LOADED_WORDS(X) == 105, "105 loaded words");
static_assert(0 ZOL_REFINEMENTS(X) == 6, "6 refinements");
#undef X

void build() {
#define X(id, text) sym_##id = symbol::make(text);
    ZOL_SYMBOL_WORDS(X)
#undef X
#define X(id, text) global_##id = context::get_global(symbol::make(text));
    ZOL_GLOBAL_WORDS(X)
#undef X
#define X(id, text) word_##id = word::load(text);
    ZOL_LOADED_WORDS(X)
#undef X
}

}  // namespace words

namespace refinements {

void build() {
#define X(id, text) words::refinement_##id = refinement::load(text);
    ZOL_REFINEMENTS(X)
#undef X
}

}  // namespace refinements

namespace issues {

void build() { words::issue_ooo = issue::load("ooo"); }

}  // namespace issues
