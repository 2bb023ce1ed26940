#include "drawing/dwg/DwgHeader.h"

#include <exception>
#include <string_view>

#include "drawing/dwg/detail/DwgContainerBuilder.h"

namespace drawing::dwg {

namespace {

unsigned Load16(std::string_view bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]) |
         static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 8;
}

std::uint32_t Load32(std::string_view bytes, std::size_t at) {
  return Load16(bytes, at) | static_cast<std::uint32_t>(Load16(bytes, at + 2)) << 16;
}

// Reads the list. Before R2007 the three streams are one; from R2007 on, text comes from the
// string stream and handles (all but HANDSEED) from the handle stream.
class CHeaderList {
 public:
  CHeaderList(Version version, CBitReader& data, CBitReader& strings, CBitReader& handles)
      : v(version), d(data), s(strings), h(handles) {}

  void Read(CDwgHeader& out);

 private:
  bool Since(Version first) const { return v >= first; }
  bool Until(Version last) const { return v <= last; }
  void Bits(int count) {
    for (int i = 0; i < count; ++i) d.ReadB();
  }
  void Shorts(int count) {
    for (int i = 0; i < count; ++i) d.ReadBS();
  }
  void Longs(int count) {
    for (int i = 0; i < count; ++i) d.ReadBL();
  }
  void Doubles(int count) {
    for (int i = 0; i < count; ++i) d.ReadBD();
  }
  void Points(int count) {
    for (int i = 0; i < count; ++i) d.Read3BD();
  }
  void Chars(int count) {
    for (int i = 0; i < count; ++i) d.ReadRC();
  }
  void Texts(int count) {
    for (int i = 0; i < count; ++i) s.ReadText();
  }
  void Handles(int count) {
    for (int i = 0; i < count; ++i) h.ReadH();
  }
  std::uint64_t Handle() { return h.ReadH().value; }
  CCmColor Color() { return d.ReadCMC(&s); }

  Version v;
  CBitReader& d;
  CBitReader& s;
  CBitReader& h;
};

