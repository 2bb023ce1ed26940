#include "drawing/ShapeFile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace drawing {

namespace {

constexpr double kOctant = std::numbers::pi / 4;
constexpr double kChordAngle = std::numbers::pi / 24;  // 7.5°
constexpr int kMostDepth = 8;
constexpr int kMostSteps = 100'000;

// The sixteen directions of a vector byte's low nibble, counter-clockwise from east. The ones
// between the axes and the diagonals keep the longer side whole and halve the shorter one.
constexpr Vec2 kDirections[16] = {{1, 0},  {1, 0.5},  {1, 1},  {0.5, 1},   {0, 1},   {-0.5, 1},
                                  {-1, 1}, {-1, 0.5}, {-1, 0}, {-1, -0.5}, {-1, -1}, {-0.5, -1},
                                  {0, -1}, {0.5, -1}, {1, -1}, {1, -0.5}};

std::uint16_t Word(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                    static_cast<unsigned char>(bytes[at + 1]) << 8);
}

int Signed(unsigned char byte) {
  return byte < 128 ? byte : byte - 256;
}

}  // namespace

// The drawing state of a running program.
struct CShapeFile::Pen {
  Vec2 at;
  double scale = 1.0;
  bool down = true;
  std::vector<Vec2> stack;
  std::vector<std::vector<Vec2>> strokes;
  std::vector<Vec2> stroke;
  int steps = 0;

  void Lift() {
    if (stroke.size() >= 2) strokes.push_back(std::move(stroke));
    stroke.clear();
  }
  void MoveTo(Vec2 to) {
    if (down) {
      if (stroke.empty()) stroke.push_back(at);
      stroke.push_back(to);
    } else {
      Lift();
    }
    at = to;
  }
  // An arc from the pen around center, from angle start sweeping sweep (radians, negative
  // clockwise).
  void ArcFrom(Vec2 center, double radius, double start, double sweep) {
    const int n = std::max(1, static_cast<int>(std::ceil(std::fabs(sweep) / kChordAngle)));
    for (int i = 1; i <= n; ++i) {
      const double a = start + sweep * i / n;
      MoveTo({center.x + radius * std::cos(a), center.y + radius * std::sin(a)});
    }
  }
  // To the point (dx, dy) away along an arc of the given bulge (tan of a quarter of the
  // included angle, positive counter-clockwise; 0 a straight line).
  void BulgeTo(double dx, double dy, double bulge) {
    const Vec2 to{at.x + dx, at.y + dy};
    const double chord = std::hypot(dx, dy);
    if (bulge == 0 || chord == 0) {
      MoveTo(to);
      return;
    }
    const double angle = 4 * std::atan(bulge);
    const double radius = chord / (2 * std::sin(std::fabs(angle) / 2));
    // The centre lies on the chord's normal, to the left for counter-clockwise arcs.
    const double toCenter = radius * std::cos(angle / 2) * (bulge > 0 ? 1 : -1);
    const Vec2 middle{at.x + dx / 2, at.y + dy / 2};
    const Vec2 center{middle.x - dy / chord * toCenter, middle.y + dx / chord * toCenter};
    ArcFrom(center, radius, std::atan2(at.y - center.y, at.x - center.x), angle);
    at = to;  // exactly, whatever the rounding of the last chord
    if (!stroke.empty()) stroke.back() = to;
  }
};

bool CShapeFile::Parse(std::string_view bytes) {
  programs.clear();
  above = 0;
  // "AutoCAD-86 shapes 1.0", CR LF and a ^Z, then the lowest and highest shape number and the
  // count of shapes (16 bits, low byte first), a directory of (number, length) pairs, and each
  // shape in directory order: its name ending in a zero, then its program.
  const std::size_t marker = bytes.substr(0, 40).find('\x1a');
  if (marker == std::string_view::npos || !bytes.starts_with("AutoCAD-86 shapes 1.")) return false;
  std::size_t at = marker + 1;
  if (bytes.size() < at + 6) return false;
  const std::size_t count = Word(bytes, at + 4);
  at += 6;
  if (bytes.size() < at + 4 * count) return false;
  std::size_t data = at + 4 * count;
  for (std::size_t i = 0; i < count; ++i, at += 4) {
    const int number = Word(bytes, at);
    const std::size_t length = Word(bytes, at + 2);
    if (bytes.size() < data + length) {
      programs.clear();
      return false;
    }
    const std::string_view shape = bytes.substr(data, length);
    data += length;
    const std::size_t nameEnd = shape.find('\0');
    if (nameEnd == std::string_view::npos) continue;
    const std::string_view program = shape.substr(nameEnd + 1);
    if (number == 0) {
      // A font's description: above, below, modes.
      if (!program.empty()) above = static_cast<unsigned char>(program[0]);
      continue;
    }
    programs[number] = std::string(program);
  }
  return !programs.empty();
}

