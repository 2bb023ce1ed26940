#pragma once

// The part of the DWG reader above the container: from a container and its header variables
// to the drawing model. Private to the DWG reader; ReadDwg reads the container and the header
// and then this.

#include <string>

#include "drawing/Model.h"
#include "drawing/dwg/DwgContainer.h"
#include "drawing/dwg/DwgHeader.h"

namespace drawing::dwg::detail {

// Reads the tables, layouts and blocks of `container` into `drawing` (cleared first). True when
// something could be read or nothing was damaged; `*note` then holds the first damage read
// around, or is empty. False, with the first damage in `*note`, when damage left nothing to
// draw. `note` may be null. Throws only std::bad_alloc.
bool ReadDwgModel(const CDwgContainer& container, const CDwgHeader& header, Drawing& drawing,
                  std::string* note);

}  // namespace drawing::dwg::detail
