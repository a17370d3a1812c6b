#include "vezi/backend/core/matrix.h"

#include <cmath>

namespace gui {

void matrix_identity(Matrix* m) { *m = {1, 0, 0, 1, 0, 0}; }

void matrix_multiply(const Matrix* a, const Matrix* b, Matrix* out, int flag) {
    if (flag) {
        const Matrix* t = a;
        a = b;
        b = t;
    }
    Matrix r{a->m11 * b->m11 + a->m12 * b->m21,        a->m11 * b->m12 + a->m12 * b->m22,
             a->m21 * b->m11 + a->m22 * b->m21,        a->m21 * b->m12 + a->m22 * b->m22,
             a->dx * b->m11 + a->dy * b->m21 + b->dx, a->dx * b->m12 + a->dy * b->m22 + b->dy};
    *out = r;
}

void matrix_translate(const Matrix* m, float x, float y, Matrix* out, int flag) {
    Matrix t{1, 0, 0, 1, x, y};
    matrix_multiply(m, &t, out, flag);
}

void matrix_scale(const Matrix* m, float sx, float sy, float cx, float cy, Matrix* out, int flag) {
    Matrix s{sx, 0, 0, sy, cx - sx * cx, cy - sy * cy};
    matrix_multiply(m, &s, out, flag);
}

static constexpr double PI = 3.14159265358979323846;

void matrix_rotate(const Matrix* m, float angle, float cx, float cy, Matrix* out, int flag) {
    double a = angle * PI / 180.0;
    float c = (float)cos(a), s = (float)sin(a);
    Matrix r{c, s, -s, c, cx - cx * c + cy * s, cy - cx * s - cy * c};
    matrix_multiply(m, &r, out, flag);
}

void matrix_skew(const Matrix* m, float ax, float ay, float cx, float cy, Matrix* out, int flag) {
    float tx = (float)tan(ax * PI / 180.0), ty = (float)tan(ay * PI / 180.0);
    Matrix k{1, ty, tx, 1, -cy * tx, -cx * ty};
    matrix_multiply(m, &k, out, flag);
}

bool matrix_invert(const Matrix* m, Matrix* out) {
    Matrix c = *m;
    *out = c;
    double det = (double)c.m11 * c.m22 - (double)c.m12 * c.m21;
    if (det == 0.0 || !std::isfinite(det)) return false;
    double i = 1.0 / det;
    out->m11 = (float)(c.m22 * i);
    out->m12 = (float)(-c.m12 * i);
    out->m21 = (float)(-c.m21 * i);
    out->m22 = (float)(c.m11 * i);
    out->dx = (float)(((double)c.m21 * c.dy - (double)c.m22 * c.dx) * i);
    out->dy = (float)(((double)c.m12 * c.dx - (double)c.m11 * c.dy) * i);
    return true;
}

void matrix_apply(const Matrix* m, float x, float y, float* ox, float* oy) {
    *ox = x * m->m11 + y * m->m21 + m->dx;
    *oy = x * m->m12 + y * m->m22 + m->dy;
}

void matrix4_identity(Matrix4* m) {
    for (int i = 0; i < 16; i++) m->m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
}

void matrix4_multiply(const Matrix4* a, const Matrix4* b, Matrix4* out) {
    Matrix4 r;
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) {
            float s = 0;
            for (int k = 0; k < 4; k++) s += a->m[i * 4 + k] * b->m[k * 4 + j];
            r.m[i * 4 + j] = s;
        }
    *out = r;
}

}  // namespace gui
