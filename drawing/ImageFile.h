#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Dib.h"

namespace drawing {

// Reads a raster image file (PNG, JPEG, TIFF, BMP; chosen by content, not by name) into a
// 24-bit bitmap (with alpha composited over white), or null when it cannot be read. Images
// larger than maxPixels are scaled down by an integer factor (nearest or box filter) so that
// a huge scan cannot exhaust memory; a scale of 1 otherwise.
//
// The factor is the smallest one for which ceil(width / factor) × ceil(height / factor) is at
// most maxPixels (a maxPixels below 1 counts as 1); the bitmap then has those dimensions, the
// last column and row averaging the pixels that remain. Interlaced PNG files are sampled
// (nearest) rather than averaged when scaled, so that they too are read without a full-size
// buffer. A file whose data ends early is not read at all (null), rather than half drawn.
// Never throws; safe to call from several threads at once.
//
// With keepAlpha, a PNG, TIFF or BMP picture with transparent pixels keeps them instead: the
// bitmap is then 32-bit with alpha (CDib::HasAlpha), its colours not composited (a BMP whose
// alpha is 0 everywhere is taken as opaque, as its writers mean it). JPEG pictures, and
// pictures whose every pixel is opaque, give the 24-bit bitmap either way.
std::unique_ptr<CDib> LoadImageFile(const std::string& path, std::int64_t maxPixels = 40'000'000,
                                    bool keepAlpha = false);

// Reads a picture held in memory (the same formats, rules and limits as LoadImageFile), such as
// one a drawing carries itself; null when it cannot be read. Never throws.
std::unique_ptr<CDib> LoadImageData(std::string_view bytes, std::int64_t maxPixels = 40'000'000,
                                    bool keepAlpha = false);

// Whether the file at path lies inside one of the folders (symbolic links and ".." resolved),
// for drawings that may read only their own folder and the search folders.
bool LiesInsideFolders(const std::string& path, const std::vector<std::string>& folders);

// Finds an image file a drawing names: the name as given (absolute or relative to the
// drawing's folder), then its bare file name in the drawing's folder and in each search folder,
// comparing names without regard to case; Windows paths ("C:\\x\\y.png", backslashes) are
// taken apart by their last backslash. Empty when not found.
//
// A relative name with backslashes (".\\images\\a.png") is tried as a path below the drawing's
// folder; a drive or network path ("C:\\...", "\\\\server\\...") only through its bare name
// and its last folders.
// Folder and file names of the name as given also match without regard to case. An exact
// match is preferred to one that differs in case. When the bare name is found nowhere, the
// name's last folders are kept with it ("site/scans/a.png" is looked for as "scans/a.png", then
// "site/scans/a.png") below the drawing's folder and each search folder, shortest first. The
// result is the path of an existing regular file, built from the folder it was found in. Never
// throws.
std::string FindImageFile(const std::string& name, const std::string& drawingFolder,
                          const std::vector<std::string>& searchFolders);

}  // namespace drawing
