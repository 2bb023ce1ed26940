#pragma once

// The control points of a cubic spline through given points: splines that a DWG file stores by
// their fit points only, and leaders drawn as splines.

#include "drawing/Model.h"

namespace drawing {

// How the fit points are spaced in the spline's parameter: by their distances, the square roots
// of their distances, or evenly (the knot parameter of R2013 and later files).
enum class CFitSpacing { Chord, SquareRoot, Uniform };

// Gives `spline` (degree 3, not closed, two or more fit points) the knots and control points of
// the cubic through its fit points, as CAD makes them: the knots are the fit points' parameter
// values (cumulative chord lengths for Chord), and the ends follow the tangent directions
// given, or have no curvature where a tangent is zero. The fit points stay. False, leaving the
// spline as it was, when it is not such a spline or the points do not make one (repeated
// points, values that are not finite).
bool InterpolateFitPoints(Spline& spline, const Vec3& startTangent, const Vec3& endTangent,
                          CFitSpacing spacing = CFitSpacing::Chord);

}  // namespace drawing
