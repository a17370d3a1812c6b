// make-boot-image: the build tool that writes the boot image.
//
//   make-boot-image OUT NATIVES ERRORS [CODE...]
//
// Boots the runtime from the library's text (the callable specs NATIVES and
// the error catalog ERRORS) instead of an image, then writes OUT: compact
// Zolbin, compressed with the boot-data codec. Its definitions bind the
// datatype names, the logic words, the actions, natives and operators; its
// roots are the boot literals: the catalog, the routines' names and specs,
// then each CODE file's top-level code as a block.
//
// It is built from the same sources as the program in every preset (under
// Wine in the Windows build), and what it writes depends only on the text it
// reads, so every preset writes the same bytes.
#include <cstdio>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/reader.h"
#include "evaluator/stack.h"
#include "evaluator/zolbin.h"
#include "library/routines.h"
#include "platform/platform.h"
#include "runtime/boot_image.h"
#include "runtime/collector.h"
#include "runtime/init.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

namespace {

int status = 0;
int argc_;
char** argv_;
std::string natives_text, errors_text;
boot_image::Sources sources;

bool read_file(const char* path, std::string& out) {
    FILE* f = fopen(path, "rb");
    if (!f) return false;
    char buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
    fclose(f);
    return true;
}

// The error's report, as the console would print it.
std::string formed(cell* e) {
    cell* out = string::push_new(64);
    cell v = *e;
    actions::form_typed(&v, out, nullptr, datatype::NO_LIMIT);
    int32_t n = -1;
    const uint8_t* p = unicode::to_utf8(out, &n);
    std::string s((const char*)p, (size_t)n);
    stack::pop(1);
    return s;
}

cell* cells_of(const cell* blk) { return block::cells_of(series::node_of(blk)); }
int32_t count_of(const cell* blk) { return block::total_cells(series::node_of(blk)); }

// Appends the word and its global value to the definitions.
void define(memory::Node* defs, const cell* name) {
    cell w = *name;
    w.header = TYPE_WORD;
    cell* held = stack::push(&w);
    cell value = *word::get_value(held);
    block::append_cell_copy(defs, held);
    block::append_cell_copy(defs, &value);
    stack::pop(1);
}

// Every `step`-th word of a section, from the first.
void define_section(memory::Node* defs, cell* all, const char* name, int32_t step) {
    cell* list = natives::spec_section(all, name);
    for (int32_t i = 0; i < count_of(list); i += step) define(defs, cells_of(list) + i);
    stack::pop(1);
}

void build() {
    cell* defs = block::push_new(512);
    memory::Node* dn = series::node_of(defs);
    for (uint32_t t = 1; t <= datatype::top_type_id; t++)
        if (datatype::type_names[t].word) define(dn, datatype::type_names[t].word);
    for (const char* c : {"true", "false", "yes", "no", "on", "off", "none"}) {
        cell* w = word::push_new(symbol::make(c));
        define(dn, w);
        stack::pop(1);
    }
    cell* all = reader::load(natives_text.data(), natives_text.size());
    define_section(dn, all, "actions", 3);
    define_section(dn, all, "natives", 3);
    define_section(dn, all, "ops", 2);

    cell* roots = block::push_new(8);
    memory::Node* rn = series::node_of(roots);
    cell catalog = *context::owner(error::catalog_node);
    block::append_cell_copy(rn, &catalog);
    // Every routine named must have code: a spec without it fails the build.
    cell* list = natives::spec_section(all, "routines");
    for (int32_t i = 0; i < count_of(list); i += 2) {
        const char* name = symbol::to_cstr(word::symbol_of(cells_of(list) + i));
        if (!routines::find(name)) {
            fprintf(stderr, "make-boot-image: no code for the routine %s\n", name);
            status = 1;
            return;
        }
    }
    block::append_cell_copy(rn, list);
    for (int i = 4; i < argc_; i++) {
        std::string text;
        if (!read_file(argv_[i], text)) {
            fprintf(stderr, "make-boot-image: cannot read %s\n", argv_[i]);
            status = 1;
            return;
        }
        // A syntax error fails the build, naming the file (the error names the line).
        cell* code = nullptr;
        cell* e = interpreter::catch_error([&] { code = reader::load(text.data(), text.size()); });
        if (e) {
            fprintf(stderr, "make-boot-image: %s: %s\n", argv_[i], formed(e).c_str());
            status = 1;
            return;
        }
        block::append_cell_copy(rn, code);
        stack::pop(1);
    }

    cell* image = zolbin::encode_boot(defs, roots);
    memory::Buffer* b = series::buffer_of(image);
    FILE* f = fopen(argv_[1], "wb");
    if (!f || fwrite(b->head, 1, b->used_bytes(), f) != b->used_bytes() || fclose(f) != 0) {
        fprintf(stderr, "make-boot-image: cannot write %s\n", argv_[1]);
        status = 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    argc_ = argc;
    argv_ = argv;
    if (argc < 4 || !read_file(argv[2], natives_text) || !read_file(argv[3], errors_text)) {
        fprintf(stderr, "usage: make-boot-image OUT NATIVES ERRORS [CODE...]\n");
        return 2;
    }
    sources = {natives_text.c_str(), natives_text.size(), errors_text.c_str(), errors_text.size()};
    boot_image::sources = &sources;
    runtime::setup(argc, argv);
    runtime::top_level([] {
        runtime::init();
        collector::enabled = 1;
        runtime::boot_flag = 0;
        cell* e = interpreter::catch_error([] { build(); });
        if (e) {
            fprintf(stderr, "make-boot-image: an error was raised while writing the image\n");
            status = 1;
        }
    });
    fflush(stdout);
    fflush(stderr);
    sys::free_all();
    platform::exit_process(status);
}