void CHeaderList::Read(CDwgHeader& out) {
  const Version R14 = Version::R14, R2000 = Version::R2000, R2004 = Version::R2004,
                R2007 = Version::R2007, R2010 = Version::R2010, R2013 = Version::R2013;
  if (Since(R2013)) out.requiredVersions = d.ReadBLL();
  Doubles(4);  // unit conversion ratios
  Texts(4);    // unit names
  Longs(2);
  if (Until(R14)) Shorts(1);
  if (Until(R2000)) Handles(1);  // current viewport entity header
  Bits(2);                       // DIMASO, DIMSHO
  if (Until(R14)) Bits(1);       // DIMSAV
  Bits(5);                       // PLINEGEN, ORTHOMODE, REGENMODE, FILLMODE, QTEXTMODE
  out.psLtScale = d.ReadB();
  Bits(1);                  // LIMCHECK
  if (Until(R14)) Bits(1);  // BLIPMODE
  if (Since(R2004)) Bits(1);
  Bits(2);  // USRTIMER, SKPOLY
  out.angDir = d.ReadB();
  Bits(1);                  // SPLFRAME
  if (Until(R14)) Bits(2);  // ATTREQ, ATTDIA
  Bits(2);                  // MIRRTEXT, WORLDVIEW
  if (Until(R14)) Bits(1);  // WIREFRAME
  out.tileMode = d.ReadB();
  Bits(2);                    // PLIMCHECK, VISRETAIN
  if (Until(R14)) Bits(1);    // DELOBJ
  Bits(2);                    // DISPSILH, PELLIPSE
  Shorts(1);                  // PROXYGRAPHICS
  if (Until(R14)) Shorts(1);  // DRAGMODE
  Shorts(1);                  // TREEDEPTH
  out.lUnits = static_cast<std::int16_t>(d.ReadBS());
  out.lUPrec = static_cast<std::int16_t>(d.ReadBS());
  Shorts(2);                  // AUNITS, AUPREC
  if (Until(R14)) Shorts(1);  // OSMODE
  Shorts(1);                  // ATTMODE
  if (Until(R14)) Shorts(1);  // COORDS
  out.pdMode = static_cast<std::int16_t>(d.ReadBS());
  if (Until(R14)) Shorts(1);  // PICKSTYLE
  if (Since(R2004)) Longs(3);
  Shorts(19);  // USERI1-5, SPLINESEGS, SURFU, SURFV, SURFTYPE, SURFTAB1-2, SPLINETYPE, SHADEDGE,
               // SHADEDIF, UNITMODE, MAXACTVP, ISOLINES, CMLJUST, TEXTQLTY
  out.ltScale = d.ReadBD();
  out.textSize = d.ReadBD();
  Doubles(4);  // TRACEWID, SKETCHINC, FILLETRAD, THICKNESS
  out.angBase = d.ReadBD();
  out.pdSize = d.ReadBD();
  Doubles(12);  // PLINEWID, USERR1-5, CHAMFERA-D, FACETRES, CMLSCALE
  out.celtScale = d.ReadBD();
  out.menuName = s.ReadText();
  Longs(4);  // TDCREATE, TDUPDATE (days, milliseconds)
  if (Since(R2004)) Longs(3);
  Longs(4);  // TDINDWG, TDUSRTIMER
  out.ceColor = Color();
  out.handSeed = d.ReadH().value;  // in the data stream in every version
  out.cLayer = Handle();
  out.textStyle = Handle();
  out.celType = Handle();
  if (Since(R2007)) out.cMaterial = Handle();
  out.dimStyle = Handle();
  out.cmlStyle = Handle();
  if (Since(R2000)) Doubles(1);  // PSVPSCALE

  out.pInsBase = d.Read3BD();
  out.pExtMin = d.Read3BD();
  out.pExtMax = d.Read3BD();
  out.pLimMin = d.Read2RD();
  out.pLimMax = d.Read2RD();
  Doubles(1);  // PELEVATION
  Points(3);   // PUCSORG, PUCSXDIR, PUCSYDIR
  Handles(1);  // PUCSNAME
  if (Since(R2000)) {
    Handles(1);  // PUCSORTHOREF
    Shorts(1);   // PUCSORTHOVIEW
    Handles(1);  // PUCSBASE
    Points(6);   // PUCSORGTOP, BOTTOM, LEFT, RIGHT, FRONT, BACK
  }
  out.insBase = d.Read3BD();
  out.extMin = d.Read3BD();
  out.extMax = d.Read3BD();
  out.limMin = d.Read2RD();
  out.limMax = d.Read2RD();
  Doubles(1);  // ELEVATION
  Points(3);   // UCSORG, UCSXDIR, UCSYDIR
  Handles(1);  // UCSNAME
  if (Since(R2000)) {
    Handles(1);  // UCSORTHOREF
    Shorts(1);   // UCSORTHOVIEW
    Handles(1);  // UCSBASE
    Points(6);
    Texts(2);  // DIMPOST, DIMAPOST
  }
  if (Until(R14)) {
    Bits(11);   // DIMTOL, DIMLIM, DIMTIH, DIMTOH, DIMSE1, DIMSE2, DIMALT, DIMTOFL, DIMSAH, DIMTIX,
                // DIMSOXD
    Chars(2);   // DIMALTD, DIMZIN
    Bits(2);    // DIMSD1, DIMSD2
    Chars(3);   // DIMTOLJ, DIMJUST, DIMFIT
    Bits(1);    // DIMUPT
    Chars(4);   // DIMTZIN, DIMALTZ, DIMALTTZ, DIMTAD
    Shorts(6);  // DIMUNIT, DIMAUNIT, DIMDEC, DIMTDEC, DIMALTU, DIMALTTD
    out.dimTextStyle = Handle();
  }
  out.dimScale = d.ReadBD();
  out.dimAsz = d.ReadBD();
  Doubles(7);  // DIMEXO, DIMDLI, DIMEXE, DIMRND, DIMDLE, DIMTP, DIMTM
  if (Since(R2007)) {
    Doubles(2);  // DIMFXL, DIMJOGANG
    Shorts(1);   // DIMTFILL
    Color();     // DIMTFILLCLR
  }
  if (Since(R2000)) {
    Bits(6);    // DIMTOL, DIMLIM, DIMTIH, DIMTOH, DIMSE1, DIMSE2
    Shorts(3);  // DIMTAD, DIMZIN, DIMAZIN
  }
  if (Since(R2007)) Shorts(1);  // DIMARCSYM
  out.dimTxt = d.ReadBD();
  Doubles(6);  // DIMCEN, DIMTSZ, DIMALTF, DIMLFAC, DIMTVP, DIMTFAC
  out.dimGap = d.ReadBD();
  if (Until(R14)) Texts(5);  // DIMPOST, DIMAPOST, DIMBLK, DIMBLK1, DIMBLK2
  if (Since(R2000)) {
    Doubles(1);  // DIMALTRND
    Bits(1);     // DIMALT
    Shorts(1);   // DIMALTD
    Bits(4);     // DIMTOFL, DIMSAH, DIMTIX, DIMSOXD
  }
  for (int i = 0; i < 3; ++i) Color();  // DIMCLRD, DIMCLRE, DIMCLRT
  if (Since(R2000)) {
    Shorts(11);  // DIMADEC, DIMDEC, DIMTDEC, DIMALTU, DIMALTTD, DIMAUNIT, DIMFRAC, DIMLUNIT,
                 // DIMDSEP, DIMTMOVE, DIMJUST
    Bits(2);     // DIMSD1, DIMSD2
    Shorts(4);   // DIMTOLJ, DIMTZIN, DIMALTZ, DIMALTTZ
    Bits(1);     // DIMUPT
    Shorts(1);   // DIMATFIT
  }
  if (Since(R2007)) Bits(1);  // DIMFXLON
  if (Since(R2010)) {
    Bits(1);     // DIMTXTDIRECTION
    Doubles(1);  // DIMALTMZF
    Texts(1);    // DIMALTMZS
    Doubles(1);  // DIMMZF
    Texts(1);    // DIMMZS
  }
  if (Since(R2000)) {
    out.dimTextStyle = Handle();
    Handles(4);  // DIMLDRBLK, DIMBLK, DIMBLK1, DIMBLK2
  }
  if (Since(R2007)) Handles(3);  // DIMLTYPE, DIMLTEX1, DIMLTEX2
  if (Since(R2000)) Shorts(2);   // DIMLWD, DIMLWE

  out.blockControl = Handle();
  out.layerControl = Handle();
  out.styleControl = Handle();
  out.linetypeControl = Handle();
  out.viewControl = Handle();
  out.ucsControl = Handle();
  out.vportControl = Handle();
  out.appIdControl = Handle();
  out.dimStyleControl = Handle();
  if (Until(R2000)) out.viewportEntityHeaderControl = Handle();
  out.dictionaryAcadGroup = Handle();
  out.dictionaryMlineStyle = Handle();
  out.dictionaryNamedObject = Handle();
  if (Since(R2000)) {
    Shorts(2);  // TSTACKALIGN, TSTACKSIZE
    out.hyperlinkBase = s.ReadText();
    out.styleSheet = s.ReadText();
    out.dictionaryLayout = Handle();
    out.dictionaryPlotSettings = Handle();
    out.dictionaryPlotStyleName = Handle();
  }
  if (Since(R2004)) {
    out.dictionaryMaterial = Handle();
    out.dictionaryColor = Handle();
  }
  if (Since(R2007)) out.dictionaryVisualStyle = Handle();
  if (Since(R2013)) Handles(1);
  if (Since(R2000)) {
    out.flags = d.ReadBL();
    out.celWeight = static_cast<int>(out.flags & 0x1F);
    out.lwDisplay = (out.flags & 0x200) == 0;
    out.insUnits = static_cast<std::int16_t>(d.ReadBS());
    const std::uint16_t plotStyleType = d.ReadBS();
    if (plotStyleType == 3) Handles(1);  // CPSNID
    Texts(2);                            // FINGERPRINTGUID, VERSIONGUID
  }
  if (Since(R2004)) {
    Chars(3);  // SORTENTS, INDEXCTL, HIDETEXT
    out.xclipFrame = d.ReadRC();
    Chars(2);   // DIMASSOC, HALOGAP
    Shorts(2);  // OBSCOLOR, INTERSECTIONCOLOR
    Chars(2);   // OBSLTYPE, INTERSECTIONDISPLAY
    out.projectName = s.ReadText();
  }
  out.blockRecordPaperSpace = Handle();
  out.blockRecordModelSpace = Handle();
  out.linetypeByLayer = Handle();
  out.linetypeByBlock = Handle();
  out.linetypeContinuous = Handle();
  if (Since(R2007)) {
    Bits(1);  // CAMERADISPLAY
    Longs(2);
    Doubles(6);  // unknown, STEPSPERSEC, STEPSIZE, 3DDWFPREC, LENSLENGTH, CAMERAHEIGHT
    Chars(2);    // SOLIDHIST, SHOWHIST
    Doubles(6);  // PSOLWIDTH, PSOLHEIGHT, LOFTANG1, LOFTANG2, LOFTMAG1, LOFTMAG2
    Shorts(1);   // LOFTPARAM
    Chars(1);    // LOFTNORMALS
    Doubles(3);  // LATITUDE, LONGITUDE, NORTHDIRECTION
    Longs(1);    // TIMEZONE
    Chars(4);    // LIGHTGLYPHDISPLAY, TILEMODELIGHTSYNCH, DWFFRAME, DGNFRAME
    Bits(1);     // REALWORLDSCALE
    Color();     // INTERFERECOLOR
    Handles(3);  // INTERFEREOBJVS, INTERFEREVPVS, DRAGVS
    Chars(1);    // CSHADOW
    Doubles(1);  // SHADOWPLANELOCATION
  }
  // Four shorts of unknown use close the list of R14 to R2004; R2010 and later files end
  // their data right before them.
  if (Since(R14) && Until(R2004)) Shorts(4);
}

