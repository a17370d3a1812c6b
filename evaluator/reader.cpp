#include "evaluator/reader.h"

#include <cstring>

#include "evaluator/lexer.h"
#include "evaluator/stack.h"

namespace reader {

cell* load(const char* text, size_t length) {
    cell* result = stack::push_cell();
    lexer::Options options;
    lexer::scan(reinterpret_cast<const uint8_t*>(text), (uint32_t)length, options, result);
    return result;
}

cell* load(const char* text) { return load(text, strlen(text)); }

}  // namespace reader
