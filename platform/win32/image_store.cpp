// The Windows image store: bitmaps, decoders, converters and encoders of
// the Windows Imaging Component, and the bridges to GDI and GDI+.
//
// Main bitmaps are bitmap sources (a decoder frame behind a format
// converter, or a converter over the pixel copy); pixel copies are
// IWICBitmap objects in straight 32-bit BGRA. Every object here is an
// IUnknown: `release_object` drops one reference. Nothing in this file
// allocates in the series heap, so callers may hold records across it.
#include <windows.h>
#include <objbase.h>
#include <rpc.h>
#include <wincodec.h>

#include <cstring>

#include "platform/image_backend.h"
#include "platform/platform.h"

// The two GDI+ calls of the bridge (the flat API, as the library exports it).
extern "C" int WINAPI GdipCreateBitmapFromScan0(INT width, INT height, INT stride, INT format, BYTE* scan0,
                                                void** bitmap);
extern "C" int WINAPI GdipDisposeImage(void* image);

namespace image_backend {

namespace {

constexpr INT PIXEL_FORMAT_32BPP_ARGB = 0x26200A;

IWICImagingFactory* factory = nullptr;

// The pixel formats and containers, parsed from their text forms at start-up:
// straight BGRA, premultiplied BGRA, then the containers by format number
// order of the table (BMP, PNG, JPEG, TIFF, GIF).
enum { BGRA, PBGRA, C_BMP, C_PNG, C_JPEG, C_TIFF, C_GIF, GUID_COUNT };
GUID guids[GUID_COUNT];
const char* const GUID_TEXT[GUID_COUNT] = {
    "6FDDC324-4E03-4BFE-B185-3D77768DC90F", "6FDDC324-4E03-4BFE-B185-3D77768DC910",
    "0AF1D87E-FCFE-4188-BDEB-A7906471CBE3", "1B7CFAF4-713F-473C-BBCD-6137425FAEAF",
    "19E4A5AA-5662-4FC5-A0C0-1758028E1057", "163BCC30-E2E9-4F0B-961D-A3E9FDB788A3",
    "1F8A5601-7D4D-4CBD-9C82-1BC8D4EEB9A5",
};

GUID parse(const char* text) {
    GUID g{};
    UuidFromStringA((RPC_CSTR)text, &g);
    return g;
}

// A converter over a source to straight or premultiplied BGRA; null when
// refused.
IWICBitmapSource* convert(IWICBitmapSource* source, bool premultiplied) {
    IWICFormatConverter* c = nullptr;
    if (FAILED(factory->CreateFormatConverter(&c))) return nullptr;
    if (FAILED(c->Initialize(source, guids[premultiplied ? PBGRA : BGRA], WICBitmapDitherTypeNone, nullptr, 0.0,
                             WICBitmapPaletteTypeCustom))) {
        c->Release();
        return nullptr;
    }
    return c;
}

// Frame 0 of a decoder behind a straight converter; the decoder is released.
IWICBitmapSource* from_decoder(IWICBitmapDecoder* decoder, uint32_t* w, uint32_t* h) {
    UINT frames = 0;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICBitmapSource* main = nullptr;
    UINT fw = 0, fh = 0;
    if (SUCCEEDED(decoder->GetFrameCount(&frames)) && frames > 0 && SUCCEEDED(decoder->GetFrame(0, &frame)) &&
        SUCCEEDED(frame->GetSize(&fw, &fh)))
        main = convert(frame, false);
    if (frame) frame->Release();
    decoder->Release();
    *w = fw;
    *h = fh;
    return main;
}

}  // namespace

namespace store {

void init() {
    for (int i = 0; i < GUID_COUNT; i++) guids[i] = parse(GUID_TEXT[i]);
    GUID clsid = parse("CACAF262-9370-4615-A13B-9F5539DA4C0A");
    GUID iid = parse("EC5EC8A9-C395-4314-9C77-54D7A935FF70");
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, (void**)&factory))) factory = nullptr;
}

void* new_bitmap(uint32_t w, uint32_t h) {
    IWICBitmap* b = nullptr;
    if (!factory || FAILED(factory->CreateBitmap(w, h, guids[BGRA], WICBitmapCacheOnLoad, &b))) return nullptr;
    return b;
}

