// Vectors of three doubles for the positions and velocities of the sky
// computation (AU, AU per day), and the few operations it needs. Pure and
// inline: no allocation, no state.
#ifndef ORBELM_VECTOR3_HPP
#define ORBELM_VECTOR3_HPP

#include <cmath>

namespace orbelm {

struct Vector3 {
  double x;
  double y;
  double z;
};

constexpr Vector3 operator+(const Vector3& a, const Vector3& b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
constexpr Vector3 operator-(const Vector3& a, const Vector3& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
constexpr Vector3 operator*(double s, const Vector3& a) {
  return {s * a.x, s * a.y, s * a.z};
}
constexpr double dot(const Vector3& a, const Vector3& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
constexpr Vector3 cross(const Vector3& a, const Vector3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double norm(const Vector3& a) { return std::sqrt(dot(a, a)); }

// The angle between a and b in radians, 0 to π, accurate at every angle
// (acos of the cosine loses half the digits near 0 and π).
// Example: (1,0,0) and (1,1,0) give π/4.
inline double angle_between(const Vector3& a, const Vector3& b) {
  return std::atan2(norm(cross(a, b)), dot(a, b));
}

}  // namespace orbelm

#endif
