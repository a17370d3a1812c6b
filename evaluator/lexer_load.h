// Literal loaders of the datatypes the lexer does not build itself.
//
// The lexer finds where each token ends, checks its syntax and decodes what
// it can (numbers, bytes, text); the datatype that the token stands for
// builds the value. Every such datatype has one entry in `loaders`, indexed
// by type id, defined in lexer_load.cpp; an entry that is not wired yet
// raises internal not-done when asked to build a value (checking a token
// never needs it, so prescans and type scans work before the datatype
// exists).
//
// Wiring a datatype (the only change its module makes here): in
// lexer_load.cpp replace the body of its `load_<type>` with a call of the
// module's constructor, using the fields of `Literal` listed for the type,
// and write the value into `out`. `out` lies outside the series heap and is
// marked by the collector, so the constructor may allocate freely. A
// loader that finds the literal invalid answers false and the lexer raises
// syntax `invalid` with the datatype; it never raises a syntax error itself.
// A loader is called with load = false only by the datatypes marked
// "checks" below, to check a token without making it.
//
//   type        fields of Literal                      checks
//   file!       text (decoded UTF-8)                   -
//   url!        text (percent-decoded)                 -
//   tag!        text (between < and >)                 -
//   email!      text                                   -
//   ref!        text (after @)                         -
//   binary!     text (the decoded bytes)               -
//   percent!    number[0] (the fraction: 50% is 0.5)   -
//   tuple!      bytes[0..count-1], count (3..12)       -
//   pair!       integers[0], integers[1]               -
//   point2D!    number[0..1]                           -
//   point3D!    number[0..2]                           -
//   time!       number[0] (seconds, signed)            -
//   money!      token, length (the whole token)        checks (currency in the list)
//   date!       token, length                          checks
//   map!        cells, count (an even count; the keys  checks
//               are for the loader to check)
//
// file!, url!, tag!, email! and ref! share the string! cell, and percent!,
// time! and pair! have cells fixed by their layout: their loaders here
// build them as soon as the type is registered, with nothing to wire.
#pragma once
#include <cstdint>
#include <string>

#include "datatypes/cell.h"

namespace lexer {

struct Literal {
    const uint8_t* token;  // the token's bytes (outside the series heap)
    uint32_t length;
    uint32_t flags;        // the token's flags
    std::string text;      // decoded text or bytes
    double number[3];
    int32_t integers[2];
    uint8_t bytes[12];
    int32_t count;
    cell* cells;           // map!: the elements (in the lexer's output buffer)
};

// Builds (load) or checks (not load) a literal of a type; false: invalid.
using Loader = bool (*)(Literal& literal, cell* out, bool load);

// Entry by type id; null for the types the lexer builds itself.
Loader loader(uint8_t type);

}  // namespace lexer
