#pragma once

// The DWG releases the native reader knows, in file order. The bit codes, the container and the
// header-variable list change with the release, so most readers take one of these.

#include <cstdint>
#include <string_view>

namespace drawing::dwg {

enum class Version : std::uint8_t {
  R13,    // AC1012
  R14,    // AC1014
  R2000,  // AC1015
  R2004,  // AC1018 (also written by 2005 and 2006)
  R2007,  // AC1021 (2007 to 2009)
  R2010,  // AC1024 (2010 to 2012)
  R2013,  // AC1027 (2013 to 2017)
  R2018,  // AC1032 (2018 and later)
};

// The six-character magic of a release ("AC1015").
std::string_view VersionMagic(Version version);

// A short human name ("R2000").
std::string_view VersionName(Version version);

// R2004 and later keep their data in compressed, paged sections.
inline bool HasPagedSections(Version version) {
  return version >= Version::R2004;
}

// R2007 and later keep the text of an object in a string stream of its own (UTF-16) and, from
// R2010 on, its handles in a separately sized stream.
inline bool HasStringStream(Version version) {
  return version >= Version::R2007;
}

}  // namespace drawing::dwg
