// The program's windows for the fuzz targets that reach code owned by the main window: one
// application and one set of windows, created at the first call and kept for the whole run
// (creating them per input would cost more than the input). The serial port points nowhere,
// so nothing leaves the process; the decoder is shown with reception on and the IQ window
// is shown, so characters and sample blocks go as far as they go in a real run. The inputs
// do not run the event loop: repainting the windows after each would cost more than the
// parsing, and the pictures the parsers draw into are drawn all the same.
#pragma once

namespace fuzzsupport {

void EnsureProgram();


}  // namespace fuzzsupport
