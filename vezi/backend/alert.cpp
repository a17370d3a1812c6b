// The GUI alert box used by fatal runtime errors.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace gui {

static wchar_t* to_wide(const char* s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    wchar_t* w = (wchar_t*)calloc(n > 0 ? n : 1, sizeof(wchar_t));
    if (w && n > 0) MultiByteToWideChar(CP_UTF8, 0, s, -1, w, n);
    return w;
}

void alert(const char* caption, const char* text) {
    if (const char* log = getenv("ZOL_ALERT_LOG")) {
        if (FILE* f = fopen(log, "ab")) {
            fprintf(f, "%s\n%s\n", caption, text);
            fclose(f);
            return;
        }
    }
    wchar_t* c = to_wide(caption);
    wchar_t* t = to_wide(text);
    MessageBoxW(nullptr, t ? t : L"", c ? c : L"", MB_ICONERROR | MB_TASKMODAL);
    free(c);
    free(t);
}

}  // namespace gui
