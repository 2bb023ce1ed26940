#include "drawing/SplineFit.h"

#include <cmath>
#include <vector>

namespace drawing {

namespace {

Vec3 Add(const Vec3& a, const Vec3& b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec3 Sub(const Vec3& a, const Vec3& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec3 Scale(const Vec3& a, double s) {
  return {a.x * s, a.y * s, a.z * s};
}
double Length(const Vec3& a) {
  return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
}

// The three cubic basis functions that are not zero at a knot u = knots[span] inside the
// knot vector (the fourth starts there and is zero).
void BasisAtKnot(const std::vector<double>& knots, std::size_t span, double u, double out[3]) {
  // Cox–de Boor, degree by degree: value[j] is N(span - degree + j, degree) at u.
  double value[4] = {1.0, 0.0, 0.0, 0.0};
  double left[4] = {0, 0, 0, 0}, right[4] = {0, 0, 0, 0};
  for (int degree = 1; degree <= 3; ++degree) {
    left[degree] = u - knots[span + 1 - static_cast<std::size_t>(degree)];
    right[degree] = knots[span + static_cast<std::size_t>(degree)] - u;
    double saved = 0.0;
    for (int r = 0; r < degree; ++r) {
      const double denominator = right[r + 1] + left[degree - r];
      const double share = denominator != 0.0 ? value[r] / denominator : 0.0;
      value[r] = saved + right[r + 1] * share;
      saved = left[degree - r] * share;
    }
    value[degree] = saved;
  }
  out[0] = value[0];
  out[1] = value[1];
  out[2] = value[2];
}

}  // namespace

bool InterpolateFitPoints(Spline& spline, const Vec3& startTangent, const Vec3& endTangent,
                          CFitSpacing spacing) {
  const std::vector<Vec3>& fit = spline.fitPoints;
  if (spline.degree != 3 || spline.closed || spline.periodic || fit.size() < 2) return false;
  const std::size_t n = fit.size() - 1;  // the last fit point's index

  // Parameters of the fit points, which become the inner knots.
  std::vector<double> parameter(n + 1, 0.0);
  for (std::size_t k = 1; k <= n; ++k) {
    const double distance = Length(Sub(fit[k], fit[k - 1]));
    const double step = spacing == CFitSpacing::Chord        ? distance
                        : spacing == CFitSpacing::SquareRoot ? std::sqrt(distance)
                                                             : 1.0;
    if (!(distance > 0.0) || !std::isfinite(distance)) return false;
    parameter[k] = parameter[k - 1] + step;
  }
  const double end = parameter[n];
  std::vector<double> knots(4, 0.0);
  for (std::size_t k = 1; k < n; ++k) knots.push_back(parameter[k]);
  knots.insert(knots.end(), 4, end);

  // The control points P0 … P(n+2): P0 and P(n+2) are the end fit points; P1 … P(n+1) solve a
  // tridiagonal system of the start condition, one row per inner fit point, the end condition.
  const std::size_t unknowns = n + 1;
  std::vector<double> below(unknowns, 0.0), diagonal(unknowns, 0.0), above(unknowns, 0.0);
  std::vector<Vec3> rhs(unknowns);
  // A tangent of the file is a direction; as the derivative in the knots' parameter it has the
  // length of distance per parameter step at that end.
  const double startLength = Length(startTangent);
  const double first = knots[4];  // the first inner knot (the end for two fit points)
  if (startLength > 0.0) {
    const double speed = Length(Sub(fit[1], fit[0])) / parameter[1];
    diagonal[0] = 1.0;
    rhs[0] = Add(fit[0], Scale(startTangent, speed * first / (3.0 * startLength)));
  } else {  // no curvature at the start
    const double second = knots[5];
    diagonal[0] = -(1.0 / first + 1.0 / second);
    above[0] = 1.0 / second;
    rhs[0] = Scale(fit[0], -1.0 / first);
  }
  for (std::size_t k = 1; k < n; ++k) {
    double basis[3];
    BasisAtKnot(knots, k + 3, parameter[k], basis);
    below[k] = basis[0];
    diagonal[k] = basis[1];
    above[k] = basis[2];
    rhs[k] = fit[k];
  }
  const double endLength = Length(endTangent);
  const double last = end - knots[n + 2];  // from the last inner knot to the end
  if (endLength > 0.0) {
    const double speed = Length(Sub(fit[n], fit[n - 1])) / (parameter[n] - parameter[n - 1]);
    diagonal[n] = 1.0;
    rhs[n] = Sub(fit[n], Scale(endTangent, speed * last / (3.0 * endLength)));
  } else {  // no curvature at the end
    const double before = end - knots[n + 1];
    diagonal[n] = -(1.0 / last + 1.0 / before);
    below[n] = 1.0 / before;
    rhs[n] = Scale(fit[n], -1.0 / last);
  }

  // Thomas elimination; the rows are diagonally dominant enough for cubic interpolation.
  for (std::size_t i = 1; i < unknowns; ++i) {
    if (diagonal[i - 1] == 0.0) return false;
    const double factor = below[i] / diagonal[i - 1];
    diagonal[i] -= factor * above[i - 1];
    rhs[i] = Sub(rhs[i], Scale(rhs[i - 1], factor));
  }
  std::vector<Vec3> inner(unknowns);
  for (std::size_t i = unknowns; i-- > 0;) {
    if (diagonal[i] == 0.0) return false;
    const Vec3 known = i + 1 < unknowns ? Scale(inner[i + 1], above[i]) : Vec3{};
    inner[i] = Scale(Sub(rhs[i], known), 1.0 / diagonal[i]);
    if (!std::isfinite(inner[i].x) || !std::isfinite(inner[i].y) || !std::isfinite(inner[i].z)) {
      return false;
    }
  }
  spline.controlPoints.clear();
  spline.controlPoints.reserve(n + 3);
  spline.controlPoints.push_back(fit.front());
  spline.controlPoints.insert(spline.controlPoints.end(), inner.begin(), inner.end());
  spline.controlPoints.push_back(fit.back());
  spline.knots = std::move(knots);
  spline.weights.clear();
  spline.rational = false;
  return true;
}

}  // namespace drawing
