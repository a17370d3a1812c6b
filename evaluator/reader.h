// A small reader of Zol text for the runtime's own embedded sources (the
// specs of the built-in callables) and for C++ tests, until the lexer
// exists. It reads words of the six kinds, paths of the four kinds,
// integers, floats, strings ("..." with ^ escapes, {...}), chars (#"a"),
// blocks and parens; words are bound to the global context. Anything else
// is a syntax error. The lexer's `transcode` replaces it.
#pragma once
#include <cstddef>

#include "datatypes/cell.h"

namespace reader {

// Reads the text into a new block, pushed and returned.
cell* load(const char* text, size_t length);
cell* load(const char* text);

}  // namespace reader
