// Removal of H.264 emulation-prevention bytes (H.264 7.4.1) from one NAL unit.
#pragma once

#include <cstdint>

namespace camvue {

// Works in place over one NAL unit (header byte included, kept as is). Every
// 00 00 03 has its 03 removed; the unit is invalid when 00 00 is followed by
// 00, 01 or 02, or when a removed 03 is followed by a byte above 03. A 03 in
// the last position is removed and ends the walk. Returns the new length, or
// -1 for an invalid unit, a null pointer or a length below 1.
int RemoveEmulationPrevention(int length, uint8_t* bytes);

}  // namespace camvue
