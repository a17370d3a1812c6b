// url!: a string! (type 9, parent string!) with its own mold, paths and I/O.
//
// Cells and buffers are string!'s (string.h). A url molds percent-encoded
// (its UTF-8 bytes; what `keep_table` keeps stays as it is) and decodes on
// request. Its I/O speaks HTTP directly when its text begins with "http"
// (case-sensitive) and otherwise goes through a port! made from the parsed
// url. HTTP, the url parser and ports live in later subsystems: they reach
// this module through the seams below, and while a seam is empty the action
// that needs it raises internal not-done (after its own argument checks).
#pragma once
#include <array>
#include <cstdint>

#include "datatypes/cell.h"

namespace url {

// 128 entries, one per ASCII code: 255 marks a character kept as it is.
// keep_table: letters, digits and ! # $ & ' ( ) * + , - . / : = ? @ _ ~ (mold
// and the default encoding; also whether a file! molds in quotes).
// unreserved_table: letters, digits and - . _ ~ (encoding mode 254).
extern const std::array<uint8_t, 128> keep_table;
extern const std::array<uint8_t, 128> unreserved_table;
constexpr int32_t MODE_KEEP = 255;
constexpr int32_t MODE_UNRESERVED = 254;

inline bool is_kept(int32_t cp) { return cp >= 0 && cp < 128 && keep_table[cp] == 255; }

// Pushes a copy of the cell.
cell* push(const cell* value);

// Writes the byte as it is or as "%XX" (upper-case digits) into out;
// answers the characters written (1 or 3).
uint32_t encode_byte(int32_t mode, uint8_t byte, char out[3]);
// Appends the percent-encoding of the text's UTF-8 bytes (from its head) to
// the string `target`.
void encode(cell* text, cell* target, int32_t mode);
// Appends the percent-decoding of the text to the string `target`: a
// percent group gives a byte; a lead byte followed by its continuation
// groups decodes as one UTF-8 sequence (U+FFFD when it is invalid); any
// other byte stands for itself; text that is no group is kept as it is.
void decode(cell* text, cell* target);
// Loads UTF-8 text and pushes its decoding as a new string!.
cell* load_decoded(const char* text, int32_t length);

// --- Seams ----------------------------------------------------------------------------

// One HTTP exchange: the method's symbol, the url, headers (block!) or null,
// data or null; leaves the answer (none! when no connection could be made)
// in `result`. The platform's exchange by default; tests put in their own.
using HttpRequest = void (*)(int32_t method, cell* url, cell* headers, cell* data, bool binary,
                             bool lines, bool info, cell* result);
extern HttpRequest http_request;
// The library's url parser: leaves its answer for the url in `result` (an
// object! of the url's parts when it parses).
using ParseUrl = void (*)(cell* url, cell* result);
extern ParseUrl parse_url;

// A port! made from the url's parts (opened with the open flag); a url that
// does not parse raises script invalid-arg.
cell* to_port(cell* value, bool open, cell* result);

// --- Actions ---------------------------------------------------------------------------

cell* make(cell* target, cell* spec, int32_t type);
cell* to(cell* target, cell* spec, int32_t type);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
cell* eval_path(cell* parent, cell* element, cell* value, cell* path, cell* holder,
                cell* element_cell, int32_t index, bool case_, bool get, bool last, bool owner);
cell* open(cell* port, bool new_, bool read, bool write, bool seek, cell* allow);
cell* read(cell* source, cell* part, cell* seek, bool binary, bool lines, bool info, cell* as);
cell* write(cell* destination, cell* data, bool binary, bool lines, bool info, bool append,
            cell* part, cell* seek, cell* allow, cell* as);

// Registers url! (type 9, parent string!); after string!, before file!.
void register_type();

}  // namespace url
