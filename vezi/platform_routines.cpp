// The hidden hooks of the Vezi library (vezi/*.zol): backend start, and the
// check that the templates' fields sit where the backend reads them. The
// native build has no GUI: its backend start raises feature-na; the template
// check runs in both builds, so a moved field fails every boot.
#include <cstring>
#include <string>

#include "datatypes/error.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "library/routines.h"
#include "vezi/backend/core/templates.h"
#include "vezi/backend/core/words.h"
#ifdef _WIN32
#include "vezi/backend/gui.h"
#endif

namespace {

// ctx||vezi~init: the backend's start (system/vezi/platform/init runs it).
void vezi_init() {
#ifdef _WIN32
    gui::init();
    unset::make_at(&stack::arguments.window[0]);
#else
    error::raise(error::INTERNAL, "feature-na");
#endif
}

// ctx||vezi~check-templates: every template word at its position, else
// internal bad-path naming the field that the backend would misread.
void vezi_check_templates() {
    gui::intern_words();
    const gui::Template all[] = {gui::Template::face, gui::Template::font, gui::Template::para,
                                 gui::Template::scroller};
    for (gui::Template t : all) {
        const char* name = gui::template_name(t);
        cell* value = word::get_value(word::load(name));
        int32_t at = gui::check_template(value ? value : word::load(name), t);
        if (at < 0) continue;
        std::string where = std::string(name) + "/" +
                            (at < gui::template_fields(t) ? gui::template_word(t, at) : "(extra field)");
        cell* arg = string::load(where.data(), (int32_t)where.size(), nullptr, 0);
        error::raise(error::INTERNAL, "bad-path", arg);
    }
    unset::make_at(&stack::arguments.window[0]);
}

}  // namespace

namespace routines {
const Entry vezi_table[] = {
    {"ctx||vezi~init", vezi_init},
    {"ctx||vezi~check-templates", vezi_check_templates},
};
const int32_t vezi_count = (int32_t)(sizeof vezi_table / sizeof vezi_table[0]);
}  // namespace routines
