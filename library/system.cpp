#include "library/system.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/file.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "platform/paths.h"

namespace system_object {

namespace {

// The object holding the path's last step, and that step's spelling.
cell* owner_of(const char* path, std::string& last) {
    std::string p = path;
    int32_t sym = symbol::make("system");
    int32_t index = context::find_word(context::global, sym, true);
    if (index < 0) return nullptr;
    cell* obj = context::value_cell_at(context::global, index);
    size_t start = 0;
    for (;;) {
        if (obj->type() != TYPE_OBJECT) return nullptr;
        size_t slash = p.find('/', start);
        if (slash == std::string::npos) {
            last = p.substr(start);
            return obj;
        }
        cell w;
        word::make_cell(&w, TYPE_WORD, nullptr, symbol::make(p.substr(start, slash - start).c_str()), -1);
        int32_t i = object::word_index(obj, &w);
        if (i < 0) return nullptr;
        obj = context::value_cell_at(object::context_of(obj), i);
        start = slash + 1;
    }
}

cell* push_string(const std::string& text) { return string::load(text.data(), (int32_t)text.size(), nullptr, 0); }

}  // namespace

cell* field(const char* path) {
    std::string last;
    cell* obj = owner_of(path, last);
    if (!obj) return nullptr;
    cell w;
    word::make_cell(&w, TYPE_WORD, nullptr, symbol::make(last.c_str()), -1);
    int32_t i = object::word_index(obj, &w);
    return i < 0 ? nullptr : context::value_cell_at(object::context_of(obj), i);
}

bool put(const char* path, const cell* value) {
    stack::TopMark mark;
    cell* held = stack::push(value);
    std::string last;
    cell* obj = owner_of(path, last);
    if (!obj || !field(path)) return false;
    cell o = *obj;
    object::put_field(&o, last.c_str(), held);
    return true;
}

void set_script(const std::string& file, const std::vector<std::string>& args) {
    stack::TopMark mark;
    std::string path = platform::paths::file_from_local(file);
    cell* f = stack::push_cell();
    file::load_into(f, path.data(), (int32_t)path.size());
    put("options/script", f);

    cell* list = block::push_new((int32_t)args.size() + 1);
    std::string raw;
    for (const std::string& a : args) {
        cell* s = push_string(a);
        block::append_cell_copy(series::node_of(list), s);
        stack::pop(1);
        if (!raw.empty()) raw += ' ';
        bool quote = a.empty() || a.find_first_of(" \t") != std::string::npos;
        raw += quote ? "\"" + a + "\"" : a;
    }
    put("options/args", list);
    if (args.empty()) put("script/args", &none::none_cell);
    else put("script/args", push_string(raw));
}

}  // namespace system_object
