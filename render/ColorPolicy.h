#pragma once

#include <cstdint>

class CPenSet;

// How the colours and widths a drawing asks for become the ink and the line widths on paper:
// a pen set gives each colour index its pen (an output colour and a width), white is drawn black
// on the white paper, and the colour mode turns colours into gray levels or black. Every output
// device decides so (the PDF device now, a preview later), so that they agree.
class CColorPolicy {
 public:
  // colorType: 0 true colours, 1 gray, 2 black and white. penSet: the pens to draw with, or null
  // for the drawing's own colours and lineweights. The pen set is not owned.
  CColorPolicy(int colorType, const CPenSet* penSet) : colorType(colorType), penSet(penSet) {}

  struct Ink {
    // The colour to draw with, red in the low byte; in gray mode the gray level (0 black to 255
    // white) in the low byte. Equal values are equal inks.
    std::uint32_t color = 0;
    // Drawn as a gray level (level, 0 to 1) rather than red, green and blue.
    bool gray = false;
    double level = 0.0;
    double red = 0.0, green = 0.0, blue = 0.0;  // 0 to 1, when not gray
    // The pen's width in points, when a pen set gives the width.
    bool hasPenWidth = false;
    double penWidth = 0.0;
  };

  // The ink for a colour (red in the low byte) of colour index colorIndex (−1: none, and then no
  // pen applies).
  Ink Resolve(int rgb, int colorIndex) const;

  // Whether lineweights count: a pen set gives every width instead.
  bool UsesLineweights() const { return penSet == nullptr; }

  // The width in points of a lineweight given in points × widthDivisor, in whole points. A
  // divisor below 1 (a resolution below 72 dots per inch) counts as 1.
  static double LineweightPoints(int width, int widthDivisor);

 private:
  int colorType;
  const CPenSet* penSet;
};
