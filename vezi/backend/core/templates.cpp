#include "vezi/backend/core/templates.h"

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "vezi/backend/core/words.h"

namespace gui {

namespace {

Spelling face_words[] = {
    {"type", 0}, {"offset", 0}, {"size", 0}, {"text", 0}, {"image", 0}, {"color", 0}, {"menu", 0},
    {"data", 0}, {"enabled?", 0}, {"visible?", 0}, {"selected", 0}, {"flags", 0}, {"options", 0},
    {"parent", 0}, {"pane", 0}, {"state", 0}, {"rate", 0}, {"edge", 0}, {"para", 0}, {"font", 0},
    {"actors", 0}, {"extra", 0}, {"draw", 0}, {"on-change*", 0}, {"on-deep-change*", 0},
};
Spelling font_words[] = {
    {"name", 0}, {"size", 0}, {"style", 0}, {"weight", 0}, {"angle", 0}, {"color", 0},
    {"anti-alias?", 0}, {"shadow", 0}, {"state", 0}, {"parent", 0}, {"on-change*", 0}, {"on-deep-change*", 0},
};
Spelling para_words[] = {
    {"origin", 0}, {"padding", 0}, {"scroll", 0}, {"align", 0}, {"v-align", 0}, {"wrap?", 0},
    {"parent", 0}, {"on-change*", 0},
};
Spelling scroller_words[] = {
    {"position", 0}, {"page-size", 0}, {"min-size", 0}, {"max-size", 0}, {"visible?", 0},
    {"vertical?", 0}, {"parent", 0}, {"on-change*", 0},
};
GUI_SPELLINGS(face_words);
GUI_SPELLINGS(font_words);
GUI_SPELLINGS(para_words);
GUI_SPELLINGS(scroller_words);

static_assert(sizeof face_words / sizeof face_words[0] == FACET_COUNT, "face! table");
static_assert(sizeof font_words / sizeof font_words[0] == FONT_COUNT, "font! table");
static_assert(sizeof para_words / sizeof para_words[0] == PARA_COUNT, "para! table");
static_assert(sizeof scroller_words / sizeof scroller_words[0] == SCROLLER_COUNT, "scroller! table");

struct Table {
    const char* name;
    const Spelling* words;
    int32_t count;
};
const Table tables[] = {
    {"face!", face_words, FACET_COUNT},
    {"font!", font_words, FONT_COUNT},
    {"para!", para_words, PARA_COUNT},
    {"scroller!", scroller_words, SCROLLER_COUNT},
};

}  // namespace

const char* template_name(Template t) { return tables[(int)t].name; }
int32_t template_fields(Template t) { return tables[(int)t].count; }
const char* template_word(Template t, int32_t index) { return tables[(int)t].words[index].text; }

int32_t check_template(const cell* obj, Template t) {
    const Table& table = tables[(int)t];
    int32_t n = obj->type() == TYPE_OBJECT ? object::word_count(obj) : 0;
    for (int32_t i = 0; i < table.count; i++) {
        if (i >= n) return i;
        cell* w = context::word_at(object::context_of(obj), i);
        if (word_symbol(w) != table.words[i].sym) return i;
    }
    return n > table.count ? table.count : -1;
}

}  // namespace gui
