#include "bench/assembly/recording.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <algorithm>

#include "npcamvue/rtp/rtp_header.h"

namespace camvue::bench {
namespace {

// Moving SMPTE bars with their noise patch: the encoders reach the target bit
// rate on it instead of idling over a still picture.
std::string Source(int frames, int width, int height) {
    return "videotestsrc num-buffers=" + std::to_string(frames) +
           " pattern=smpte horizontal-speed=4 ! video/x-raw,format=I420,width=" +
           std::to_string(width) + ",height=" + std::to_string(height) + ",framerate=30/1";
}

// Restamps the frames going into the payloader at 30 per second from the
// start of their segment (video encoders start it at 1000 h).
GstPadProbeReturn StampFrame(GstPad* pad, GstPadProbeInfo* info, gpointer userData) {
    auto* frameIndex = static_cast<uint64_t*>(userData);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (buffer == nullptr)
        return GST_PAD_PROBE_OK;
    uint64_t start = 0;
    if (GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0)) {
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        if (segment != nullptr && segment->format == GST_FORMAT_TIME)
            start = segment->start;
        gst_event_unref(event);
    }
    buffer = gst_buffer_make_writable(buffer);
    GST_BUFFER_PTS(buffer) = start + *frameIndex * GST_SECOND / 30;
    GST_BUFFER_DTS(buffer) = GST_BUFFER_PTS(buffer);
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    ++*frameIndex;
    return GST_PAD_PROBE_OK;
}

}  // namespace

std::vector<StreamRecipe> DefaultFormats(int frames) {
    std::vector<StreamRecipe> formats;

    StreamRecipe h264;
    h264.name = "H.264";
    h264.description = "1920x1080 30/s 8 Mbit/s, FU-A, mtu 1400";
    h264.codec = kCodecH264;
    h264.payloadType = 96;
    h264.pipeline = Source(frames, 1920, 1080) +
                    " ! x264enc bitrate=8000 tune=zerolatency speed-preset=ultrafast"
                    " key-int-max=30 bframes=0 threads=1"
                    " ! video/x-h264,profile=constrained-baseline"
                    " ! rtph264pay name=pay mtu=1400 pt=96 config-interval=-1";
    h264.depayloader = "rtph264depay";
    h264.depayloadedCaps = "video/x-h264,stream-format=byte-stream,alignment=au";
    formats.push_back(h264);

    StreamRecipe jpeg;
    jpeg.name = "JPEG";
    jpeg.description = "1280x720 30/s quality 85, mtu 1400";
    jpeg.codec = kCodecJpeg;
    jpeg.payloadType = 26;
    jpeg.pipeline =
        Source(frames, 1280, 720) + " ! jpegenc quality=85 ! rtpjpegpay name=pay mtu=1400 pt=26";
    jpeg.depayloader = "rtpjpegdepay";
    formats.push_back(jpeg);

    StreamRecipe mpeg4;
    mpeg4.name = "MPEG-4";
    mpeg4.description = "1280x720 30/s 4 Mbit/s, mtu 1400";
    mpeg4.codec = kCodecMpeg4;
    mpeg4.payloadType = 96;
    mpeg4.pipeline = Source(frames, 1280, 720) +
                     " ! avenc_mpeg4 bitrate=4000000 gop-size=30 max-bframes=0"
                     " ! rtpmp4vpay name=pay mtu=1400 pt=96 config-interval=-1 max-ptime=0";
    mpeg4.depayloader = "rtpmp4vdepay";
    mpeg4.restamp = true;
    formats.push_back(mpeg4);

    return formats;
}

bool Record(const StreamRecipe& recipe, Recording* out, std::string* error) {
    *out = Recording{};
    out->recipe = recipe;

    GError* parseError = nullptr;
    GstElement* pipeline =
        gst_parse_launch((recipe.pipeline + " ! appsink name=rec sync=false").c_str(), &parseError);
    if (pipeline == nullptr || parseError != nullptr) {
        *error = parseError != nullptr ? parseError->message : "gst_parse_launch failed";
        if (parseError != nullptr)
            g_error_free(parseError);
        if (pipeline != nullptr)
            gst_object_unref(pipeline);
        return false;
    }
    uint64_t frameIndex = 0;
    GstElement* payloader = gst_bin_get_by_name(GST_BIN(pipeline), "pay");
    if (recipe.restamp && payloader != nullptr) {
        GstPad* pad = gst_element_get_static_pad(payloader, "sink");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, StampFrame, &frameIndex, nullptr);
        gst_object_unref(pad);
        gst_object_unref(payloader);
    }
    GstElement* sinkElement = gst_bin_get_by_name(GST_BIN(pipeline), "rec");
    GstAppSink* sink = GST_APP_SINK(sinkElement);
    gst_app_sink_set_max_buffers(sink, 0);

    bool ok = gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
    uint32_t firstTimestamp = 0;
    uint64_t firstPts = UINT64_MAX;
    uint64_t lastPts = 0;
    while (ok) {
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (sample == nullptr)
            break;  // end of stream (or an error, told by the bus below)
        if (out->caps.empty()) {
            gchar* caps = gst_caps_to_string(gst_sample_get_caps(sample));
            out->caps = caps;
            g_free(caps);
        }
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstMapInfo map;
        if (buffer != nullptr && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            RtpHeader header;
            if (ParseRtpHeader(map.data, map.size, &header) == RtpHeaderStatus::kOk &&
                header.complete) {
                RecordedPacket packet;
                packet.offset = out->bytes.size();
                packet.size = map.size;
                packet.payloadOffset = header.payloadOffset;
                packet.payloadLength = header.payloadLength;
                packet.marker = header.marker;
                // From the RTP timestamp (not every payloader stamps its
                // buffers): 90 kHz ticks since the first packet.
                if (out->packets.empty())
                    firstTimestamp = header.timestamp;
                packet.pts =
                    static_cast<uint64_t>(header.timestamp - firstTimestamp) * 1000000000u / 90000u;
                out->bytes.insert(out->bytes.end(), map.data, map.data + map.size);
                out->packets.push_back(packet);
                out->payloadBytes += packet.payloadLength;
                out->markers += packet.marker ? 1 : 0;
                out->largestPacket = std::max(out->largestPacket, packet.size);
                firstPts = std::min<uint64_t>(firstPts, packet.pts);
                lastPts = std::max<uint64_t>(lastPts, packet.pts);
            }
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
    }

    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_pop_filtered(bus, static_cast<GstMessageType>(GST_MESSAGE_ERROR));
    if (message != nullptr) {
        GError* runError = nullptr;
        gst_message_parse_error(message, &runError, nullptr);
        *error = runError != nullptr ? runError->message : "pipeline error";
        if (runError != nullptr)
            g_error_free(runError);
        gst_message_unref(message);
        ok = false;
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sinkElement);
    gst_object_unref(pipeline);

    if (ok && out->packets.empty()) {
        *error = "the pipeline made no RTP packets";
        ok = false;
    }
    // First to last frame time, plus one frame interval.
    if (ok && out->markers > 1)
        out->durationNs = (lastPts - firstPts) + (lastPts - firstPts) / (out->markers - 1);
    return ok;
}

}  // namespace camvue::bench
