#include "vezi/backend/vezi_objects.h"

#include <cwchar>

#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/pair.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"

namespace gui {

VeziValues vezi_values;

// The cell is copied out: the caller may allocate.
bool vezi_object(const char* sub, cell* out) {
    cell* sys = word::get_value(word::load("system"));
    if (!sys || sys->type() != TYPE_OBJECT) return false;
    cell obj = *sys;
    cell* v = object::select_word(&obj, word::load("vezi"));
    if (v->type() != TYPE_OBJECT) return false;
    obj = *v;
    if (sub) {
        v = object::select_word(&obj, word::load(sub));
        if (v->type() != TYPE_OBJECT) return false;
        obj = *v;
    }
    *out = obj;
    return true;
}

cell* vezi_field(const char* name) {
    cell obj;
    if (!vezi_object(nullptr, &obj)) return nullptr;
    return object::select_word(&obj, word::load(name));
}

namespace {

// Sets an existing field; an object without the field is left alone.
void set_field(const char* sub, const char* field, const cell* value) {
    cell obj, val = *value;
    if (!vezi_object(sub, &obj)) return;
    cell* w = word::load(field);
    if (object::word_index(&obj, w) < 0) return;
    *object::select_word(&obj, w) = val;
}

void set_integer(const char* sub, const char* field, int32_t n) {
    cell c;
    integer::make_at(&c, n);
    set_field(sub, field, &c);
}

}  // namespace

bool vezi_flag(const char* field, bool fallback) {
    cell obj;
    if (!vezi_object(nullptr, &obj)) return fallback;
    cell* w = word::load(field);
    if (object::word_index(&obj, w) < 0) return fallback;
    const cell* v = object::select_word(&obj, w);
    return v->type() == TYPE_LOGIC ? v->data1 != 0 : fallback;
}

void set_version_values(uint32_t major, uint32_t minor, uint32_t build, uint32_t product, bool build_too) {
    VeziValues& v = vezi_values;
    v.version[0] = (uint8_t)major;
    v.version[1] = (uint8_t)minor;
    v.version[2] = 0;
    cell t;
    tuple::make_at(&t, 3, v.version);
    set_field("platform", "version", &t);
    if (!build_too) return;
    v.build = (int32_t)build;
    v.product = (int32_t)product;
    set_integer("platform", "build", v.build);
    set_integer("platform", "product", v.product);
}

void set_fonts_values(const wchar_t* name, int32_t size) {
    vezi_values.font_size = size;
    set_integer("fonts", "size", size);
    stack::TopMark mark;
    cell* s = stack::push_cell();
    string::load(name, (int32_t)wcslen(name), s, -1);
    set_field("fonts", "system", s);
}

void set_metrics_values(int32_t dpi, int32_t scroll_x, int32_t scroll_y, uint32_t text, uint32_t window,
                        uint32_t panel) {
    VeziValues& v = vezi_values;
    v.dpi = dpi;
    v.scroller_x = scroll_x;
    v.scroller_y = scroll_y;
    v.text_color = text;
    v.window_color = window;
    v.panel_color = panel;
    set_integer("metrics", "dpi", dpi);
    cell metrics;
    if (!vezi_object("metrics", &metrics)) return;
    stack::TopMark mark;
    cell* m = stack::push_cell();  // the map, the key and the value, on the stack
    cell* key = stack::push_cell();
    cell* value = stack::push_cell();
    auto put = [&](const char* map_name, const char* key_word, const cell* v) {
        *m = *object::select_word(&metrics, word::load(map_name));
        if (m->type() != TYPE_MAP) return;
        *key = *word::load(key_word);
        *value = *v;
        map::put(m, key, value, false);
    };
    cell c;
    pair::make_at(&c, scroll_x, scroll_y);
    put("misc", "scroller", &c);
    const struct {
        const char* name;
        uint32_t color;
    } colors[] = {{"text", text}, {"window", window}, {"panel", panel}};
    for (const auto& k : colors) {
        uint8_t bytes[3] = {(uint8_t)k.color, (uint8_t)(k.color >> 8), (uint8_t)(k.color >> 16)};
        tuple::make_at(&c, 3, bytes);
        put("colors", k.name, &c);
    }
}

}  // namespace gui
