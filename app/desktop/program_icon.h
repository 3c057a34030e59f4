// The program icon, an SVG document built into the program.
#pragma once

namespace morix {

extern const char kProgramIconSvg[];

}  // namespace morix
