#include "vezi/backend/core/text.h"

#include "datatypes/string.h"

namespace gui {

void clean_control_text(uint16_t* t, int32_t* length) {
    int32_t out = 0, n = *length;
    for (int32_t i = 0; i < n; i++) {
        uint16_t u = t[i];
        if (u == '\r') continue;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && t[i + 1] >= 0xDC00 && t[i + 1] <= 0xDFFF) {
            t[out++] = u;
            t[out++] = t[++i];
            continue;
        }
        t[out++] = (u >= 0xD800 && u <= 0xDFFF) ? 0xFFFD : u;
    }
    *length = out;
}

void clean_control_text(wchar_t* t, int32_t* length) {
    static_assert(sizeof(wchar_t) == 2 || sizeof(wchar_t) == 4);
    if constexpr (sizeof(wchar_t) == 2) {
        clean_control_text(reinterpret_cast<uint16_t*>(t), length);
    } else {
        int32_t out = 0;
        for (int32_t i = 0; i < *length; i++) {
            wchar_t c = t[i];
            if (c == L'\r') continue;
            t[out++] = (c >= 0xD800 && c <= 0xDFFF) ? 0xFFFD : c;
        }
        *length = out;
    }
}

int32_t count_wide_chars(const cell* s, int32_t start, int32_t count, int32_t step) {
    if (s->type() != TYPE_STRING || string::width_of(s) != 4) return count;
    int32_t length = string::total_length(s) - (int32_t)s->data1;
    int64_t end = (int64_t)start + count;
    int32_t from = start < 0 ? 0 : start, to = end < length ? (int32_t)end : length;
    int32_t result = count;
    for (int32_t i = from; i < to; i++)
        if (string::char_at(s, s->data1 + (uint32_t)i) > 0xFFFF) result += step;
    return result;
}

}  // namespace gui
