// Start-up: the order is binding, since each step uses what earlier ones made
// (the registry before any value, the memory manager before any series, the
// symbol table before any word, the boot image before any literal). Steps of
// modules that do not exist yet are marked where they belong.
#include "runtime/init.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/email.h"
#include "datatypes/error.h"
#include "datatypes/event.h"
#include "datatypes/port.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/hash.h"
#include "datatypes/integer.h"
#include "datatypes/time.h"
#include "datatypes/triple.h"
#include "datatypes/tuple.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/path.h"
#include "datatypes/ref.h"
#include "datatypes/percent.h"
#include "datatypes/image.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tag.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/url.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/parse.h"
#include "evaluator/lexer.h"
#include "evaluator/stack.h"
#include "evaluator/zolbin.h"
#include "library/routines.h"
#include "platform/platform.h"
#include "platform/random.h"
#include "platform/simpleio.h"
#include "runtime/boot_image.h"
#include "runtime/case.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/externals.h"
#include "runtime/hooks.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/slot_pool.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"
#include "runtime/words.h"

static_assert(stack::ARGUMENT_CELLS == (uint32_t)block::ARGUMENT_STACK_CELLS,
              "the argument stack fills its root-block series");

namespace boot_image {
const Sources* sources = nullptr;
}

namespace runtime {

int32_t boot_flag = 0;
uintptr_t stack_base = 0;
double float_max, float_inf, float_neg_inf, float_nan, float_below_half;
uint16_t x87_control = 0;

static sys::ImageLayout image_layout;

static double from_bits(uint64_t bits) {
    double d;
    memcpy(&d, &bits, 8);
    return d;
}

static void load_x87_control() {
    x87_control = X87_CONTROL;
#if defined(__i386__) || defined(__x86_64__)
    __asm__ volatile("fldcw %0" : : "m"(x87_control));
#endif
}

void setup(int argc, char** argv) {
#if defined(__i386__) || defined(__x86_64__)
    __asm__ volatile("fninit");
#endif
    sys::runtime.image_layout = &image_layout;
    sys::runtime.tracked = &sys::tracked_list;
    sys::tracked_list.head = sys::tracked_list.tail = nullptr;
    sys::init(argc, argv);
    load_x87_control();
    sys::runtime.boot_image = nullptr;  // the boot image is embedded later

    // Module globals.
    float_max = from_bits(0x7FEFFFFFFFFFFFFFull);
    float_inf = from_bits(0x7FF0000000000000ull);
    float_neg_inf = from_bits(0xFFF0000000000000ull);
    float_nan = from_bits(0x7FF8000000000000ull);
    float_below_half = from_bits(0x3FDFFFFFFFFFFFFFull);
    cycles::init();  // the cycle stack: 1000 entries, tracked

    char here;
    stack_base = (uintptr_t)&here;
}

void init() {
    boot_flag = 1;                 //  1. boot flag
    hooks::init();                 //  2. print hooks
    platform::init();              //  3. platform/init
    simpleio::install();           //     the file actions of file!
    platform::random::init();      //  4. random/init
    memory::init();                //  5. memory manager
    externals::init();             //  6. handle table
    datatype::init_tables();       //  7. type-name and action tables
    datatype::register_type();     //  8. datatype registrations, parents first
    unset::register_type();
    none::register_type();
    logic::register_type();
    series::register_type();       //     series! before its children
    block::register_type();
    string::register_type();
    binary::register_type();
    integer::register_type();
    symbol::register_type();
    context::register_type();
    word::register_type();         //     word! and its children
    lit_word::register_type();
    set_word::register_type();
    get_word::register_type();
    refinement::register_type();
    char_::register_type();        //     (integer! is its parent)
    native::register_type();       //     native!, action!, op!
    action::register_type();
    op::register_type();
    path::register_type();
    lit_path::register_type();
    set_path::register_type();
    get_path::register_type();
    function::register_type();     //     function!, routine!
    routine::register_type();
    paren::register_type();
    issue::register_type();
    url::register_type();          //     url! before its child file!
    file::register_type();
    object::register_type();
    bitset::register_type();
    triple::register_type();
    float_::register_type();
    typeset::register_type();
    error::register_type();
                                   //     vector! .. image!
    vector::register_type();
    hash::register_type();
    pair::register_type();
    percent::register_type();
    tuple::register_type();
    map::register_type();
                                   //     binary!
    time_::register_type();
    tag::register_type();
    email::register_type();
    handle::register_type();
    date::register_type();         //     date!, port!, money!
    port::register_type();
    money::register_type();
    ref::register_type();
    point2D::register_type();
    point3D::register_type();
    image::register_type();        //     image! (and the imaging factory)
    event::register_type();        //     event! (the Vezi layer's, registered with the others)
    actions::init();               //  9. actions/init
    memory::init_frames();         // 10. first node and series frames
    block::make_root();            // 11. root block and the stacks' series
    word::use_root(block::root);   //     words rooted for compiled code go there too
    context::init();               // 12. global context (reachable through context::global)
    case_::init();                 // 13. case/init
    symbol::init();                // 14. symbol table (its block is the table's data block)
    datatype::make_words();        // 15. the words of the type names, datatype! first
    words::build();                // 16. built-in words, refinements and issue
    refinements::build();
    issues::build();
    event::init_words();           //     event type, flag and field words
    natives::init();               // 17. natives/init
    parser::init();                // 18. parser/init
    ownership::init();             // 19. ownership/init
                                   // 20. crypto/init
                                   // 21. compress/init-methods
                                   // 22. call/init
    stack::init(block::cells_of(block::root_series(block::ROOT_ARGUMENTS)),  // 23. stack/init
                stack::ARGUMENT_CELLS);
    {
        memory::Buffer* frames = block::root_series(block::ROOT_FRAMES)->buffer;
        stack::init_frames(frames->head, frames->capacity);
    }
    lexer::init();                 // 24. lexer/init
    const boot_image::Sources* text = boot_image::sources;
    if (text) {                    // 25. the build tool: the library as text
        error::init_from_text(text->errors, text->errors_size);
    } else {                       // 25. zolbin/boot-load
        zolbin::boot_load(boot_image::data, boot_image::size);
        error::init(zolbin::literal_at(BOOT_CATALOG));
    }
    interpreter::init();           // 26. interpreter/init
    if (text) natives::define_words(text->natives, text->natives_size);
    else natives::register_routines(zolbin::literal_at(BOOT_ROUTINES));
    routines::init();
    if (!text) {
        // Every block of the boot image is library code; the library's code
        // reaches the hidden routines by their names.
        for (int32_t i = 0; i < zolbin::literal_count(); i++) {
            cell* lit = zolbin::literal_at(i);
            if (!series::is_any_block(lit->type())) continue;
            if (i >= BOOT_CODE) routines::bind_hidden(lit);
            block::flag_library(zolbin::literal_at(i));
        }
    }
    slot_pool::init();             // 27. slot pool
    collector::init();             // 28. collector/init
}

void start_library() {
    collector::enabled = 1;
    boot_flag = 0;
#ifdef ZOL_GC_STRESS
    // Collecting every few allocations through the whole library's boot
    // costs every program of the stress build minutes; one test boots so.
    const char* stress_boot = getenv("ZOL_GC_STRESS_BOOT");
    memory::stress_paused = !(stress_boot && *stress_boot);
    struct Resume {
        ~Resume() { memory::stress_paused = false; }
    } resume;
#endif
    // The library's code: every boot literal from BOOT_CODE on is a block
    // of top-level code, run in order.
    for (int32_t i = BOOT_CODE; i < zolbin::literal_count(); i++) {
        cell code = *zolbin::literal_at(i);
        if (code.type() == TYPE_BLOCK) interpreter::do_block(&code);
    }
}

void quit() {
    platform::shutdown();
    memory::free_all_frames();
    sys::free_all();
}

void top_level(void (*body)()) {
    try {
        body();
    } catch (const sys::Throw& t) {
        sys::uncaught_throw(t.code);
    } catch (const std::bad_alloc&) {
        sys::quit(sys::RT_OUT_OF_MEMORY, 0);
    }
}

void start(int argc, char** argv) {
    setup(argc, argv);
    // The product's C runtime streams take UTF-16 (test programs keep their
    // byte streams for the test framework's own output).
    platform::use_utf16_streams();
    top_level([] {
        init();
        //  3. word interning
        //  4. boot literals
        //  5. collector on, boot flag off
        //  6. the library's top-level code
        start_library();
        //  7. console start
    });
    sys::quit(0, 0);                //  8. free the tracked blocks, exit 0
}

}  // namespace runtime
