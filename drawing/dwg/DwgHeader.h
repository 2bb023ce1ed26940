#pragma once

// The header variables of a DWG file ($EXTMIN, $TILEMODE, the handles of the tables, ...).
// The file stores them as one long version-dependent list that has to be read in full to
// reach the handles at its end; CDwgHeader keeps the ones the drawing reader needs.

#include <cstddef>
#include <cstdint>
#include <string>

#include "drawing/dwg/BitReader.h"
#include "drawing/dwg/DwgContainer.h"

namespace drawing::dwg {

// Values as stored; handles are absolute (0 when the file gives none). Text is 8-bit in the
// drawing's code page before R2007 and UTF-8 from R2007.
struct CDwgHeader {
  // Model space.
  CPoint3 insBase;
  CPoint3 extMin;
  CPoint3 extMax;
  CPoint2 limMin;
  CPoint2 limMax;
  // Paper space.
  CPoint3 pInsBase;
  CPoint3 pExtMin;
  CPoint3 pExtMax;
  CPoint2 pLimMin;
  CPoint2 pLimMax;

  bool tileMode = true;
  bool psLtScale = true;
  int xclipFrame = 2;  // R2004+
  double ltScale = 1.0;
  double celtScale = 1.0;
  int pdMode = 0;
  double pdSize = 0.0;
  double textSize = 0.2;
  double angBase = 0.0;
  bool angDir = false;
  int lUnits = 2;
  int lUPrec = 4;
  double dimScale = 1.0;
  double dimAsz = 0.18;  // arrowhead size
  double dimTxt = 0.18;  // text height
  double dimGap = 0.09;  // gap around dimension text
  CCmColor ceColor;
  // R2000+: the FLAGS long; LWDISPLAY is its 0x200 bit cleared, CELWEIGHT its low five bits.
  std::uint32_t flags = 0;
  bool lwDisplay = false;
  int celWeight = 0;  // lineweight index as stored
  int insUnits = 0;   // R2000+
  // 0 imperial, 1 metric (from the AcDb:Template section); -1 when the file has none.
  int measurement = -1;
  // The code page of 8-bit text (the file header's raw short; 30 = ANSI_1252).
  std::uint16_t dwgCodePage = 0;
  std::uint64_t requiredVersions = 0;  // R2013+
  std::string menuName;
  std::string styleSheet;  // R2000+: the plot style table of new layouts
  std::string hyperlinkBase;
  std::string projectName;  // R2004+

  std::uint64_t handSeed = 0;
  std::uint64_t cLayer = 0;
  std::uint64_t textStyle = 0;
  std::uint64_t celType = 0;
  std::uint64_t cMaterial = 0;  // R2007+
  std::uint64_t dimStyle = 0;
  std::uint64_t dimTextStyle = 0;  // DIMTXSTY
  std::uint64_t cmlStyle = 0;
  std::uint64_t blockControl = 0;
  std::uint64_t layerControl = 0;
  std::uint64_t styleControl = 0;
  std::uint64_t linetypeControl = 0;
  std::uint64_t viewControl = 0;
  std::uint64_t ucsControl = 0;
  std::uint64_t vportControl = 0;
  std::uint64_t appIdControl = 0;
  std::uint64_t dimStyleControl = 0;
  std::uint64_t viewportEntityHeaderControl = 0;  // R13–R2000
  std::uint64_t dictionaryAcadGroup = 0;
  std::uint64_t dictionaryMlineStyle = 0;
  std::uint64_t dictionaryNamedObject = 0;
  std::uint64_t dictionaryLayout = 0;         // R2000+
  std::uint64_t dictionaryPlotSettings = 0;   // R2000+
  std::uint64_t dictionaryPlotStyleName = 0;  // R2000+
  std::uint64_t dictionaryMaterial = 0;       // R2004+
  std::uint64_t dictionaryColor = 0;          // R2004+
  std::uint64_t dictionaryVisualStyle = 0;    // R2007+
  std::uint64_t blockRecordPaperSpace = 0;
  std::uint64_t blockRecordModelSpace = 0;
  std::uint64_t linetypeByLayer = 0;
  std::uint64_t linetypeByBlock = 0;
  std::uint64_t linetypeContinuous = 0;

  // Bits of the data stream left after the last variable: padding, 0 to 8 bits in the files
  // seen (R2010 and later: 0, as their data ends at their string stream). A larger count
  // means variables this list does not know (one R13 file carries 84 such bits).
  std::size_t trailingBits = 0;
  bool crcMatches = false;
};

// Reads the header variables of `container` (R13 to R2004, and R2010 to R2018 with their
// separate string and handle streams).
//
// True when the whole list was read inside the block; a checksum mismatch is then noted in
// `*error` (otherwise cleared) and in crcMatches. False when the block is not one (no
// sentinel, a size past its end) or the list runs past it; `*error` then says where
// ("header variables: ... (byte offset N)") and `out` holds the values read before. `error`
// may be null. Never throws.
bool ReadDwgHeader(const CDwgContainer& container, CDwgHeader& out, std::string* error);

}  // namespace drawing::dwg
