#include "bench/assembly/gst_depayloader.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <atomic>
#include <chrono>

namespace camvue::bench {
namespace {

using Clock = std::chrono::steady_clock;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// Written on the streaming thread, read after end of stream.
struct SinkCounters {
    std::atomic<uint64_t> frames{0};
    std::atomic<uint64_t> bytes{0};
    std::atomic<int64_t> lastSampleNs{0};
};

GstFlowReturn OnNewSample(GstAppSink* sink, gpointer userData) {
    auto* counters = static_cast<SinkCounters*>(userData);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (sample == nullptr)
        return GST_FLOW_EOS;
    const int64_t now = NowNs();
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    counters->frames.fetch_add(1, std::memory_order_relaxed);
    counters->bytes.fetch_add(buffer != nullptr ? gst_buffer_get_size(buffer) : 0,
                              std::memory_order_relaxed);
    counters->lastSampleNs.store(now, std::memory_order_release);
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

}  // namespace

DepayloaderRun RunGstDepayloader(const Recording& recording) {
    DepayloaderRun run;
    GstElement* pipeline = gst_pipeline_new("peer");
    GstElement* srcElement = gst_element_factory_make("appsrc", "src");
    GstElement* depay = gst_element_factory_make(recording.recipe.depayloader.c_str(), "depay");
    GstElement* sinkElement = gst_element_factory_make("appsink", "sink");
    if (pipeline == nullptr || srcElement == nullptr || depay == nullptr ||
        sinkElement == nullptr) {
        run.error = "cannot make appsrc, " + recording.recipe.depayloader + " or appsink";
        for (GstElement* e : {pipeline, srcElement, depay, sinkElement})
            if (e != nullptr)
                gst_object_unref(e);
        return run;
    }
    gst_bin_add_many(GST_BIN(pipeline), srcElement, depay, sinkElement, nullptr);
    if (!gst_element_link_many(srcElement, depay, sinkElement, nullptr)) {
        run.error = "cannot link appsrc ! " + recording.recipe.depayloader + " ! appsink";
        gst_object_unref(pipeline);
        return run;
    }

    GstAppSrc* src = GST_APP_SRC(srcElement);
    GstCaps* rtpCaps = gst_caps_from_string(recording.caps.c_str());
    gst_app_src_set_caps(src, rtpCaps);
    gst_caps_unref(rtpCaps);
    gst_app_src_set_stream_type(src, GST_APP_STREAM_TYPE_STREAM);
    // Not live, with an unbounded queue: pushing never waits for the
    // depayloader, which works on its own streaming thread meanwhile (the
    // peer's best case; a bounded queue made it no faster).
    g_object_set(srcElement, "format", GST_FORMAT_TIME, "is-live", FALSE, "max-bytes",
                 static_cast<guint64>(0), nullptr);

    GstAppSink* sink = GST_APP_SINK(sinkElement);
    if (!recording.recipe.depayloadedCaps.empty()) {
        GstCaps* outCaps = gst_caps_from_string(recording.recipe.depayloadedCaps.c_str());
        gst_app_sink_set_caps(sink, outCaps);
        gst_caps_unref(outCaps);
    }
    g_object_set(sinkElement, "sync", FALSE, "enable-last-sample", FALSE, nullptr);
    SinkCounters counters;
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = OnNewSample;
    gst_app_sink_set_callbacks(sink, &callbacks, &counters, nullptr);

    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        run.error = "the pipeline does not start";
        gst_object_unref(pipeline);
        return run;
    }

    const int64_t start = NowNs();
    bool pushed = true;
    for (const RecordedPacket& packet : recording.packets) {
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, packet.size, nullptr);
        gst_buffer_fill(buffer, 0, recording.data(packet), packet.size);
        GST_BUFFER_PTS(buffer) = packet.pts;
        if (gst_app_src_push_buffer(src, buffer) != GST_FLOW_OK) {
            pushed = false;
            break;
        }
    }
    gst_app_src_end_of_stream(src);

    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, 120 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (message == nullptr) {
        run.error = "no end of stream within 120 s";
    } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GError* error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        run.error = error != nullptr ? error->message : "pipeline error";
        if (error != nullptr)
            g_error_free(error);
    } else if (!pushed) {
        run.error = "appsrc refused a buffer";
    } else {
        run.ok = true;
    }
    if (message != nullptr)
        gst_message_unref(message);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);

    run.frames = counters.frames.load();
    run.bytes = counters.bytes.load();
    const int64_t last = counters.lastSampleNs.load(std::memory_order_acquire);
    if (run.ok && run.frames == 0) {
        run.ok = false;
        run.error = recording.recipe.depayloader + " delivered nothing";
    }
    run.seconds = last > start ? static_cast<double>(last - start) * 1e-9 : 0;
    return run;
}

}  // namespace camvue::bench
