// What the client takes from the session description of a DESCRIBE reply
// (RFC 4566 SDP): request URLs, the video payload type, clock rate, codec and
// its out-of-band configuration. Values are found by key search in the reply
// text, starting at the video media line; the description is not parsed into
// a structure.
#pragma once

#include <string>

#include "npcamvue/rtp/stream_state.h"

namespace camvue {

struct SessionUrls {
    // In: the URL built from the configured address ("rtsp://" + host +
    // path). Out: the Request-URI of SETUP.
    std::string media;
    // Out: the Request-URI of PLAY and TEARDOWN (Content-Base, or the built
    // URL).
    std::string aggregate;
};

// Reads the final DESCRIBE reply (NUL-terminated; a null reply counts as
// empty) into *urls and *stream:
// - aggregate URL: the Content-Base value when it ends inside the reply at a
//   byte outside 0x20-0x7F and is not empty, else the media URL passed in;
// - media URL: the aggregate URL joined with the video "a=control:" value, or
//   that value when it is absolute ("://"), or the aggregate URL when there is
//   no control;
// - payload type from the "m=video" line (kept when there is no such line or
//   its number is missing or above 127), clock rate from its a=rtpmap (0 when
//   unknown), codec kind (payload type 26 is always JPEG), the MPEG-4
//   "config=" bytes or the H.264 "sprop-parameter-sets=" (every set behind
//   00 00 00 01 in config, the SPS and PPS also on their own).
// The codec kind and the configuration of the previous description are
// cleared first; the picture size is only written for an MPEG-4 config whose
// VOL header parses. Returns false only when memory runs out (or for a null
// urls or stream); the results are then incomplete.
bool ApplySessionDescription(const char* reply, SessionUrls* urls, StreamState* stream);

// For an H.264 stream with configuration from the description, reads the
// picture size (and SpsInfo) from the SPS in the config bytes. Does nothing
// for other codecs, empty config or a null stream.
void ReadConfigPictureSize(StreamState* stream);

}  // namespace camvue
