// libFuzzer entry point for the DWG reader: the container, the header variables, the framing
// of every mapped object, and the whole reading into the drawing model. Besides crashes, leaks
// and undefined behaviour it stops on results that break the promises the layers above rely
// on (sorted object map, offsets and streams inside the data, a one-line reason for every
// failure, a model that FinishModel need not mend and CheckModel finds sound).
// Built and run by run_dwg.sh beside this file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "drawing/Model.h"
#include "drawing/dwg/DwgContainer.h"
#include "drawing/dwg/DwgHeader.h"
#include "drawing/dwg/DwgObject.h"
#include "drawing/dwg/DwgReader.h"

namespace {

using namespace drawing::dwg;

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "DWG reader promise broken: %s\n", what);
  std::abort();
}

bool InsideData(const CBitReader& reader, std::string_view data) {
  return reader.Bytes().data() == data.data() && reader.StartBit() <= reader.EndBit() &&
         reader.EndBit() <= data.size() * 8;
}

// Reads every stream of a frame to its end, the way a type reader would wander through it.
void Drain(CDwgObjectFrame& frame) {
  for (int i = 0; i < 64 && !frame.data.Failed(); ++i) frame.data.ReadBD();
  for (int i = 0; i < 16 && !frame.Strings().Failed(); ++i) frame.Strings().ReadText();
  for (int i = 0; i < 64 && !frame.handles.Failed(); ++i) {
    frame.handles.ReadH().Absolute(frame.handle);
  }
}

// Reads the file into the model the way ReadDrawing does, and checks what the model promises.
void ReadModel(std::string_view file) {
  drawing::Drawing model;
  std::string error;
  const bool read = drawing::ReadDwg(file, model, &error);
  Check(error.find('\n') == std::string::npos, "reader error is one line");
  Check(read || !error.empty(), "a failed read has a reason");
  if (!read) return;
  Check(drawing::FinishModel(model) == 0, "FinishModel mends nothing the reader handed over");
  const std::vector<std::string> broken = drawing::CheckModel(model);
  if (!broken.empty()) std::fprintf(stderr, "CheckModel: %s\n", broken.front().c_str());
  Check(broken.empty(), "CheckModel finds the model sound");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(bytes), size);
  ReadModel(file);
  CDwgContainer container;
  std::string error;
  const bool read = ReadDwgContainer(file, container, &error);
  Check(error.find('\n') == std::string::npos, "container error is one line");
  if (!read) {
    Check(!error.empty(), "a failure has a reason");
    return 0;
  }
  Check(!container.objectMap.empty(), "object map is not empty");
  for (std::size_t i = 0; i < container.objectMap.size(); ++i) {
    Check(container.objectMap[i].offset < container.objectData.size(), "offset inside the data");
    Check(i == 0 || container.objectMap[i - 1].handle < container.objectMap[i].handle,
          "object map sorted, one entry per handle");
    Check(container.ObjectLimit(container.objectMap[i].offset) > container.objectMap[i].offset,
          "one entry per offset");
  }

  CDwgHeader header;
  ReadDwgHeader(container, header, &error);
  Check(error.find('\n') == std::string::npos, "header error is one line");

  for (const CDwgObjectLocation& entry : container.objectMap) {
    CDwgObjectFrame frame;
    if (!ReadObjectFrame(container, entry.offset, frame, &error, true)) {
      Check(error.find('\n') == std::string::npos, "frame error is one line");
      continue;
    }
    Check(frame.dataOffset + frame.size + 2 <= container.objectData.size(), "object inside");
    Check(InsideData(frame.data, container.objectData), "data stream inside");
    Check(InsideData(frame.handles, container.objectData), "handle stream inside");
    Check(frame.data.EndBit() <= frame.handles.StartBit(), "data before handles");
    Check(frame.handles.EndBit() <= (frame.dataOffset + frame.size) * 8, "handles inside");
    ObjectTypeName(container, frame.type);
    Drain(frame);
  }
  return 0;
}
