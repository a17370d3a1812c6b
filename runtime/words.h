// Built-in word tables: the fixed vocabulary the runtime compares against,
// interned once at start-up and kept in globals of its own, so that nothing
// is looked up by spelling at run time.
//
// Three tables, built in this order by `words::build` (start-up step 16,
// after the symbol table and the global context):
//   sym_<name>     symbol ids; compare them through symbol::resolve
//   global_<name>  word cells of the global context (added when missing)
//   word_<name>    word! values interned by word::load
// then `refinements::build` (refinement_<name>, unbound refinement! cells)
// and `issues::build` (issue_ooo). The cells live in root slots and never
// change after start-up. Names follow the spellings: `-` becomes `_`, a
// trailing `?` a leading `is_`, a trailing `!` a `_type` suffix, tag-like
// names lose their angle brackets, `|` is `bar` and `-` alone `dash`. Two
// spellings appear twice in their lists: the second `code` (a money! field)
// is `money_code`, the second `throw` (an error category) `throw_category`.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"

#define ZOL_SYMBOL_WORDS(X) \
    X(spec, "spec") X(body, "body") X(words, "words") X(class, "class") X(logic_type, "logic!") \
    X(integer_type, "integer!") X(char_type, "char!") X(float_type, "float!") \
    X(percent_type, "percent!") X(any_type_type, "any-type!") X(exit, "exit") \
    X(return, "return") X(Windows, "Windows") X(Syllable, "Syllable") X(macOS, "macOS") \
    X(Linux, "Linux") X(NetBSD, "NetBSD") X(repeat, "repeat") X(foreach, "foreach") \
    X(map_each, "map-each") X(remove_each, "remove-each") X(any, "any") X(break, "break") \
    X(copy, "copy") X(end, "end") X(fail, "fail") X(into, "into") X(opt, "opt") X(not, "not") \
    X(quote, "quote") X(case, "case") X(reject, "reject") X(set, "set") X(skip, "skip") \
    X(some, "some") X(thru, "thru") X(to, "to") X(none, "none") X(bar, "|") X(dash, "-") \
    X(if, "if") X(remove, "remove") X(while, "while") X(insert, "insert") X(only, "only") \
    X(collect, "collect") X(keep, "keep") X(pick, "pick") X(ahead, "ahead") X(after, "after") \
    X(x, "x") X(y, "y") X(z, "z") X(self, "self") X(values, "values") X(owner, "owner") \
    X(owned, "owned") X(is_events, "events?") X(true, "true") X(false, "false") X(yes, "yes") \
    X(no, "no") X(on, "on") X(off, "off") X(type, "type") X(face, "face") X(window, "window") \
    X(offset, "offset") X(key, "key") X(flag, "flag") X(code, "code") X(picked, "picked") \
    X(flags, "flags") X(is_away, "away?") X(is_ctrl, "ctrl?") X(is_shift, "shift?") \
    X(is_down, "down?") X(is_mid_down, "mid-down?") X(is_alt_down, "alt-down?") \
    X(is_aux_down, "aux-down?") X(orientation, "orientation") X(get, "get") X(put, "put") \
    X(post, "post") X(head, "head") X(size, "size") X(rgb, "rgb") X(alpha, "alpha") \
    X(argb, "argb") X(date, "date") X(year, "year") X(month, "month") X(day, "day") \
    X(zone, "zone") X(isoweek, "isoweek") X(week, "week") X(weekday, "weekday") \
    X(yearday, "yearday") X(julian, "julian") X(time, "time") X(hour, "hour") \
    X(minute, "minute") X(second, "second") X(timezone, "timezone") X(money_code, "code") \
    X(amount, "amount") X(user, "user") X(host, "host") X(system, "system") \
    X(system_global, "system-global") X(stack, "stack") X(trace, "trace") \
    X(no_trace, "no-trace")

