// The Windows clipboard: text as UTF-16, file lists as file-drop records,
// images as "PNG" plus a top-down 32-bit version-5 bitmap.
//
// The clipboard is opened by a hidden message-only window of ours, so that
// the clipboard has an owner that outlives no one else's window. Blocks are
// prepared before the clipboard is opened; every block the clipboard did not
// take is freed. No pointer into the series heap is held across a system
// call that may send messages.
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/binary.h"
#include "datatypes/file.h"
#include "datatypes/image.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "platform/clipboard.h"
#include "platform/image_backend.h"
#include "runtime/collector.h"

namespace clipboard {

namespace {

HWND owner_window() {
    static HWND owner = nullptr;
    if (owner) return owner;
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZolClipboardOwner";
    RegisterClassW(&wc);
    owner = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    return owner;
}

// Three attempts; a busy clipboard is given a moment between them.
bool open() {
    HWND owner = owner_window();
    for (int attempt = 0; attempt < 3; attempt++) {
        if (attempt > 0) Sleep(1);
        if (OpenClipboard(owner)) return true;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
    return false;
}

HGLOBAL global_copy(const void* bytes, size_t n) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, n ? n : 1);
    if (!h) return nullptr;
    void* p = GlobalLock(h);
    if (n) memcpy(p, bytes, n);
    GlobalUnlock(h);
    return h;
}

// The bytes of a clipboard block (`GlobalSize` of them); false when it
// cannot be locked.
bool block_bytes(HANDLE h, std::string& out) {
    const void* p = GlobalLock(h);
    if (!p) return false;
    out.assign((const char*)p, GlobalSize(h));
    GlobalUnlock(h);
    return true;
}

struct Prepared {
    UINT format;
    HGLOBAL block;
};

}  // namespace

bool read(cell* out) {
    if (!open()) return false;
    bool ok = true;
    std::string bytes;
    none::make_at(out);
    if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
        ok = block_bytes(h, bytes);
        CloseClipboard();
        if (!ok) return false;
        size_t units = 0;
        const uint16_t* t = (const uint16_t*)bytes.data();
        while (units < bytes.size() / 2 && t[units]) units++;
        unicode::load_utf16(bytes.data(), (uint32_t)units, nullptr, out, true);
        return true;
    }
    if (HANDLE h = GetClipboardData(CF_HDROP)) {
        std::vector<std::string> names;
        UINT n = DragQueryFileW((HDROP)h, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < n; i++) {
            UINT len = DragQueryFileW((HDROP)h, i, nullptr, 0);
            std::wstring name((size_t)len + 1 > 260 ? (size_t)len + 1 : 260, L'\0');
            len = DragQueryFileW((HDROP)h, i, &name[0], (UINT)name.size());
            int k = WideCharToMultiByte(CP_UTF8, 0, name.data(), (int)len, nullptr, 0, nullptr, nullptr);
            std::string utf8((size_t)k, '\0');
            WideCharToMultiByte(CP_UTF8, 0, name.data(), (int)len, &utf8[0], k, nullptr, nullptr);
            names.push_back(zol_path(utf8));
        }
        CloseClipboard();
        cell* blk = block::push_new((int32_t)names.size());
        for (const std::string& name : names) {
            cell* f = stack::push_cell();
            file::load_into(f, name.data(), (int32_t)name.size());
            block::append_cell_copy(series::node_of(blk), f);
            stack::pop(1);
        }
        *out = *blk;
        stack::pop(1);
        return true;
    }
    for (const char* name : {"PNG", "JFIF", "GIF"}) {
        UINT format = RegisterClipboardFormatA(name);
        HANDLE h = format ? GetClipboardData(format) : nullptr;
        if (!h) continue;
        ok = block_bytes(h, bytes);
        CloseClipboard();
        if (!ok) return false;
        cell* bin = binary::load((const uint8_t*)bytes.data(), (uint32_t)bytes.size());
        image::decode(bin, out);
        stack::pop(1);
        return true;
    }
    HANDLE dib = GetClipboardData(CF_DIBV5);
    if (dib) {
        ok = block_bytes(dib, bytes);
        Dib d;
        if (ok && parse_dib((const uint8_t*)bytes.data(), bytes.size(), d)) {
            CloseClipboard();
            const uint8_t* first = (const uint8_t*)bytes.data() + d.offset;
            size_t row = (size_t)d.width * 4;
            std::string rows;
            if (d.bottom_up) {
                // Rows stored from the bottom are turned top-down.
                rows.resize(row * d.height);
                for (uint32_t y = 0; y < d.height; y++) memcpy(&rows[y * row], first + (d.height - 1 - y) * row, row);
                first = (const uint8_t*)rows.data();
            }
            memory::Node* record = image_backend::create_bitmap(d.width, d.height, (uint32_t)row, first);
            image::make_at(out, record, d.width, d.height);
            return true;
        }
        if (HANDLE bmp = GetClipboardData(CF_BITMAP)) {
            memory::Node* record = image_backend::from_hbitmap(bmp, 2);
            CloseClipboard();
            if (!record) return false;
            image::make_at(out, record, image_backend::width(record), image_backend::height(record));
            return true;
        }
        CloseClipboard();
        return ok;
    }
    CloseClipboard();
    return true;
}

