// Console output: the lowest output layer, text of 1-, 2- or 4-byte units to
// standard output.
//
// Two writers. When standard output is a console (a `Screen` is installed),
// text goes out as UTF-16, batched up to 510 units, and ANSI escape
// sequences (ESC "[" ...) are interpreted as console operations: cursor
// moves, erasing, colours. Otherwise (a file or a pipe) text is encoded as
// UTF-8 and written through `file_out`, escape sequences passing unchanged.
//
// The interpreter is pure code over the `Screen` interface: the Windows
// layer implements it over the console API, tests over a fake screen. The
// native build never installs a screen (its terminals interpret escapes
// themselves).
#pragma once
#include <cstddef>
#include <cstdint>

namespace console {

// What the console writer reads of the screen buffer.
struct ScreenInfo {
    int16_t width, height;           // buffer size in cells
    int16_t cursor_x, cursor_y;      // cursor column and row, from 0
    uint16_t attribute;              // current text attribute
    int16_t left, top, right, bottom;  // the visible window
    int16_t max_width, max_height;   // largest possible window
};

// A console screen buffer. Attributes: foreground blue 1, green 2, red 4,
// intensity 8; the same shifted left by 4 for the background; underscore
// 0x8000.
class Screen {
public:
    virtual ~Screen() = default;
    // False when the buffer cannot be read (the interpreter then does
    // nothing).
    virtual bool info(ScreenInfo& out) = 0;
    virtual void set_cursor(int16_t x, int16_t y) = 0;
    virtual void set_attribute(uint16_t attribute) = 0;
    // Writes `count` blanks in `attribute` from (x, y) on, row after row.
    virtual void fill(int16_t x, int16_t y, uint32_t count, uint16_t attribute) = 0;
    // Writes UTF-16 units at the cursor in the current attribute.
    virtual void write(const uint16_t* units, uint32_t count) = 0;
};

// --- Module state --------------------------------------------------------------

// The screen standard output goes to; null when it is redirected.
Screen* screen();
// Installs (or, with null, removes) the console screen and, for a screen,
// stores its current attribute as the start-up attribute.
void set_screen(Screen* s);
// Where the file writer's bytes go (platform::write_stdout unless replaced).
extern bool (*file_out)(const void* bytes, size_t size);

// console/init: the console flag from the platform (called by platform::init).
void init();
// The attribute erasing and SGR 0 restore.
uint16_t default_attribute();
// console/default-attribute: the screen's current attribute becomes the
// start-up attribute.
void store_default_attribute();

// --- Console operations ------------------------------------------------------------

void save_cursor();
// Column in the low 16 bits, row in the high 16 bits.
void set_cursor(uint32_t position);
void set_attribute(uint16_t attribute);
// Erases part of the buffer in the start-up attribute: 0 from the cursor's
// row start to the end, 1 the rows above the cursor, 2 everything (cursor
// home), 3 the cursor's row (cursor to its start), 4 cursor to row end,
// 5 row start to the cursor (cursor to the row start). Other modes are
// runtime error 101.
void erase(int32_t mode);
// The attribute after SGR `code` applied to `attribute` (-1: the screen's
// current attribute).
uint16_t sgr_to_attribute(int32_t attribute, int32_t code);
// Interprets the sequence starting at the ESC at `esc` in units of `unit`
// bytes, reading nothing at or after `end`. Returns the bytes consumed (ESC
// to the final character), or 0 when ESC is not followed by "[". A sequence
// cut by `end` is consumed up to `end` and does nothing.
uint32_t ansi_escape(const void* esc, const void* end, uint32_t unit);

// --- Writers ---------------------------------------------------------------------

// Writes `bytes` bytes of `unit`-sized characters; with `crlf`, a line end
// after (CR LF; a lone LF for 4-byte units on a console). A unit other than
// 1, 2 or 4 is runtime error 101.
void write(const void* text, uint32_t bytes, uint32_t unit, bool crlf);
// One UTF-16 unit straight to the console, unbuffered.
void write_char(uint16_t unit);

}  // namespace console

namespace print {
void c_string(const char* s);
void integer(int32_t v);
void hex(uint32_t v);
void hex_byte(uint8_t v);
void float64(double d);
void float32(float f);
void latin1(const uint8_t* s, uint32_t count);
void latin1_line(const uint8_t* s, uint32_t count);
void ucs2(const uint16_t* s, uint32_t count);
void ucs2_line(const uint16_t* s, uint32_t count);
void ucs4(const uint32_t* s, uint32_t count);
void ucs4_line(const uint32_t* s, uint32_t count);
}  // namespace print