bool lock(void* bitmap, bool write, uint32_t** pixels, uint32_t* stride_words, void** token) {
    auto* b = (IWICBitmap*)bitmap;
    UINT w = 0, h = 0;
    if (!b || FAILED(b->GetSize(&w, &h))) return false;
    WICRect all{0, 0, (INT)w, (INT)h};
    IWICBitmapLock* l = nullptr;
    if (FAILED(b->Lock(&all, write ? WICBitmapLockWrite | WICBitmapLockRead : WICBitmapLockRead, &l))) return false;
    UINT size = 0, stride = 0;
    BYTE* data = nullptr;
    if (FAILED(l->GetDataPointer(&size, &data)) || FAILED(l->GetStride(&stride)) || stride % 4) {
        l->Release();
        return false;
    }
    *pixels = (uint32_t*)data;
    *stride_words = stride / 4;
    *token = l;
    return true;
}

void unlock(void* token) {
    if (token) ((IWICBitmapLock*)token)->Release();
}

bool materialise_copy(Node* image) {
    Record* r = record_of(image);
    if (!r->main || !factory) return false;
    IWICBitmapSource* straight = convert((IWICBitmapSource*)r->main, false);
    if (!straight) return false;
    IWICBitmap* copy = nullptr;
    HRESULT hr = factory->CreateBitmapFromSource(straight, WICBitmapCacheOnLoad, &copy);
    straight->Release();
    if (FAILED(hr)) return false;
    release_object(r->copy);
    r->copy = copy;
    return true;
}

void release_object(void* object) {
    if (object) ((IUnknown*)object)->Release();
}

void* decode(const uint8_t* bytes, uint32_t length, uint32_t* w, uint32_t* h) {
    if (!factory) return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, length ? length : 1);
    if (!block) return nullptr;
    void* p = GlobalLock(block);
    memcpy(p, bytes, length);
    GlobalUnlock(block);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream))) {
        GlobalFree(block);
        return nullptr;
    }
    // The decoders see the bytes through a stream bounded to them: a marker
    // length past the end makes a decoder seek there, and Wine's HGLOBAL
    // stream then reads beyond its block instead of reading nothing.
    IWICStream* bounded = nullptr;
    HRESULT hr = factory->CreateStream(&bounded);
    if (SUCCEEDED(hr)) {
        ULARGE_INTEGER offset{}, size{};
        size.QuadPart = length;
        hr = bounded->InitializeFromIStreamRegion(stream, offset, size);
        if (FAILED(hr)) bounded->Release();
    }
    stream->Release();  // the bounded stream keeps its own reference
    if (FAILED(hr)) return nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    hr = factory->CreateDecoderFromStream(bounded, nullptr, WICDecodeMetadataCacheOnDemand, &decoder);
    bounded->Release();  // the decoder keeps its own reference
    if (FAILED(hr)) return nullptr;
    return from_decoder(decoder, w, h);
}

bool encode(Node* image, int32_t format, std::string& out) {
    static const int CONTAINER[] = {C_BMP, C_PNG, C_GIF, C_JPEG, C_TIFF};
    IWICBitmapSource* source = (IWICBitmapSource*)get_wic_bitmap(image, false);
    if (!source) return false;
    UINT w = 0, h = 0;
    source->GetSize(&w, &h);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return false;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    bool ok = SUCCEEDED(factory->CreateEncoder(guids[CONTAINER[format]], nullptr, &encoder)) &&
              SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
              SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
              SUCCEEDED(frame->SetSize(w, h));
    if (ok) {
        // The frame settles on a format its container writes; the source is
        // converted to it when it differs.
        WICPixelFormatGUID wanted = guids[BGRA];
        ok = SUCCEEDED(frame->SetPixelFormat(&wanted));
        IWICBitmapSource* written = source;
        written->AddRef();
        if (ok && !IsEqualGUID(wanted, guids[BGRA])) {
            IWICBitmapSource* converted = nullptr;
            ok = SUCCEEDED(WICConvertBitmapSource(wanted, source, &converted));
            written->Release();
            written = ok ? converted : nullptr;
        }
        ok = ok && SUCCEEDED(frame->WriteSource(written, nullptr)) && SUCCEEDED(frame->Commit()) &&
             SUCCEEDED(encoder->Commit());
        if (written) written->Release();
    }
    if (frame) frame->Release();
    if (encoder) encoder->Release();
    if (ok) {
        STATSTG st{};
        HGLOBAL block = nullptr;
        ok = SUCCEEDED(stream->Stat(&st, STATFLAG_NONAME)) && SUCCEEDED(GetHGlobalFromStream(stream, &block));
        if (ok) {
            const char* p = (const char*)GlobalLock(block);
            out.assign(p, (size_t)st.cbSize.QuadPart);
            GlobalUnlock(block);
        }
    }
    stream->Release();
    return ok;
}

}  // namespace store

