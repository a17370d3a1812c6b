// The HTTP exchange through the platform's HTTP request COM object: one
// object per exchange, one synchronous request, released at the end.
#include <windows.h>
#include <oleauto.h>

#include "platform/http.h"
#include "platform/win32/text.h"

namespace http {

namespace {

// The request object's interface, in its published method order (the
// toolchain declares only its dispatch ids).
struct IRequest : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE SetProxy(LONG setting, VARIANT server, VARIANT bypass) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCredentials(BSTR user, BSTR password, LONG flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Open(BSTR method, BSTR url, VARIANT async) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRequestHeader(BSTR header, BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResponseHeader(BSTR header, BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllResponseHeaders(BSTR* headers) = 0;
    virtual HRESULT STDMETHODCALLTYPE Send(VARIANT body) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Status(LONG* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StatusText(BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ResponseText(BSTR* body) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ResponseBody(VARIANT* body) = 0;
};

const CLSID no_clsid{};
// {06F29373-5C5A-4B54-B025-6EF1BF8ABF0E}
const IID request_iid = {0x06F29373, 0x5C5A, 0x4B54, {0xB0, 0x25, 0x6E, 0xF1, 0xBF, 0x8A, 0xBF, 0x0E}};

// A BSTR freed when its owner ends.
struct Bstr {
    BSTR b = nullptr;
    explicit Bstr(const std::string& utf8) : b(SysAllocString(platform::widen(utf8.c_str()).c_str())) {}
    Bstr() = default;
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(b); }
};

// A VARIANT cleared when its owner ends.
struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&v); }
};

// Why a call of the object failed, in words a user can act on.
std::string reason_of(HRESULT hr) {
    switch (HRESULT_CODE(hr)) {
    case 12002: return "the request timed out";
    case 12005: case 12006: return "invalid url";
    case 12007: return "host name not resolved";
    case 12029: return "connection refused";
    case 12030: return "connection lost";
    }
    char text[40];
    wsprintfA(text, "system error 0x%08lX", (unsigned long)hr);
    return text;
}

bool set_request_header(IRequest* request, const Header& h) {
    Bstr name(h.name), value(h.value);
    return SUCCEEDED(request->SetRequestHeader(name.b, value.b));
}

}  // namespace

bool perform(Exchange& ex) {
    Variant async, body;
    async.v.vt = VT_BOOL;
    async.v.boolVal = VARIANT_FALSE;
    body.v.vt = VT_ERROR;
    body.v.scode = DISP_E_PARAMNOTFOUND;
    if (ex.has_body) {
        SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, (ULONG)ex.body.size());
        if (!bytes) return false;
        void* data = nullptr;
        if (SUCCEEDED(SafeArrayAccessData(bytes, &data))) {
            if (!ex.body.empty()) memcpy(data, ex.body.data(), ex.body.size());
            SafeArrayUnaccessData(bytes);
        }
        body.v.vt = VT_ARRAY | VT_UI1;
        body.v.parray = bytes;  // destroyed with the variant
    }

    CLSID clsid = no_clsid;
    if (FAILED(CLSIDFromProgID(L"WinHttp.WinHttpRequest.5.1", &clsid))) {
        ex.failure = "no HTTP request object on this system";
        return false;
    }
    IRequest* request = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, request_iid, (void**)&request)) || !request) {
        ex.failure = "no HTTP request object on this system";
        return false;
    }
    struct Release {
        IRequest* r;
        ~Release() { r->Release(); }
    } release{request};

    Bstr method(ex.method), url(ex.url);
    HRESULT hr = request->Open(method.b, url.b, async.v);
    if (FAILED(hr)) {
        ex.failure = reason_of(hr);
        return false;
    }
    for (const Header& h : ex.headers) set_request_header(request, h);
    hr = request->Send(body.v);
    if (FAILED(hr)) {
        ex.failure = reason_of(hr);
        return false;
    }

    LONG status = 0;
    request->get_Status(&status);
    ex.status = (int32_t)status;
    Bstr headers;
    if (SUCCEEDED(request->GetAllResponseHeaders(&headers.b)) && headers.b)
        ex.response_headers = platform::narrow(headers.b, (int)SysStringLen(headers.b));

    Variant response;
    if (SUCCEEDED(request->get_ResponseBody(&response.v)) && response.v.vt == (VT_ARRAY | VT_UI1) &&
        SafeArrayGetDim(response.v.parray) == 1) {
        LONG low = 0, high = -1;
        SafeArrayGetLBound(response.v.parray, 1, &low);
        SafeArrayGetUBound(response.v.parray, 1, &high);
        void* data = nullptr;
        if (SUCCEEDED(SafeArrayAccessData(response.v.parray, &data))) {
            ex.response_body.assign((const char*)data, (size_t)(high - low + 1));
            SafeArrayUnaccessData(response.v.parray);
            ex.has_response_body = true;
        }
    }
    return true;
}

}  // namespace http
