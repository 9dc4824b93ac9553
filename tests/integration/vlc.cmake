# rtsp-dump against VLC's RTSP server (cvlc, Debian's vlc-bin and
# vlc-plugin-base), streaming clips made at test time with ffmpeg.
camvue_add_peer_test(vlc.h264 vlc_test.py vlc_test.VlcStreams.test_h264 TIMEOUT 60)
camvue_add_peer_test(vlc.mjpeg vlc_test.py vlc_test.VlcStreams.test_mjpeg TIMEOUT 60)
camvue_add_peer_test(vlc.mpeg4 vlc_test.py vlc_test.VlcStreams.test_mpeg4 TIMEOUT 60)
# RTP ahead of the PLAY reply (VLC does this about every other time; the
# relay in the test makes it happen every time).
camvue_add_peer_test(vlc.h264_rtp_before_play_reply vlc_test.py
  vlc_test.VlcStreams.test_h264_rtp_before_play_reply TIMEOUT 60)
camvue_add_peer_test(vlc.loop_reconnect vlc_test.py
  vlc_test.VlcLoop.test_reconnects_after_loop TIMEOUT 90)
# H.264 with B-frames: RTP timestamps step back in decoding order.
camvue_add_peer_test(vlc.h264_bframes vlc_test.py vlc_test.VlcStreams.test_h264_bframes TIMEOUT 60)
# Bit-exact frames: ours decoded against ffmpeg's own RTSP client on the same
# VLC stream, and against the clip's pictures.
camvue_add_peer_test(vlc.md5.h264 vlc_md5_test.py vlc_md5_test.AgainstFfmpegClient.test_h264 TIMEOUT 90)
camvue_add_peer_test(vlc.md5.mjpeg vlc_md5_test.py vlc_md5_test.AgainstFfmpegClient.test_mjpeg TIMEOUT 90)
camvue_add_peer_test(vlc.md5.mpeg4 vlc_md5_test.py vlc_md5_test.AgainstFfmpegClient.test_mpeg4 TIMEOUT 90)
# VLC paces its broadcast by its own clock; starved of the processor (a
# GStreamer camera encoding next to it, a client reconnecting every
# millisecond) it skips pictures and rebases its timestamps, which these
# cases would read as lost packets and a key frame out of place. They run
# alone.
set_tests_properties(
  ${CAMVUE_BUILD}.peer.vlc.h264 ${CAMVUE_BUILD}.peer.vlc.mjpeg ${CAMVUE_BUILD}.peer.vlc.mpeg4
  ${CAMVUE_BUILD}.peer.vlc.h264_rtp_before_play_reply ${CAMVUE_BUILD}.peer.vlc.loop_reconnect
  ${CAMVUE_BUILD}.peer.vlc.h264_bframes ${CAMVUE_BUILD}.peer.vlc.md5.h264
  ${CAMVUE_BUILD}.peer.vlc.md5.mjpeg ${CAMVUE_BUILD}.peer.vlc.md5.mpeg4
  PROPERTIES RUN_SERIAL TRUE)
