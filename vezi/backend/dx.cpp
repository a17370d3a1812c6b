#include "vezi/backend/dx.h"

#include <cwchar>

#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/series.h"
#include "datatypes/handle.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/externals.h"
#include "runtime/print.h"
#include "vezi/backend/core/templates.h"
#include "vezi/backend/faces.h"
#include "vezi/backend/core/text_format.h"
#include "vezi/backend/gui.h"
#include "vezi/backend/vezi_objects.h"

namespace gui {

Devices devices;

namespace {
template <class T>
void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}
void say(const char* line) { sys::print({sys::PrintItem::String(line)}); }
}  // namespace

// Strings measured without a conversion buffer of their own convert here
// instead of each making one.
static memory::Node* scratch = nullptr;
static void mark_scratch() {
    if (scratch) collector::mark_series(&scratch);
}

void dx_init() {
    HMODULE dwrite = LoadLibraryA("DWrite.dll");
    using CreateWrite = HRESULT(WINAPI*)(DWRITE_FACTORY_TYPE, REFIID, IUnknown**);
    auto create_write = dwrite ? (CreateWrite)(void*)GetProcAddress(dwrite, "DWriteCreateFactory") : nullptr;
    if (!create_write) {
        devices.no_d2d = true;
        return;
    }
    devices.locale = (wchar_t*)calloc(85, sizeof(wchar_t));
    using LocaleName = int(WINAPI*)(LPWSTR, int);
    if (auto f = (LocaleName)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetUserDefaultLocaleName"))
        f(devices.locale, 85);
    // The graphics libraries are loaded here, not at program start: under
    // Wine loading Direct3D starts OpenGL, which every program would pay for.
    using CreateD2D = HRESULT(WINAPI*)(D2D1_FACTORY_TYPE, REFIID, const D2D1_FACTORY_OPTIONS*, void**);
    HMODULE d2d1 = LoadLibraryA("d2d1.dll");
    auto create_d2d = d2d1 ? (CreateD2D)(void*)GetProcAddress(d2d1, "D2D1CreateFactory") : nullptr;
    D2D1_FACTORY_OPTIONS options{D2D1_DEBUG_LEVEL_NONE};
    if (create_d2d)
        create_d2d(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory1), &options,
                   (void**)&devices.d2d_factory);
    create_write(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory1), (IUnknown**)&devices.dwrite_factory);
    if (!scratch) {
        scratch = memory::alloc_bytes(1024);
        collector::register_marker(mark_scratch);
    }
    dx_create_dev();
}

void dx_create_dev() {
    if (devices.d3d_device) release_devices();
    if (!devices.d2d_factory) return;
    using CreateD3D = HRESULT(WINAPI*)(IDXGIAdapter*, D3D_DRIVER_TYPE, HMODULE, UINT, const D3D_FEATURE_LEVEL*,
                                       UINT, UINT, ID3D11Device**, D3D_FEATURE_LEVEL*, ID3D11DeviceContext**);
    HMODULE d3d11 = LoadLibraryA("d3d11.dll");
    auto D3D11CreateDevice = d3d11 ? (CreateD3D)(void*)GetProcAddress(d3d11, "D3D11CreateDevice") : nullptr;
    if (!D3D11CreateDevice) {
        say("*** No Direct3D device (hardware or WARP): windows draw nothing");
        return;
    }
    devices.gpu = vezi_flag("GPU?", true);
    D3D_DRIVER_TYPE first = devices.gpu ? D3D_DRIVER_TYPE_HARDWARE : D3D_DRIVER_TYPE_WARP;
    HRESULT hr = D3D11CreateDevice(nullptr, first, nullptr, 0x21, nullptr, 0, 7, &devices.d3d_device, nullptr,
                                   &devices.d3d_context);
    if (FAILED(hr))
        hr = D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_WARP, nullptr, 0x21, nullptr, 0, 7, &devices.d3d_device,
                               nullptr, &devices.d3d_context);
    if (FAILED(hr)) {
        devices.d3d_device = nullptr;
        devices.d3d_context = nullptr;
        say("*** No Direct3D device (hardware or WARP): windows draw nothing");
        return;
    }
    IDXGIDevice1* dxgi = nullptr;
    ID2D1Device* d2d = nullptr;
    IDXGIAdapter* adapter = nullptr;
    if (SUCCEEDED(devices.d3d_device->QueryInterface(__uuidof(IDXGIDevice1), (void**)&dxgi)) &&
        SUCCEEDED(devices.d2d_factory->CreateDevice(dxgi, &d2d)) &&
        SUCCEEDED(d2d->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, &devices.context))) {
        devices.context->SetDpi((float)dpi.x, (float)dpi.y);
        if (SUCCEEDED(dxgi->GetAdapter(&adapter)))
            adapter->GetParent(__uuidof(IDXGIFactory2), (void**)&devices.dxgi_factory);
    }
    release(adapter);
    release(d2d);
    release(dxgi);
}

