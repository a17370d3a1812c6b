// Raw arrays: series used as plain growable arrays of bytes or 32-bit words
// by runtime modules (hash-table chains and key lists, backend pointer lists).
//
// A raw array is a series node whose buffer's unit size (1, 2, 4, 8 or 16)
// sits in its flags; length = (tail - head) >> log2(unit). Element positions
// of pick/poke count from 1; the position of insert_int counts from 0;
// offsets returned by the find operations and taken by remove_at are byte
// offsets from the head. Growing moves the buffer: every operation takes the
// node and reads the buffer through it.
#pragma once
#include <cstdint>

#include "runtime/memory.h"

namespace array {

using memory::Node;

// count × unit bytes (0 giving 16) whose unit size is then `unit`.
Node* make(int32_t count, uint32_t unit);
int32_t length(Node* a);
void clear(Node* a);
// Keeps the first n - 1 elements (never lengthens).
void cut_at(Node* a, int32_t n);
Node* copy(Node* a);
uint32_t flags(Node* a);

// Each reserves room at the tail (expanding the buffer when needed). The
// bytes of append_bytes must not lie inside a series buffer, which may move.
void append_byte(Node* a, uint8_t b);
void append_bytes(Node* a, const void* source, int32_t n);
void append_int(Node* a, int32_t v);
void append_ptr(Node* a, const void* p);

uint8_t pick_byte(Node* a, int32_t i);
int32_t pick_int(Node* a, int32_t i);
void* pick_ptr(Node* a, int32_t i);
void poke_int(Node* a, int32_t i, int32_t v);

// Byte offset of the first 32-bit element equal to the argument, or -1.
int32_t find_int(Node* a, int32_t v);
int32_t find_ptr(Node* a, const void* p);

// Inserts a 32-bit value before element i (from 0).
void insert_int(Node* a, int32_t v, int32_t i);
// Removes n bytes at a byte offset from the head.
void remove_at(Node* a, int32_t offset, int32_t n);
// Removes the first element equal to p; its byte offset, or -1 when absent.
int32_t remove_ptr(Node* a, const void* p);

}  // namespace array
