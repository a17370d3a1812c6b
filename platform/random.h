// Random numbers: a seeded generator whose sequence replays from its seed,
// and a secure source drawn from the system's cryptographic generator.
//
// The generator is of the Mersenne-twister family with one difference: every
// right shift is arithmetic (the word read as signed), so sequences differ
// from the published generator's and every output is a non-negative 31-bit
// number. State: 624 words (one tracked block made at start-up) and the index
// of the next word to hand out; index 624 means a twist is due.
//
// (The module lives under `platform::random`: a global `random` would collide
// with the C library's random().)
#pragma once
#include <cstdint>

namespace platform::random {

constexpr uint32_t STATE_WORDS = 624;
constexpr uint32_t START_SEED = 19650218;

// Process-wide seed of the hash tables: set once by `init`, before any table
// exists. Nothing depends on its value beyond it staying fixed for the run.
extern uint32_t hash_seed;

// Allocates the state, seeds it with START_SEED and sets the hash seed
// (start-up step 4, before the memory manager).
void init();

// Restarts the sequence from a seed: the next 624 outputs are the tempered
// seed words themselves.
void seed(int32_t value);

// The next output, 0 .. 2^31 - 1.
int32_t next();

// A draw from the cryptographic source, 0 .. 2^31 - 1. A source that fails
// ends the program: a predictable number must never pass for a secure one.
int32_t secure_int();

// A uniform integer in 1..n (or n..-1 when n is negative; 0 gives 0), from
// the secure source when `secure`. Draws past the largest multiple of |n| are
// rejected so that no result is favoured.
int32_t integer(bool secure, int32_t n);

}  // namespace platform::random
