#include "vezi/backend/core/words.h"

#include <cassert>
#include <cstring>
#include <vector>

#include "datatypes/symbol.h"
#include "datatypes/word.h"

namespace gui {

namespace {
// Every Spelling table of the core registers itself here at static start, so
// one call interns them all.
std::vector<Spelling*>& registry() {
    static std::vector<Spelling*> r;
    return r;
}
}  // namespace

void register_spellings(Spelling* table, int32_t n) {
    for (int32_t i = 0; i < n; i++) registry().push_back(&table[i]);
}

void intern_words() {
    for (Spelling* s : registry())
        if (s->sym == 0) s->sym = symbol::resolve(symbol::make(s->text));
}

int32_t word_symbol(const cell* v) {
    if (!word::is_any_word_type(v->type())) return 0;
    return symbol::resolve(word::symbol_of(v));
}

int32_t find_word(const cell* v, const Spelling* table, int32_t n) {
    int32_t s = word_symbol(v);
    if (s == 0) return -1;
    for (int32_t i = 0; i < n; i++) {
        assert(table[i].sym != 0 && "gui::intern_words not run");
        if (table[i].sym == s) return i;
    }
    return -1;
}

int32_t spelling_symbol(const char* text) {
    for (Spelling* s : registry())
        if (strcmp(s->text, text) == 0) return s->sym;
    return 0;
}

}  // namespace gui