void release_devices() {
    release(devices.context);
    release(devices.d3d_context);
    release(devices.d3d_device);
    release(devices.dxgi_factory);
}

void release_factories() {
    release(devices.dwrite_factory);
    release(devices.d2d_factory);
    free(devices.locale);
    devices.locale = nullptr;
}

ID2D1Bitmap1* create_target_bitmap(ID2D1DeviceContext* dc, UINT width, UINT height, UINT options) {
    D2D1_BITMAP_PROPERTIES1 p{};
    p.pixelFormat = {DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED};
    p.dpiX = p.dpiY = (float)dpi.x;
    p.bitmapOptions = (D2D1_BITMAP_OPTIONS)options;
    ID2D1Bitmap1* b = nullptr;
    if (dc && FAILED(dc->CreateBitmap({width, height}, nullptr, 0, &p, &b))) b = nullptr;
    return b;
}

void bind_swapchain_target(RenderRecord* r, IDXGISwapChain1* chain) {
    IDXGISurface1* surface = nullptr;
    r->target = devices.context;
    r->swap_chain = chain;
    if (FAILED(chain->GetBuffer(0, __uuidof(IDXGISurface1), (void**)&surface))) return;
    devices.context->SetDpi((float)dpi.x, (float)dpi.y);
    D2D1_BITMAP_PROPERTIES1 p{};
    p.pixelFormat = {DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED};
    p.dpiX = p.dpiY = (float)dpi.x;
    p.bitmapOptions = (D2D1_BITMAP_OPTIONS)3;  // target, cannot draw
    if (FAILED(devices.context->CreateBitmapFromDxgiSurface(surface, &p, &r->bitmap))) r->bitmap = nullptr;
    surface->Release();
}

bool create_swapchain(HWND hwnd, RenderRecord* r) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    DXGI_SWAP_CHAIN_DESC1 d{};
    d.Width = (UINT)(rc.right - rc.left);
    d.Height = (UINT)(rc.bottom - rc.top);
    d.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    d.SampleDesc = {1, 0};
    d.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    d.BufferCount = 1;
    d.Scaling = DXGI_SCALING_STRETCH;
    d.SwapEffect = DXGI_SWAP_EFFECT_SEQUENTIAL;
    d.AlphaMode = DXGI_ALPHA_MODE_UNSPECIFIED;
    r->swap_flags = 0;
    IDXGISwapChain1* chain = nullptr;
    if (FAILED(devices.dxgi_factory->CreateSwapChainForHwnd(devices.d3d_device, hwnd, &d, nullptr, nullptr,
                                                             &chain))) {
        // Raised on the GUI thread's own terms: a window procedure parks it
        // and the pump raises it once the message is handled.
        stack::TopMark mark;
        cell* face = stack::push_cell();
        if (cell* f = get_face_obj(hwnd)) *face = *f;
        else series::make_none(face);
        error::raise(error::ACCESS, "no-create", face);
    }
    bind_swapchain_target(r, chain);
    return true;
}

RenderRecord* get_render_record(HWND hwnd) {
    if (auto* r = (RenderRecord*)GetWindowLongPtrW(hwnd, SLOT_RENDER)) return r;
    if (!devices.context || !devices.dxgi_factory) return nullptr;
    auto* r = (RenderRecord*)calloc(1, sizeof(RenderRecord));
    try {
        create_swapchain(hwnd, r);
    } catch (...) {
        free(r);
        throw;
    }
    r->brushes = new SmallMap();
    SetWindowLongPtrW(hwnd, SLOT_RENDER, (LONG_PTR)r);
    return r;
}

void resize_swapchain(RenderRecord* r, int32_t width, int32_t height) {
    release(r->bitmap);
    release(r->read_back);
    if (!r->swap_chain) {
        r->bitmap = create_target_bitmap(r->target, (UINT)width, (UINT)height, 9);
        return;
    }
    if (FAILED(r->swap_chain->ResizeBuffers(0, (UINT)width, (UINT)height, DXGI_FORMAT_B8G8R8A8_UNORM,
                                            r->swap_flags))) {
        say("resizing failed");
        return;
    }
    bind_swapchain_target(r, r->swap_chain);
}

