// Zol text of the runtime's own embedded sources (the specs of the built-in
// callables) and of C++ tests, loaded through the lexer into a block.
#pragma once
#include <cstddef>

#include "datatypes/cell.h"

namespace reader {

// Loads the UTF-8 text (outside the series heap) into a new block, pushed
// and returned. Syntax errors raise.
cell* load(const char* text, size_t length);
cell* load(const char* text);

}  // namespace reader