// --- The main bitmap in the form drawing or encoding asks for -------------------------------

void* get_wic_bitmap(Node* image, bool premultiplied) {
    if (!image || !factory) return nullptr;
    Record* r = record_of(image);
    bool form = (r->flags & PREMULTIPLIED) != 0;
    if (r->main && !(r->flags & COPY_WRITTEN) && form == premultiplied) return r->main;
    IWICBitmapSource* from = (IWICBitmapSource*)(r->copy ? r->copy : r->main);
    if (!from) return nullptr;
    IWICBitmapSource* made = convert(from, premultiplied);
    if (!made) return nullptr;
    store::release_object(r->main);
    store::release_object(r->device);
    r->main = made;
    r->device = nullptr;
    r->flags = (r->flags & ~(COPY_WRITTEN | MEMORY_MAIN | PREMULTIPLIED)) | (premultiplied ? PREMULTIPLIED : 0);
    return made;
}

// --- The bridges to GDI and GDI+ ---------------------------------------------------------------

void* to_hbitmap(Node* image) {
    PixelLock lock(image, false);
    std::string rows((size_t)lock.width * lock.height * 4, '\0');
    for (uint32_t y = 0; y < lock.height; y++)
        memcpy(&rows[(size_t)y * lock.width * 4], lock.pixels + (size_t)y * lock.stride_words, (size_t)lock.width * 4);
    return CreateBitmap((int)lock.width, (int)lock.height, 1, 32, rows.data());
}

Node* from_hbitmap(void* hbitmap, int32_t alpha_option) {
    IWICBitmap* b = nullptr;
    if (!factory ||
        FAILED(factory->CreateBitmapFromHBITMAP((HBITMAP)hbitmap, nullptr, (WICBitmapAlphaChannelOption)alpha_option, &b)))
        return nullptr;
    UINT w = 0, h = 0;
    b->GetSize(&w, &h);
    IWICBitmapSource* main = convert(b, false);
    b->Release();
    if (!main) return nullptr;
    if (w == 0 || h == 0 || !size_fits(w, h)) {
        main->Release();
        return nullptr;
    }
    return make_node(main, nullptr, 0, w, h);
}

void* to_gdiplus_bitmap(Node* image, void** lock_out) {
    if (!platform::gdiplus_startup()) return nullptr;
    get_wic_bitmap(image, false);
    record_of(image)->flags |= DRAWN;
    auto* lock = new PixelLock(image, false);
    void* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0((INT)lock->width, (INT)lock->height, (INT)(lock->stride_words * 4),
                                  PIXEL_FORMAT_32BPP_ARGB, (BYTE*)lock->pixels, &bitmap) != 0) {
        delete lock;
        return nullptr;
    }
    *lock_out = lock;
    return bitmap;
}

void release_gdiplus_bitmap(void* bitmap, void* lock) {
    if (bitmap) GdipDisposeImage(bitmap);
    delete (PixelLock*)lock;
}

// --- The GUI's device-bitmap cache ------------------------------------------------------------

void* get_device_bitmap(Node* image) {
    Record* r = record_of(image);
    r->flags |= HELD_BY_GUI;
    if (r->device) ((IUnknown*)r->device)->AddRef();
    return r->device;
}

void set_device_bitmap(Node* image, void* bitmap) {
    Record* r = record_of(image);
    if (bitmap) ((IUnknown*)bitmap)->AddRef();
    store::release_object(r->device);
    r->device = bitmap;
}

void drop_device_bitmap(Node* image) {
    Record* r = record_of(image);
    store::release_object(r->device);
    r->device = nullptr;
}

void mark_drawn(Node* image) {
    record_of(image)->flags |= DRAWN;
    drop_device_bitmap(image);
}

}  // namespace image_backend