HDC read_back_layered(HWND hwnd) {
    auto* r = devices.d3d_device ? (RenderRecord*)GetWindowLongPtrW(hwnd, SLOT_RENDER) : nullptr;
    RECT rc;
    GetClientRect(hwnd, &rc);
    int32_t w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (!r || !r->swap_chain || w < 1 || h < 1) return nullptr;
    if (!r->read_back || r->width != w || r->height != h) {
        release(r->read_back);
        if (r->memory_dc) DeleteDC(r->memory_dc);
        if (r->dib) DeleteObject(r->dib);
        r->memory_dc = nullptr;
        r->dib = nullptr;
        D3D11_TEXTURE2D_DESC t{};
        t.Width = (UINT)w;
        t.Height = (UINT)h;
        t.MipLevels = t.ArraySize = 1;
        t.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        t.SampleDesc = {1, 0};
        t.Usage = D3D11_USAGE_STAGING;
        t.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        if (FAILED(devices.d3d_device->CreateTexture2D(&t, nullptr, &r->read_back))) return nullptr;
        r->memory_dc = CreateCompatibleDC(nullptr);
        BITMAPINFO bi{};
        bi.bmiHeader = {40, w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        r->dib = CreateDIBSection(r->memory_dc, &bi, DIB_RGB_COLORS, &r->pixels, nullptr, 0);
        if (!r->dib) {
            release(r->read_back);
            DeleteDC(r->memory_dc);
            r->memory_dc = nullptr;
            r->pixels = nullptr;
            return nullptr;
        }
        SelectObject(r->memory_dc, r->dib);
        r->width = w;
        r->height = h;
    }
    ID3D11Resource* buffer = nullptr;
    if (FAILED(r->swap_chain->GetBuffer(0, __uuidof(ID3D11Resource), (void**)&buffer))) return nullptr;
    devices.d3d_context->CopyResource(r->read_back, buffer);
    buffer->Release();
    D3D11_MAPPED_SUBRESOURCE mapped;
    if (FAILED(devices.d3d_context->Map(r->read_back, 0, D3D11_MAP_READ, 0, &mapped))) return nullptr;
    for (int32_t y = 0; y < h; y++)
        memcpy((uint8_t*)r->pixels + (size_t)y * w * 4, (const uint8_t*)mapped.pData + (size_t)y * mapped.RowPitch,
               (size_t)w * 4);
    devices.d3d_context->Unmap(r->read_back, 0);
    return r->memory_dc;
}

void free_render_record(RenderRecord* r) {
    if (!r) return;
    if (r->brushes) {
        for (int32_t i = 0; i < r->brushes->count; i++) ((IUnknown*)r->brushes->pairs[i].value)->Release();
        delete r->brushes;
    }
    release(r->bitmap);
    release(r->swap_chain);
    release(r->read_back);
    if (r->memory_dc) DeleteDC(r->memory_dc);
    if (r->dib) DeleteObject(r->dib);
    free(r);
}

// --- text -----------------------------------------------------------------------------

namespace {
// The cached format of a font (the second value of its state block), or null.
cell* format_cell(const cell* font) {
    cell* st = object::values(font) + FONT_STATE;
    if (st->type() != TYPE_BLOCK || block::length_of(st) < 2) return nullptr;
    return block::head_cell(st) + 1;
}
}  // namespace

IDWriteTextFormat* create_text_format(const cell* font_in) {
    if (!devices.dwrite_factory) return nullptr;
    stack::TopMark mark;
    bool is_font = font_in && font_in->type() == TYPE_OBJECT;
    cell* font = is_font ? stack::push(font_in) : nullptr;
    if (is_font) {
        if (cell* c = format_cell(font); c && c->type() == TYPE_HANDLE)
            return (IDWriteTextFormat*)(uintptr_t)c->data2;
        // The format is cached beside the GDI font: make that (and the
        // state block) first.
        if (!font_handle(font, 0)) make_font(nullptr, font, true);
    }
    cell none{TYPE_NONE, 0, 0, 0};
    cell* v = is_font ? object::values(font) : nullptr;
    cell name = is_font ? v[FONT_NAME] : none;
    TextFormatParams p = is_font ? text_format_params(&name, &v[FONT_SIZE], &v[FONT_STYLE], &v[FONT_WEIGHT],
                                                      state.font_size)
                                 : text_format_params(&none, &none, &none, &none, state.font_size);
    wchar_t family[FONT_NAME_MAX + 1] = {0};
    if (p.name_chars >= 0) {
        // The name's first characters as UTF-16 (read before any allocation).
        for (int32_t i = 0; i < p.name_chars; i++) {
            int32_t c = string::char_at(&name, (uint32_t)(name.data1 + i));
            family[i] = (wchar_t)(c > 0xFFFF ? 0xFFFD : c);
        }
    } else if (state.font_name) {
        wcsncpy(family, state.font_name, FONT_NAME_MAX);
    }
    IDWriteTextFormat* format = nullptr;
    if (FAILED(devices.dwrite_factory->CreateTextFormat(
            family, nullptr, (DWRITE_FONT_WEIGHT)p.weight,
            p.italic ? DWRITE_FONT_STYLE_ITALIC : DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL, p.size,
            devices.locale ? devices.locale : L"", &format)))
        return nullptr;
    if (is_font && format_cell(font)) {
        // The handle table owns it from here: the collector releases it
        // with the state block.
        int32_t entry = externals::store(format, (uint32_t)state.com_handle_type);
        cell* c = format_cell(font);  // the store may allocate
        handle::make_in(c, (uint32_t)(uintptr_t)format, handle::FONT);
        c->data3 = (uint32_t)entry;
    }
    return format;
}

void set_para_format(IDWriteTextFormat* f, uint32_t flags) {
    f->SetTextAlignment(flags & 1   ? DWRITE_TEXT_ALIGNMENT_CENTER
                        : flags & 2 ? DWRITE_TEXT_ALIGNMENT_TRAILING
                                    : DWRITE_TEXT_ALIGNMENT_LEADING);
    f->SetParagraphAlignment(flags & 4   ? DWRITE_PARAGRAPH_ALIGNMENT_CENTER
                             : flags & 8 ? DWRITE_PARAGRAPH_ALIGNMENT_FAR
                                         : DWRITE_PARAGRAPH_ALIGNMENT_NEAR);
    f->SetWordWrapping(flags & 0x10 ? DWRITE_WORD_WRAPPING_WRAP : DWRITE_WORD_WRAPPING_NO_WRAP);
}

static bool number_of(const cell* v, float* out) {
    if (v->type() == TYPE_INTEGER) *out = (float)(int32_t)v->data2;
    else if (v->type() == TYPE_FLOAT) *out = (float)cell::get_float(v);
    else return false;
    return true;
}

void set_tab_stop(IDWriteTextFormat* f, const cell* width) {
    float w;
    if (number_of(width, &w)) f->SetIncrementalTabStop(w);
}

void set_line_spacing(IDWriteTextFormat* f, const cell* height) {
    float h = 0;
    bool given = number_of(height, &h);
    if (!given && height->type() != TYPE_NONE) return;
    IDWriteTextLayout* layout = create_text_layout(L"I", 1, f, 0, 0);
    if (!layout) return;
    DWRITE_LINE_METRICS m;
    UINT32 n = 0;
    if (SUCCEEDED(layout->GetLineMetrics(&m, 1, &n)) && n > 0) {
        float line = given && h > m.height ? h : m.height;
        f->SetLineSpacing(DWRITE_LINE_SPACING_METHOD_UNIFORM, line, m.baseline);
    }
    layout->Release();
}

IDWriteTextLayout* create_text_layout(const wchar_t* text, UINT32 length, IDWriteTextFormat* f, double width,
                                      double height) {
    if (!devices.dwrite_factory || !f) return nullptr;
    IDWriteTextLayout* layout = nullptr;
    if (FAILED(devices.dwrite_factory->CreateTextLayout(text ? text : L"", text ? length : 0, f,
                                                        layout_extent(width), layout_extent(height), &layout)))
        return nullptr;
    return layout;
}

const uint16_t* text_utf16(const cell* text, int32_t* length, bool crlf) {
    if (text->type() != TYPE_STRING) return nullptr;
    // A copy borrows the scratch buffer, so the string itself never keeps it.
    cell copy = *text;
    if (!copy.data3 && scratch) copy.data3 = (uint32_t)(uintptr_t)scratch;
    *length = -1;
    return unicode::to_utf16_part(&copy, length, crlf);
}

IDWriteTextLayout* create_text_layout(const cell* text, IDWriteTextFormat* f, double width, double height) {
    int32_t n = 0;
    const uint16_t* units = text_utf16(text, &n, false);
    return create_text_layout((const wchar_t*)units, units ? (UINT32)n : 0, f, width, height);
}

}  // namespace gui
