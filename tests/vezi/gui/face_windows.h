// The native window of a face held by a word, for the GUI tests that make
// faces in Zol and then drive their windows.
#pragma once
#include <windows.h>

#include <cstring>
#include <string>

#include "evaluator/interpreter.h"
#include "evaluator/reader.h"
#include "evaluator/stack.h"
#include "vezi/backend/gui.h"

// The window of the face `word` holds (any Zol code giving a face), or null.
inline HWND face_window(const std::string& word) {
    cell* top = stack::arguments.top;
    cell* v = nullptr;
    interpreter::catch_error([&] { v = interpreter::do_block(reader::load(word.data(), word.size())); });
    HWND h = v ? gui::face_handle(v) : nullptr;
    stack::arguments.top = top;
    return h;
}
