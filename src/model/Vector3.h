#pragma once
// Points and directions of three components in the precision a computation
// needs (double, long double); TCoord stays the stored float point of atoms.
// Each operation spells its arithmetic out component by component, left to
// right, so an expression built from them rounds exactly as written.
#include <cmath>
#include <cstddef>
#include <type_traits>

#include "model/Geometry.h"

namespace cavitas {

template <class T>
struct TVector3 {
  T C[3];
  constexpr T& operator[](std::size_t i) { return C[i]; }
  constexpr const T& operator[](std::size_t i) const { return C[i]; }
  constexpr T* begin() { return C; }
  constexpr T* end() { return C + 3; }
  constexpr const T* begin() const { return C; }
  constexpr const T* end() const { return C + 3; }
  friend constexpr bool operator==(const TVector3&, const TVector3&) = default;
};

using TExtVector = TVector3<long double>;
using TDoubleVector = TVector3<double>;

template <class T>
constexpr TVector3<T> operator+(const TVector3<T>& a, const TVector3<T>& b) {
  return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
template <class T>
constexpr TVector3<T> operator-(const TVector3<T>& a, const TVector3<T>& b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
// The factor is converted to T first, then multiplies each component.
template <class T>
constexpr TVector3<T> operator*(const TVector3<T>& a, std::type_identity_t<T> f) {
  return {a[0] * f, a[1] * f, a[2] * f};
}
template <class T>
constexpr T Dot(const TVector3<T>& a, const TVector3<T>& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
template <class T>
constexpr T Norm2(const TVector3<T>& a) {
  return Dot(a, a);
}
template <class T>
T Norm(const TVector3<T>& a) {
  return std::sqrt(Dot(a, a));
}
template <class T>
constexpr TVector3<T> Cross(const TVector3<T>& a, const TVector3<T>& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// A stored point in the precision T (exact: every float is a double).
template <class T>
constexpr TVector3<T> VectorOf(const TCoord& c) {
  return {c.X, c.Y, c.Z};
}
// The same vector in another precision, component by component.
template <class U, class T>
constexpr TVector3<U> Converted(const TVector3<T>& v) {
  return {static_cast<U>(v[0]), static_cast<U>(v[1]), static_cast<U>(v[2])};
}
// Back to a stored point, each component rounded to float.
template <class T>
constexpr TCoord ToCoord(const TVector3<T>& v) {
  return {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
}
inline TExtVector ToExt(const TCoord& c) { return VectorOf<long double>(c); }

}  // namespace cavitas
