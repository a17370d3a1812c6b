// The HTTP exchange through the platform's HTTP request COM object: one
// object per exchange, one synchronous request, released at the end. The
// object's methods are reached through its dispatch interface by the
// dispatch ids the toolchain declares, so nothing here depends on a method
// table layout of our own making.
#include <windows.h>
#include <httprequestid.h>
#include <oleauto.h>

#include <initializer_list>

#include "platform/http.h"
#include "platform/win32/text.h"

namespace http {

namespace {

const CLSID no_clsid{};
// The interface id the request object publishes for IWinHttpRequest:
// {016FE2EC-B2C8-45F8-B23B-39E53A75396B}.
const IID request_iid = {0x016FE2EC, 0xB2C8, 0x45F8, {0xB2, 0x3B, 0x39, 0xE5, 0x3A, 0x75, 0x39, 0x6B}};

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

// Calls a method (or reads a property) of the object; `args` in order.
HRESULT invoke(IDispatch* object, DISPID id, WORD kind, std::initializer_list<VARIANT> args, VARIANT* result) {
    VARIANT reversed[4];
    UINT n = 0;
    for (const VARIANT& a : args) reversed[args.size() - 1 - n++] = a;
    DISPPARAMS params{n ? reversed : nullptr, nullptr, n, 0};
    EXCEPINFO failure{};
    HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result, &failure, nullptr);
    if (hr == DISP_E_EXCEPTION) {
        // The object's own error (a WinHTTP code) travels in the exception.
        if (failure.pfnDeferredFillIn) failure.pfnDeferredFillIn(&failure);
        if (FAILED(failure.scode)) hr = failure.scode;
        SysFreeString(failure.bstrSource);
        SysFreeString(failure.bstrDescription);
        SysFreeString(failure.bstrHelpFile);
    }
    return hr;
}

VARIANT bstr_arg(const Bstr& b) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = b.b;
    return v;
}

bool set_request_header(IDispatch* request, const Header& h) {
    Bstr name(h.name), value(h.value);
    return SUCCEEDED(invoke(request, DISPID_HTTPREQUEST_SETREQUESTHEADER, DISPATCH_METHOD,
                            {bstr_arg(name), bstr_arg(value)}, nullptr));
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
    IDispatch* request = nullptr;
    if (FAILED(CLSIDFromProgID(L"WinHttp.WinHttpRequest.5.1", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, request_iid, (void**)&request)) || !request) {
        ex.failure = "no HTTP request object on this system";
        return false;
    }
    struct Release {
        IDispatch* r;
        ~Release() { r->Release(); }
    } release{request};

    Bstr method(ex.method), url(ex.url);
    HRESULT hr = invoke(request, DISPID_HTTPREQUEST_OPEN, DISPATCH_METHOD, {bstr_arg(method), bstr_arg(url), async.v},
                        nullptr);
    if (FAILED(hr)) {
        ex.failure = reason_of(hr);
        return false;
    }
    // The platform's usual time-outs, set so that every system applies them:
    // a server that never answers ends the exchange instead of the program.
    VARIANT resolve{}, connect{}, send{}, receive{};
    resolve.vt = connect.vt = send.vt = receive.vt = VT_I4;
    resolve.lVal = 0;  // name resolution: the system's own limit
    connect.lVal = 60000;
    send.lVal = receive.lVal = 30000;
    invoke(request, DISPID_HTTPREQUEST_SETTIMEOUTS, DISPATCH_METHOD, {resolve, connect, send, receive}, nullptr);
    for (const Header& h : ex.headers) set_request_header(request, h);
    hr = invoke(request, DISPID_HTTPREQUEST_SEND, DISPATCH_METHOD, {body.v}, nullptr);
    if (FAILED(hr)) {
        ex.failure = reason_of(hr);
        return false;
    }

    Variant status, headers, response;
    if (SUCCEEDED(invoke(request, DISPID_HTTPREQUEST_STATUS, DISPATCH_PROPERTYGET, {}, &status.v)) &&
        SUCCEEDED(VariantChangeType(&status.v, &status.v, 0, VT_I4)))
        ex.status = (int32_t)status.v.lVal;
    if (SUCCEEDED(invoke(request, DISPID_HTTPREQUEST_GETALLRESPONSEHEADERS, DISPATCH_METHOD, {}, &headers.v)) &&
        headers.v.vt == VT_BSTR && headers.v.bstrVal)
        ex.response_headers = platform::narrow(headers.v.bstrVal, (int)SysStringLen(headers.v.bstrVal));
    if (SUCCEEDED(invoke(request, DISPID_HTTPREQUEST_RESPONSEBODY, DISPATCH_PROPERTYGET, {}, &response.v)) &&
        response.v.vt == (VT_ARRAY | VT_UI1) &&
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