bool ReadHeader(const CDwgContainer& container, CDwgHeader& out, std::string& message) {
  const std::string_view bytes = container.headerVariables;
  const Version version = container.version;
  out.dwgCodePage = container.codePage;
  auto fail = [&message](std::string_view what, std::size_t offset) {
    message = "header variables: ";
    message += what;
    message += " (byte offset " + std::to_string(offset) + " in the block)";
    return false;
  };
  if (bytes.size() < 16 + 4 + 2 || bytes.substr(0, 16) != detail::kHeaderStartSentinel) {
    return fail("the block does not start with its sentinel", 0);
  }
  const std::size_t size = Load32(bytes, 16);
  const std::size_t dataStart =
      detail::HasHighSizeWord(version, container.maintenanceRelease) ? 24 : 20;
  if (dataStart > bytes.size() || size > bytes.size() - dataStart) {
    return fail("the size of the block passes its end", 16);
  }
  const std::size_t dataEnd = dataStart + size;
  if (dataEnd + 2 <= bytes.size()) {
    out.crcMatches = Crc16(0xC0C1, bytes.substr(16, dataEnd - 16)) == Load16(bytes, dataEnd);
  }

  CBitReader data(bytes, version, dataStart * 8, dataEnd * 8);
  CBitReader strings;
  CBitReader handles;
  if (HasStringStream(version)) {
    // A bit size, counted from its own field, gives the end of the data part: the string
    // stream sits at its end and the handle stream follows it.
    const std::size_t sizeField = data.Position();
    const std::size_t bitSize = data.ReadRL();
    if (data.Failed() || bitSize > dataEnd * 8 - sizeField) {
      return fail("the size of its data part passes the end of the block", dataStart);
    }
    const std::size_t handlesStart = sizeField + bitSize;
    std::size_t start = 0, end = 0;
    if (!FindStringStream(bytes, handlesStart, data.Position(), start, end)) {
      return fail("its string stream cannot be found", handlesStart / 8);
    }
    strings = CBitReader(bytes, version, start, end);
    handles = CBitReader(bytes, version, handlesStart, dataEnd * 8);
    data = CBitReader(bytes, version, data.Position(), start);
  }
  CBitReader& s = HasStringStream(version) ? strings : data;
  CBitReader& h = HasStringStream(version) ? handles : data;
  CHeaderList(version, data, s, h).Read(out);
  if (data.Failed() || s.Failed() || h.Failed()) {
    const bool dataBroken = data.Failed();
    const bool stringsBroken = !dataBroken && s.Failed();
    const CBitReader& broken = dataBroken ? data : stringsBroken ? s : h;
    return fail(dataBroken      ? "the list runs past the end of its data"
                : stringsBroken ? "the list runs past the end of its string stream"
                                : "the list runs past the end of its handle stream",
                broken.Position() / 8);
  }
  out.trailingBits = data.BitsLeft();

  // MEASUREMENT lives in the template section after a description whose length counts
  // bytes before R2007 and UTF-16 units from R2007 on (writers store a lone NUL there).
  if (const CDwgSection* section = container.FindSection("AcDb:Template");
      section && section->available && section->bytes.size() >= 4) {
    const std::size_t length = Load16(section->bytes, 0) * (HasStringStream(version) ? 2 : 1);
    if (length <= section->bytes.size() - 4) {
      out.measurement = static_cast<int>(Load16(section->bytes, 2 + length));
    }
  }

  message.clear();
  if (!out.crcMatches) {
    message = "header variables: checksum mismatch (byte offset " + std::to_string(dataEnd) +
              " in the block)";
  }
  return true;
}

}  // namespace

bool ReadDwgHeader(const CDwgContainer& container, CDwgHeader& out, std::string* error) {
  std::string message;
  bool read = false;
  try {
    out = CDwgHeader();
    read = ReadHeader(container, out, message);
  } catch (const std::exception&) {
    message = "header variables: out of memory";
    read = false;
  }
  if (error) *error = std::move(message);
  return read;
}

}  // namespace drawing::dwg