#define ZOL_GLOBAL_WORDS(X) \
    X(Windows, "Windows") X(Syllable, "Syllable") X(macOS, "macOS") X(Linux, "Linux") \
    X(NetBSD, "NetBSD") X(to, "to") X(thru, "thru") X(not, "not") X(remove, "remove") \
    X(while, "while") X(collect, "collect") X(keep, "keep") X(ahead, "ahead") X(bar, "|") \
    X(any, "any") X(some, "some") X(copy, "copy") X(opt, "opt") X(into, "into") \
    X(insert, "insert") X(if, "if") X(quote, "quote") X(set, "set") X(case, "case") \
    X(end, "end")

#define ZOL_LOADED_WORDS(X) \
    X(at, "at") X(back, "back") X(find, "find") X(head, "head") X(is_head, "head?") \
    X(is_index, "index?") X(is_length, "length?") X(next, "next") X(pick, "pick") \
    X(skip, "skip") X(select, "select") X(tail, "tail") X(is_tail, "tail?") X(change, "change") \
    X(changed, "changed") X(clear, "clear") X(cleared, "cleared") X(set_path, "set-path") \
    X(append, "append") X(appended, "appended") X(move, "move") X(moved, "moved") \
    X(poke, "poke") X(poked, "poked") X(put, "put") X(put_ed, "put-ed") X(removed, "removed") \
    X(random, "random") X(randomized, "randomized") X(reverse, "reverse") \
    X(reversed, "reversed") X(sort, "sort") X(sorted, "sorted") X(swap, "swap") \
    X(swaped, "swaped") X(take, "take") X(taken, "taken") X(trim, "trim") X(trimmed, "trimmed") \
    X(inserted, "inserted") X(uppercase, "uppercase") X(lowercase, "lowercase") \
    X(checksum, "checksum") X(push, "push") X(pop, "pop") X(fetch, "fetch") X(match, "match") \
    X(iterate, "iterate") X(paren, "paren") X(anon, "<anon>") X(body, "<body>") \
    X(not_found, "<not-found>") X(add, "add") X(subtract, "subtract") X(divide, "divide") \
    X(on_parse_event, "on-parse-event") X(on_change, "on-change*") \
    X(on_deep_change, "on-deep-change*") X(type, "type") X(id, "id") X(try, "try") \
    X(catch, "catch") X(name, "name") X(multiply, "multiply") X(browse, "browse") \
    X(open, "open") X(create, "create") X(close, "close") X(delete, "delete") \
    X(modify, "modify") X(query, "query") X(read, "read") X(rename, "rename") \
    X(update, "update") X(write, "write") X(prescan, "prescan") X(scan, "scan") X(load, "load") \
    X(error, "error") X(comment, "comment") X(init, "init") X(exec, "exec") X(call, "call") \
    X(return, "return") X(enter, "enter") X(exit, "exit") X(prolog, "prolog") \
    X(epilog, "epilog") X(throw, "throw") X(expr, "expr") \
    X(interp_callback, "<interp-callback>") X(lexer_callback, "<lexer-callback>") \
    X(parse_callback, "<parse-callback>") X(compare_callback, "<compare-callback>") \
    X(throw_category, "throw") X(note, "note") X(syntax, "syntax") X(script, "script") \
    X(math, "math") X(access, "access") X(user, "user") X(internal, "internal") \
    X(invalid_error, "invalid-error") X(local, "local") X(applied, "<applied>")
#define ZOL_REFINEMENTS(X) X(local, "local") X(extern, "extern") X(compare, "compare") \
    X(part, "part") X(skip, "skip") X(with, "with")

namespace words {

#define X(id, text) extern int32_t sym_##id;
ZOL_SYMBOL_WORDS(X)
#undef X
#define X(id, text) extern cell* global_##id;
ZOL_GLOBAL_WORDS(X)
#undef X
#define X(id, text) extern cell* word_##id;
ZOL_LOADED_WORDS(X)
#undef X
#define X(id, text) extern cell* refinement_##id;
ZOL_REFINEMENTS(X)
#undef X
extern cell* issue_ooo;

// The three word tables (start-up step 16, first).
void build();

}  // namespace words

namespace refinements {
// The six refinements (after words::build).
void build();
}  // namespace refinements

namespace issues {
// The issue #ooo (after refinements::build).
void build();
}  // namespace issues
