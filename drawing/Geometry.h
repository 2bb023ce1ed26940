#pragma once

// Affine maps between the coordinate systems of a drawing and the page: object coordinates
// (OCS) of 2D entities, world coordinates, block definitions placed by inserts, the view, and
// page points. Every map keeps z so that maps compose; the page uses x and y.

#include <algorithm>
#include <cmath>

#include "drawing/Model.h"

namespace drawing {

inline Vec3 operator+(Vec3 a, Vec3 b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(Vec3 a, Vec3 b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(Vec3 a, double s) {
  return {a.x * s, a.y * s, a.z * s};
}
inline double Dot(Vec3 a, Vec3 b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 Cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double Length(Vec3 a) {
  return std::sqrt(Dot(a, a));
}
inline Vec3 Normalized(Vec3 a) {
  const double length = Length(a);
  return length > 0 ? a * (1.0 / length) : Vec3{0, 0, 1};
}

// x' = m[0] x + m[1] y + m[2] z + m[3], and so on for y' and z'.
struct Affine3 {
  double m[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};

  Vec3 Apply(Vec3 p) const {
    return {m[0][0] * p.x + m[0][1] * p.y + m[0][2] * p.z + m[0][3],
            m[1][0] * p.x + m[1][1] * p.y + m[1][2] * p.z + m[1][3],
            m[2][0] * p.x + m[2][1] * p.y + m[2][2] * p.z + m[2][3]};
  }
  // The direction part only (no translation).
  Vec3 ApplyVector(Vec3 v) const {
    return {m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z,
            m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
            m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z};
  }
  // This map after other: (this ∘ other)(p) = this(other(p)).
  Affine3 operator*(const Affine3& other) const {
    Affine3 r;
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 4; ++j) {
        r.m[i][j] = m[i][0] * other.m[0][j] + m[i][1] * other.m[1][j] + m[i][2] * other.m[2][j] +
                    (j == 3 ? m[i][3] : 0.0);
      }
    }
    return r;
  }

  static Affine3 Translate(Vec3 t) {
    Affine3 a;
    a.m[0][3] = t.x;
    a.m[1][3] = t.y;
    a.m[2][3] = t.z;
    return a;
  }
  static Affine3 Scale(double sx, double sy, double sz) {
    Affine3 a;
    a.m[0][0] = sx;
    a.m[1][1] = sy;
    a.m[2][2] = sz;
    return a;
  }
  // A turn about the z axis, counter-clockwise, radians.
  static Affine3 RotateZ(double angle) {
    Affine3 a;
    const double c = std::cos(angle), s = std::sin(angle);
    a.m[0][0] = c;
    a.m[0][1] = -s;
    a.m[1][0] = s;
    a.m[1][1] = c;
    return a;
  }
  // Columns x, y, z as the images of the unit axes.
  static Affine3 FromAxes(Vec3 x, Vec3 y, Vec3 z) {
    Affine3 a;
    const Vec3 axes[3] = {x, y, z};
    for (int j = 0; j < 3; ++j) {
      a.m[0][j] = axes[j].x;
      a.m[1][j] = axes[j].y;
      a.m[2][j] = axes[j].z;
    }
    return a;
  }

  // The 2D part seen on the page (x and y from x and y).
  double A() const { return m[0][0]; }
  double B() const { return m[1][0]; }
  double C() const { return m[0][1]; }
  double D() const { return m[1][1]; }
  double Determinant2d() const { return A() * D() - B() * C(); }
  // The mean length a unit of the source takes on the page.
  double ScaleFactor() const { return std::sqrt(std::fabs(Determinant2d())); }
  // Whether x/y circles stay circles on the page: orthogonal columns of equal length.
  bool IsConformal2d() const {
    const double lx = std::hypot(A(), B()), ly = std::hypot(C(), D());
    if (lx == 0 || ly == 0) return false;
    return std::fabs(lx - ly) <= 1e-9 * std::max(lx, ly) &&
           std::fabs(A() * C() + B() * D()) <= 1e-9 * lx * ly;
  }
};

// The object coordinate system of an extrusion direction (the arbitrary axis rule): its x axis
// is world y × N when N is near the world z axis, world z × N otherwise.
inline Affine3 OcsToWorld(Vec3 extrusion) {
  const Vec3 n = Normalized(extrusion);
  if (std::fabs(n.x) < 1e-12 && std::fabs(n.y) < 1e-12 && n.z > 0) return Affine3{};
  const Vec3 ax = (std::fabs(n.x) < 1.0 / 64 && std::fabs(n.y) < 1.0 / 64)
                      ? Normalized(Cross({0, 1, 0}, n))
                      : Normalized(Cross({0, 0, 1}, n));
  const Vec3 ay = Normalized(Cross(n, ax));
  return Affine3::FromAxes(ax, ay, n);
}

// World coordinates to the coordinates of a view looking along -direction at target, turned by
// twist (radians): x and y on the view plane, z towards the viewer.
inline Affine3 WorldToView(Vec3 direction, Vec3 target, double twist) {
  const Affine3 toWorld = OcsToWorld(direction);
  // The transpose of the orthonormal OCS axes is their inverse.
  Affine3 inverse;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) inverse.m[i][j] = toWorld.m[j][i];
  }
  return Affine3::RotateZ(-twist) * inverse * Affine3::Translate(target * -1.0);
}

}  // namespace drawing
