// Time, memory and environment natives: stats, recycle, wait, now, get-env,
// set-env, list-env, size?, browse and call. Each checks and
// converts its arguments and hands the work to the platform layer, the
// memory statistics or the collector.
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/error_out.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "platform/call.h"
#include "platform/platform.h"
#include "runtime/collector.h"
#include "runtime/memstats.h"
#include "runtime/unicode.h"

namespace natives {

namespace {

// The text of a string or a word's spelling, as UTF-8.
std::string text_of(cell* v) {
    cell* s = v;
    if (!series::is_any_string(v->type())) {
        s = string::push_new(16);
        actions::form_typed(v, s, series::ABSENT, datatype::NO_LIMIT);
    }
    int32_t n = -1;
    const uint8_t* p = unicode::to_utf8(s, &n);
    std::string text((const char*)p, (size_t)n);
    if (s != v) stack::pop(1);
    return text;
}

cell* new_string(cell* target, const std::string& text) {
    return unicode::load_utf8_new((const uint8_t*)text.data(), (uint32_t)text.size(), target);
}

// An integer!, or a float! when the count does not fit.
void result_count(double n) {
    if (n > 2147483647.0) float_::make_in(stack::arg(0), n);
    else integer::make_at(stack::arg(0), (int32_t)n);
}

void stats_into_result() { result_count(memstats::measure(nullptr, 1)); }

}  // namespace

// --- Memory -----------------------------------------------------------------------------------

void stats(const int32_t* refs) {
    if (refs[0] >= 0 || refs[1] >= 0) {
        // /info, and /show: the detail block, printed by the library.
        cell* blk = block::push_new(5);
        memstats::measure(blk, 2);
        cell::copy(blk, stack::arg(0));
        if (refs[0] >= 0) {
            cell* show = library_function("show-memory-stats");
            if (!show) error::raise(error::SCRIPT, "no-value", word::load("show-memory-stats"));
            {
                stack::TopMark mark;
                interpreter::call_function(show, stack::arg(0), 1);
            }
            unset::make_at(stack::arg(0));
        }
        return;
    }
    stats_into_result();
}

void recycle(const int32_t* refs) {
    if (refs[0] >= 0 || refs[1] >= 0) {
        collector::enabled = refs[0] >= 0 ? 1 : 0;
        unset::make_at(stack::arg(0));
        return;
    }
    collector::collect();
    stats_into_result();
}

// --- Time -------------------------------------------------------------------------------------

void wait(const int32_t*) {
    cell* v = stack::arg(0);
    double seconds;
    if (v->type() == TYPE_INTEGER) seconds = (double)(int32_t)v->data2;
    else if (v->type() == TYPE_FLOAT || v->type() == TYPE_TIME) seconds = cell::get_float(v);
    else error::raise_script(error::Script::invalid_arg, v);
    platform::wait(seconds);  // huge waits are clamped there, never wrapped
    none::make_at(stack::arg(0));
}

void now(const int32_t* refs) {
    enum { YEAR, MONTH, DAY, TIME, ZONE, DATE, WEEKDAY, YEARDAY, PRECISE, UTC };
    int32_t picked = 0;
    for (int32_t k = YEAR; k <= PRECISE; k++) picked += refs[k] >= 0;
    if (picked > 1 && !(picked == 2 && refs[TIME] >= 0 && refs[PRECISE] >= 0))
        error::raise_script(error::Script::bad_refines);
    bool utc = refs[UTC] >= 0;
    cell* result = stack::arg(0);
    if (refs[DATE] >= 0) {
        uint32_t w = platform::get_date(utc) & ~(date::ZONE_MASK | date::TIME_FLAG);
        date::make_in(result, w, 0.0);
        return;
    }
    uint32_t zone = utc ? 0 : date::zone_of(platform::get_date(false));
    // The UTC day and the seconds since its midnight, read again when
    // midnight passed between the two readings.
    bool precise = refs[PRECISE] >= 0;
    double t, before;
    uint32_t day;
    do {
        before = platform::get_time(precise);
        day = platform::get_date(true);
        t = platform::get_time(precise);
    } while (t < before);
    date::make_in(result, (day & ~date::ZONE_MASK) | zone | date::TIME_FLAG, t);
    date::normalize(result, t, false);  // onto the local day of the zone
    static const int32_t fields[] = {date::F_YEAR, date::F_MONTH, date::F_DAY, date::F_TIME,
                                     date::F_ZONE, 0, date::F_WEEKDAY, date::F_YEARDAY};
    for (int32_t k = YEAR; k <= YEARDAY; k++)
        if (refs[k] >= 0) date::get_field(result, fields[k], result);
}

// --- Environment --------------------------------------------------------------------------------

void get_env(const int32_t*) {
    std::string value;
    if (!platform::get_env(text_of(stack::arg(0)).c_str(), value)) {
        none::make_at(stack::arg(0));
        return;
    }
    new_string(stack::arg(0), value);
}

void set_env(const int32_t*) {
    std::string name = text_of(stack::arg(0));
    cell* value = stack::arg(1);
    bool removing = value->type() == TYPE_NONE;
    std::string text = removing ? std::string() : text_of(value);
    if (!platform::set_env(name.c_str(), removing ? nullptr : text.c_str()))
        error::raise_script(error::Script::invalid_arg, stack::arg(0));
    cell::copy(value, stack::arg(0));
}

void list_env(const int32_t*) {
    std::vector<std::pair<std::string, std::string>> all;
    platform::list_env(all);
    cell* m = map::push();
    for (auto& [name, value] : all) {
        cell* target = stack::push(m);  // put leaves the value in its map cell
        cell* k = new_string(stack::push_cell(), name);
        cell* v = new_string(stack::push_cell(), value);
        map::put(target, k, v, true);
        stack::pop(3);
    }
    cell::copy(m, stack::arg(0));
}

// --- Files and the shell -----------------------------------------------------------------------

void size_of(const int32_t*) {
    cell* path = stack::arg(0);
    std::string text = text_of(path);
    // A path that names a directory by its form has no size.
    bool directory = text.empty() || text.back() == '/' || text.back() == '\\' || text == "." || text == "..";
    cell* local = string::push_new(16);
    file::to_local(path, local, false);
    int64_t size = 0;
    if (directory || !platform::file_size(text_of(local).c_str(), size) || size < 0) {
        none::make_at(stack::arg(0));
        return;
    }
    // Above 2^31 - 1 the size is a float!, never its low 32 bits.
    result_count((double)size);
}

void browse(const int32_t*) {
    cell* target = stack::arg(0);
    std::string text;
    if (target->type() == TYPE_FILE) {
        cell* local = string::push_new(16);
        file::to_local(target, local, false);
        text = text_of(local);
    } else {
        text = text_of(target);
    }
    if (!platform::browse(text.c_str())) {
        cell* reason = new_string(stack::push_cell(), "the shell refused");
        error::raise(error::ACCESS, "cannot-open", stack::arg(0), reason);
    }
    unset::make_at(stack::arg(0));
}

// --- Processes --------------------------------------------------------------------------

void call(const int32_t* refs) {
    enum { WAIT, SHOW, CONSOLE, SHELL, IN_ARG, OUT_ARG, ERR_ARG };
    cell* command = stack::arg(0);
    int32_t result = 0;
    if (string::length_of(command) > 0) {
        auto value = [&](int k) { return refs[k] >= 0 ? stack::arg((uint32_t)refs[k]) : nullptr; };
        result = call::call_native(command, refs[WAIT] >= 0, refs[SHOW] >= 0, refs[CONSOLE] >= 0,
                                   refs[SHELL] >= 0, value(IN_ARG), value(OUT_ARG), value(ERR_ARG));
    }
    integer::make_at(stack::arg(0), result);
}

}  // namespace natives
