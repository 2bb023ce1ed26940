#pragma once

// The result of a conversion run and of the conversion of one drawing.
enum class RunResult : int {
  Done = 0,
  // The page width or height is not positive; nothing was converted.
  ParameterError = 1,
  // The drawing cannot be opened (one drawing only; the run goes on).
  CannotOpen = 2,
  // A PDF file of the drawing could not be written (one drawing only; the run goes on).
  CannotWrite = 3,
  // The user asked the run to stop.
  UserBreak = 4,
  // Memory ran out for a document, a drawing or a device.
  NoMemory = 5,
  // The drawing gave warnings, and the run counts them as failures (one drawing only).
  Warned = 6,
};
