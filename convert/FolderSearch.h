#pragma once

#include <string>
#include <vector>

// The drawings a folder holds, as a folder search of the wizard or the command line finds them.
struct DrawingTypes {
  bool dwg = true;
  bool dxf = true;
  bool dwf = true;
};

// The drawing files of folder in conversion order: its ".dwg" files, then its ".dxf" files, then
// its ".dwf" files (extensions in any case), each group by name without regard to case; then,
// when subfolders is set, the same for each subfolder in name order, depth first. Hidden files
// and folders (names starting with ".") are left out; a folder reached again through a link is
// searched once; folders that cannot be read are passed over.
std::vector<std::string> FindDrawingsInFolder(const std::string& folder, bool subfolders,
                                              const DrawingTypes& types = {});

// Whether a file name ends in ".dwg", ".dxf" or ".dwf", in any case.
bool HasDrawingExtension(const std::string& name);
