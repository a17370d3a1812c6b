// 3x2 and 4x4 matrices of the draw backend. A 3x2 matrix is m11, m12, m21,
// m22, dx, dy; points are row vectors (x' = x*m11 + y*m21 + dx). Every
// operation combines with the matrix it is given in the order of its flag:
// 0 = the given matrix first (the new operation applies after it), 1 = the
// new operation first. `out` may be the input matrix.
#pragma once

namespace gui {

struct Matrix {
    float m11, m12, m21, m22, dx, dy;
};
struct Matrix4 {
    float m[16];  // row-major
};

void matrix_identity(Matrix* m);
// out = a x b, or b x a when flag is set.
void matrix_multiply(const Matrix* a, const Matrix* b, Matrix* out, int flag);
void matrix_translate(const Matrix* m, float x, float y, Matrix* out, int flag);
// Scaling by (sx, sy) about (cx, cy).
void matrix_scale(const Matrix* m, float sx, float sy, float cx, float cy, Matrix* out, int flag);
// Rotation by an angle in degrees about (cx, cy).
void matrix_rotate(const Matrix* m, float angle, float cx, float cy, Matrix* out, int flag);
// Skew by angles in degrees about (cx, cy).
void matrix_skew(const Matrix* m, float ax, float ay, float cx, float cy, Matrix* out, int flag);
// out = m inverted; a matrix that cannot be inverted is copied unchanged.
// Returns whether it was inverted.
bool matrix_invert(const Matrix* m, Matrix* out);
// A point through the matrix.
void matrix_apply(const Matrix* m, float x, float y, float* ox, float* oy);

void matrix4_identity(Matrix4* m);
void matrix4_multiply(const Matrix4* a, const Matrix4* b, Matrix4* out);

}  // namespace gui
