#pragma once

#include <cstdint>

// A point as the drawing library passes it: x, y, z and three integers of its own. Only x and
// y are read; they are PDF points from the lower-left corner of the output area, y upwards.
struct PointStruct {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
  std::int32_t reserved[3] = {0, 0, 0};
};