std::vector<std::vector<Vec2>> CShapeFile::Strokes(int number) const {
  Pen pen;
  Run(number, pen, 0);
  pen.Lift();
  return std::move(pen.strokes);
}

void CShapeFile::Run(int number, Pen& pen, int depth) const {
  const auto found = programs.find(number);
  if (found == programs.end() || depth > kMostDepth) return;
  const std::string& program = found->second;
  std::size_t i = 0;
  // The next byte of the program, 0 past its end (which ends it).
  const auto next = [&]() -> unsigned char {
    return i < program.size() ? static_cast<unsigned char>(program[i++]) : 0;
  };
  // Code 14 makes the next command one for vertical text only: read, not done.
  bool skip = false;
  while (i < program.size() && ++pen.steps <= kMostSteps) {
    const unsigned char code = next();
    const bool act = !skip;
    skip = false;
    if (code >= 0x10) {
      const Vec2 direction = kDirections[code & 0x0F];
      const double length = (code >> 4) * pen.scale;
      if (act) pen.MoveTo({pen.at.x + direction.x * length, pen.at.y + direction.y * length});
      continue;
    }
    switch (code) {
      case 0:
        return;
      case 1:
        if (act) pen.down = true;
        break;
      case 2:
        if (act) {
          pen.Lift();
          pen.down = false;
        }
        break;
      case 3:
      case 4: {
        const unsigned char factor = next();
        if (act && factor != 0) pen.scale = code == 3 ? pen.scale / factor : pen.scale * factor;
        break;
      }
      case 5:
        if (act && pen.stack.size() < 4) pen.stack.push_back(pen.at);
        break;
      case 6:
        if (act && !pen.stack.empty()) {
          pen.Lift();
          pen.at = pen.stack.back();
          pen.stack.pop_back();
        }
        break;
      case 7: {
        const int subshape = next();
        if (act) Run(subshape, pen, depth + 1);
        break;
      }
      case 8:
      case 9:
        // One displacement, or displacements until (0, 0).
        do {
          const int dx = Signed(next()), dy = Signed(next());
          if (code == 9 && dx == 0 && dy == 0) break;
          if (act) pen.MoveTo({pen.at.x + dx * pen.scale, pen.at.y + dy * pen.scale});
        } while (code == 9 && i < program.size());
        break;
      case 10: {
        // An arc of whole octants: radius, then the direction (bit 7 clockwise), the first
        // octant (bits 4–6) and how many octants it runs (bits 0–2, 0 a full circle).
        const double radius = next() * pen.scale;
        const unsigned char octants = next();
        if (!act || radius == 0) break;
        const double start = ((octants >> 4) & 7) * kOctant;
        const int span = (octants & 7) != 0 ? (octants & 7) : 8;
        const double sweep = span * kOctant * ((octants & 0x80) ? -1 : 1);
        pen.ArcFrom({pen.at.x - radius * std::cos(start), pen.at.y - radius * std::sin(start)},
                    radius, start, sweep);
        break;
      }
      case 11: {
        // An arc that starts and ends inside octants: the start's and the end's offset past
        // the lower boundary of its octant (in 256ths of an octant, 0 the boundary itself),
        // the radius (high byte first), and the octant byte of code 10, whose count is the
        // octants the arc touches.
        const int startOffset = next(), endOffset = next();
        const int high = next(), low = next();
        const unsigned char octants = next();
        const double radius = (high * 256 + low) * pen.scale;
        if (!act || radius == 0) break;
        const bool clockwise = (octants & 0x80) != 0;
        const int first = (octants >> 4) & 7;
        const int span = (octants & 7) != 0 ? (octants & 7) : 8;
        const double start = (first + startOffset / 256.0) * kOctant;
        // The last octant touched; an end on a boundary is the boundary the arc reaches last.
        double end =
            clockwise ? (first - (span - 1) + endOffset / 256.0) * kOctant
                      : (first + (span - 1) + (endOffset != 0 ? endOffset : 256) / 256.0) * kOctant;
        if (clockwise) {
          while (end >= start) end -= 2 * std::numbers::pi;
        } else {
          while (end <= start) end += 2 * std::numbers::pi;
        }
        pen.ArcFrom({pen.at.x - radius * std::cos(start), pen.at.y - radius * std::sin(start)},
                    radius, start, end - start);
        break;
      }
      case 12:
      case 13:
        // One arc to a displacement with a bulge (in 127ths), or arcs until (0, 0).
        do {
          const int dx = Signed(next()), dy = Signed(next());
          if (code == 13 && dx == 0 && dy == 0) break;
          const int bulge = Signed(next());
          if (act)
            pen.BulgeTo(dx * pen.scale, dy * pen.scale, std::clamp(bulge, -127, 127) / 127.0);
        } while (code == 13 && i < program.size());
        break;
      case 14:
        skip = true;
        break;
      default:
        return;  // no command: the program is damaged
    }
  }
}

}  // namespace drawing