bool write(cell* value) {
    std::vector<Prepared> blocks;
    auto add = [&](UINT format, const std::string& bytes) {
        HGLOBAL h = global_copy(bytes.data(), bytes.size());
        if (h) blocks.push_back({format, h});
        return h != nullptr;
    };
    bool prepared = true;
    uint8_t t = value->type();
    if (series::is_any_string(t) && t != TYPE_FILE) {
        int32_t count = -1;
        const uint16_t* units = unicode::to_utf16_part(value, &count, true);
        std::string bytes;
        if (units) bytes.assign((const char*)units, (size_t)count * 2);
        bytes.append(2, '\0');
        prepared = units && add(CF_UNICODETEXT, bytes);
    } else if (t == TYPE_BLOCK) {
        std::vector<std::u16string> paths;
        cell blk = *value;
        collector::Root hold(blk);
        int32_t n = series::length_of(&blk);
        for (int32_t i = 0; i < n; i++) {
            cell item = block::cells_of(series::node_of(&blk))[(int32_t)blk.data1 + i];
            collector::Root hold_item(item);
            cell* local = string::push_new(64);
            file::to_local(&item, local, true);
            int32_t k = -1;
            const uint16_t* units = unicode::to_utf16_part(local, &k, false);
            paths.emplace_back(units ? (const char16_t*)units : u"", units ? (size_t)k : 0);
            stack::pop(1);
        }
        prepared = add(CF_HDROP, drop_files(paths));
    } else if (t == TYPE_IMAGE && image::pixel_count(value) > 0 && image::node_of(value)) {
        cell img = *value;
        collector::Root hold(img);
        cell* png = stack::push_cell();
        image::encode(&img, png, image_backend::PNG);
        std::string png_bytes((const char*)binary::rs_head(png), (size_t)binary::rs_length(png));
        stack::pop(1);
        uint32_t w = image::width_of(&img), h = image::height_of(&img);
        std::string dib = dibv5_header(w, h);
        {
            image_backend::PixelLock lock(image::node_of(&img), false);
            for (uint32_t y = 0; y < h; y++)
                dib.append((const char*)(lock.pixels + (size_t)y * lock.stride_words), (size_t)w * 4);
        }
        UINT format = RegisterClipboardFormatA("PNG");
        prepared = add(format, png_bytes) && add(CF_DIBV5, dib);
    }
    bool ok = prepared && open();
    if (ok) {
        EmptyClipboard();
        size_t placed = 0;
        for (; placed < blocks.size(); placed++)
            if (!SetClipboardData(blocks[placed].format, blocks[placed].block)) break;
        ok = placed == blocks.size();
        // The clipboard owns what it took; the rest is ours to free.
        for (size_t i = ok ? blocks.size() : placed; i < blocks.size(); i++) GlobalFree(blocks[i].block);
        CloseClipboard();
        return ok;
    }
    for (const Prepared& p : blocks) GlobalFree(p.block);
    return false;
}

}  // namespace clipboard
