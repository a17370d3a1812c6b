// What the GUI tests share: the program's own pump run until the queue is
// empty, and the native window of a face held by a word (faces made in
// Zol, then driven through their windows).
#pragma once
#include <windows.h>

#include <cstring>
#include <string>

#include "evaluator/interpreter.h"
#include "evaluator/reader.h"
#include "evaluator/stack.h"
#include "vezi/backend/gui.h"

// Handles every message waiting, through the program's pump.
inline void drain() {
    while (gui::do_events(true)) {
    }
}

// The window of the face `word` holds (any Zol code giving a face), or null.
inline HWND face_window(const std::string& word) {
    cell* top = stack::arguments.top;
    cell* v = nullptr;
    interpreter::catch_error([&] { v = interpreter::do_block(reader::load(word.data(), word.size())); });
    HWND h = v ? gui::face_handle(v) : nullptr;
    stack::arguments.top = top;
    return h;
}
