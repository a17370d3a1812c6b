// Clipboard layouts both builds share.
#include "platform/clipboard.h"

#include <cstring>

namespace clipboard {

namespace {

constexpr uint32_t V5_SIZE = 124;
constexpr uint32_t BITFIELDS = 3;
constexpr uint32_t RED = 0x00FF0000, GREEN = 0x0000FF00, BLUE = 0x000000FF, ALPHA = 0xFF000000;
// The masks sit at bytes 40-55 of the headers that carry them.
constexpr uint32_t MASKS_END = 56;

void put32(std::string& s, size_t at, uint32_t v) { memcpy(&s[at], &v, 4); }
uint32_t get32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

}  // namespace

std::string dibv5_header(uint32_t w, uint32_t h) {
    std::string s(V5_SIZE, '\0');
    put32(s, 0, V5_SIZE);
    put32(s, 4, w);
    put32(s, 8, (uint32_t)-(int32_t)h);  // negative: rows from the top
    s[12] = 1;                            // planes
    s[14] = 32;                           // bits a pixel
    put32(s, 16, BITFIELDS);
    put32(s, 20, w * h * 4);
    put32(s, 40, RED);
    put32(s, 44, GREEN);
    put32(s, 48, BLUE);
    put32(s, 52, ALPHA);
    put32(s, 56, 0x57696E20);  // the system's colour space
    put32(s, 108, 4);          // intent: images
    return s;
}

bool parse_dib(const uint8_t* block, size_t size, Dib& out) {
    if (size < MASKS_END) return false;
    uint32_t header = get32(block);
    if (header < MASKS_END || header > size) return false;
    int32_t w = (int32_t)get32(block + 4), h = (int32_t)get32(block + 8);
    uint16_t bits;
    memcpy(&bits, block + 14, 2);
    if (bits != 32 || get32(block + 16) != BITFIELDS || get32(block + 40) != RED || get32(block + 44) != GREEN ||
        get32(block + 48) != BLUE || get32(block + 52) != ALPHA)
        return false;
    if (w <= 0 || h == 0 || h == INT32_MIN || w > 65535) return false;
    uint32_t rows = (uint32_t)(h < 0 ? -h : h);
    if (rows > 65535) return false;
    uint64_t pixels = (uint64_t)(uint32_t)w * rows * 4;
    if (pixels > size - header) return false;
    out = Dib{(uint32_t)w, rows, header, h > 0};
    return true;
}

std::string drop_files(const std::vector<std::u16string>& paths) {
    std::string s(20, '\0');
    put32(s, 0, 20);  // where the list starts
    put32(s, 16, 1);  // wide characters
    for (const std::u16string& p : paths) {
        s.append((const char*)p.data(), p.size() * 2);
        s.append(2, '\0');
    }
    s.append(2, '\0');
    return s;
}

std::string zol_path(const std::string& local) {
    std::string s = local;
    for (char& c : s)
        if (c == '\\') c = '/';
    if (s.size() >= 2 && s[1] == ':' && ((s[0] | 0x20) >= 'a' && (s[0] | 0x20) <= 'z'))
        s = "/" + s.substr(0, 1) + s.substr(2);
    return s;
}

}  // namespace clipboard
