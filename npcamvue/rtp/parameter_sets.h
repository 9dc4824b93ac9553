// Scan of an Annex B byte string of H.264 parameter sets (the decoded sets of
// "sprop-parameter-sets=", or the head of an elementary stream).
#pragma once

#include <cstddef>
#include <cstdint>

#include "npcamvue/rtp/h264_sps.h"
#include "npcamvue/rtp/picture_size.h"

namespace camvue {

// Walks the NAL units after 3- or 4-byte start codes, parses each SPS into
// *sps and sets *size from every valid one. Stops at the first slice
// (types 1, 2, 5), at a unit with a broken emulation-prevention pattern, or
// when the bytes do not continue with 00 00; units of fewer than 3 bytes
// (delimiters, end of sequence) are passed over. Emulation prevention is removed
// in a private copy of each unit: the caller's bytes are never written.
// Does nothing for fewer than 4 bytes or a null argument.
void ScanParameterSets(const uint8_t* bytes, size_t length, SpsInfo* sps, PictureSize* size);

}  // namespace camvue
