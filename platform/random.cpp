#include "platform/random.h"

#include "platform/platform.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

namespace platform::random {

uint32_t hash_seed = 0;

static uint32_t* state = nullptr;
static uint32_t next_word = STATE_WORDS;

// The generator's right shift: arithmetic, on the word read as signed.
static inline uint32_t sar(uint32_t x, int n) { return (uint32_t)((int32_t)x >> n); }

void init() {
    state = (uint32_t*)sys::allocate(STATE_WORDS * sizeof(uint32_t));
    seed((int32_t)START_SEED);
    hash_seed = 0x2F693B5Du;
}

void seed(int32_t value) {
    state[0] = (uint32_t)value;
    for (uint32_t i = 1; i < STATE_WORDS; i++)
        state[i] = 1812433253u * (state[i - 1] ^ sar(state[i - 1], 30)) + i;
    next_word = 0;
}

static void twist() {
    for (uint32_t i = 0; i < STATE_WORDS; i++) {
        uint32_t following = state[(i + 1) % STATE_WORDS];
        uint32_t y = (state[i] & 0x80000000u) | (following & 0x7FFFFFFFu);
        state[i] = state[(i + 397) % STATE_WORDS] ^ sar(y, 1) ^ ((following & 1) ? 0x9908B0DFu : 0);
    }
    next_word = 0;
}

int32_t next() {
    if (next_word >= STATE_WORDS) twist();
    uint32_t y = state[next_word++];
    y ^= sar(y, 11);
    y ^= (y & 0x013A58ADu) << 7;
    y ^= (y & 0x0001DF8Cu) << 15;
    y ^= sar(y, 18);
    return (int32_t)y;
}

int32_t secure_int() {
    uint32_t r;
    if (!secure_random_bytes(&r, sizeof r)) sys::quit(sys::RT_UNKNOWN, SYS_CALLER_ADDRESS());
    return (int32_t)(r & 0x7FFFFFFFu);
}

int32_t integer(bool secure, int32_t n) {
    if (n == 0) return 0;
    if (n == INT32_MIN) return -1 - (secure ? secure_int() : next());
    int32_t m = n < 0 ? -n : n;
    int32_t bound = (2147483647 / m) * m;
    int32_t r;
    do r = secure ? secure_int() : next();
    while (r >= bound);
    int32_t result = r % m + 1;
    return n < 0 ? -result : result;
}

}  // namespace platform::random
