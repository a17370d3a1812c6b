// The graphics devices: the Direct2D and DirectWrite factories, the
// Direct3D 11 device with the shared Direct2D device context, the render
// record of each window that draws, and text formats and layouts.
//
// Device objects may be missing (no hardware and no WARP device, or no
// DirectWrite): every operation then does nothing and answers null, so
// drawing becomes a no-op rather than a crash.
#pragma once
#include <windows.h>
#include <d2d1_1.h>
#include <d3d11.h>
#include <dwrite_1.h>
#include <dxgi1_2.h>

#include "datatypes/cell.h"
#include "vezi/backend/core/small_map.h"

namespace gui {

struct Devices {
    ID2D1Factory1* d2d_factory = nullptr;
    IDWriteFactory1* dwrite_factory = nullptr;
    wchar_t* locale = nullptr;  // 85 units
    ID3D11Device* d3d_device = nullptr;
    ID3D11DeviceContext* d3d_context = nullptr;
    ID2D1DeviceContext* context = nullptr;
    IDXGIFactory2* dxgi_factory = nullptr;
    bool no_d2d = false;  // DirectWrite missing: GDI paths
    bool gpu = true;      // hardware first (system/vezi/GPU?)
};
extern Devices devices;

struct RenderRecord {
    ID2D1DeviceContext* target;
    SmallMap* brushes;  // colour -> solid brush
    int32_t brush_count;
    void* backdrop;  // vector! of ranges, made on first use
    ID2D1Bitmap1* bitmap;
    IDXGISwapChain1* swap_chain;
    UINT swap_flags;
    ID3D11Texture2D* read_back;
    HDC memory_dc;
    HBITMAP dib;
    void* pixels;
    int32_t width, height;
};

void dx_init();
void dx_create_dev();
void release_devices();
void release_factories();
// The window's render record, made on first use; null without a device.
RenderRecord* get_render_record(HWND hwnd);
bool create_swapchain(HWND hwnd, RenderRecord* r);
void bind_swapchain_target(RenderRecord* r, IDXGISwapChain1* chain);
void resize_swapchain(RenderRecord* r, int32_t width, int32_t height);
ID2D1Bitmap1* create_target_bitmap(ID2D1DeviceContext* dc, UINT width, UINT height, UINT options);
HDC read_back_layered(HWND hwnd);
void free_render_record(RenderRecord* r);

// A text format for a font! object (cached in its `state` block), or the
// default one (the caller releases it) when `font` is not an object.
IDWriteTextFormat* create_text_format(const cell* font);
// Alignment, paragraph alignment and wrapping from para flags (base-face bits).
void set_para_format(IDWriteTextFormat* format, uint32_t flags);
void set_tab_stop(IDWriteTextFormat* format, const cell* width);
void set_line_spacing(IDWriteTextFormat* format, const cell* height);
IDWriteTextLayout* create_text_layout(const wchar_t* text, UINT32 length, IDWriteTextFormat* format,
                                      double width, double height);
// The same for a Zol value: a string! as its UTF-16, anything else as an
// empty text.
IDWriteTextLayout* create_text_layout(const cell* text, IDWriteTextFormat* format, double width, double height);
// A string's UTF-16 (CR LF line breaks under `crlf`), converted in the
// backend's scratch buffer unless the string has a conversion buffer of its
// own; valid until the next allocation. Null for other values or a code
// point past U+10FFFF. *length becomes the units written.
const uint16_t* text_utf16(const cell* text, int32_t* length, bool crlf);

}  // namespace gui
