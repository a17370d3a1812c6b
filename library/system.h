// The system object from C++: the runtime's few reads and writes of the
// fields that library/system.zol defines (script arguments, locale data).
// Fields are named by their path from `system`, as "options/args".
#pragma once
#include <string>
#include <vector>

#include "datatypes/cell.h"

namespace system_object {

// The field's value cell, or null when the path does not lead to one (no
// system object yet, a missing field, a step that is no object). Valid
// until the next allocation.
cell* field(const char* path);

// Sets the field (an object field on the path) to a copy of the value,
// without firing its object's change handlers. False when there is no
// such field.
bool put(const char* path, const cell* value);

// The script a runner was started on and the arguments that follow it:
// options/script (file!), options/args (a block of strings) and
// script/args (their raw text, each argument that holds a blank or is
// empty in double quotes; none without arguments).
void set_script(const std::string& file, const std::vector<std::string>& args);

}  // namespace system_object
