# rtsp-dump against the GStreamer test camera (tests/peers/camera.py); one
# ctest entry per case so that ctest -j spreads them. The multicast cases run
# natively only (network namespaces, root); on win64 they report a skip.
camvue_add_peer_test(gst.h264 gst_camera_test.py gst_camera_test.Mounts.test_h264 TIMEOUT 60)
camvue_add_peer_test(gst.mjpeg gst_camera_test.py gst_camera_test.Mounts.test_mjpeg TIMEOUT 60)
camvue_add_peer_test(gst.mpeg4 gst_camera_test.py gst_camera_test.Mounts.test_mpeg4 TIMEOUT 60)
camvue_add_peer_test(gst.cropped_size gst_camera_test.py
  gst_camera_test.PictureSize.test_cropped_size TIMEOUT 60)
camvue_add_peer_test(gst.auth_basic gst_camera_test.py gst_camera_test.AuthBasic TIMEOUT 60)
camvue_add_peer_test(gst.auth_digest gst_camera_test.py gst_camera_test.AuthDigest TIMEOUT 60)
camvue_add_peer_test(gst.auth_both gst_camera_test.py gst_camera_test.AuthBoth TIMEOUT 60)
camvue_add_peer_test(gst.auth_basic_refused gst_camera_test.py
  gst_camera_test.BasicRefused.test_wrong_password TIMEOUT 60)
camvue_add_peer_test(gst.auth_digest_refused gst_camera_test.py
  gst_camera_test.DigestRefused.test_wrong_password TIMEOUT 60)
camvue_add_peer_test(gst.auth_no_credentials gst_camera_test.py
  gst_camera_test.DigestRefused.test_no_credentials TIMEOUT 60)
camvue_add_peer_test(gst.interrupt gst_camera_test.py gst_camera_test.Interrupt TIMEOUT 60)
camvue_add_peer_test(gst.rtcp_on_the_wire gst_camera_test.py
  gst_camera_test.RtcpOnTheWire.test_receiver_reports TIMEOUT 60)
camvue_add_peer_test(gst.camera_restart gst_camera_test.py
  gst_camera_test.CameraRestart.test_unicast TIMEOUT 90)
camvue_add_peer_test(gst.multicast_keepalive gst_camera_test.py
  gst_camera_test.Multicast.test_keepalive_holds_session TIMEOUT 60)
camvue_add_peer_test(gst.multicast_restart gst_camera_test.py
  gst_camera_test.Multicast.test_restart_sets_up_multicast_again TIMEOUT 60)
# Shown as skipped (not passed) where they cannot run: multicast on win64 or
# without root.
set_tests_properties(${CAMVUE_BUILD}.peer.gst.multicast_keepalive
  ${CAMVUE_BUILD}.peer.gst.multicast_restart PROPERTIES SKIP_REGULAR_EXPRESSION "OK \\(skipped=")
# Host names: localhost, a name from a hosts file of the test's own and a
# name that does not resolve (both root: a mount namespace with the test's
# hosts file and no nameserver off the machine); the pace of failed set-ups.
camvue_add_peer_test(gst.host_localhost gst_camera_test.py
  gst_camera_test.HostNames.test_localhost TIMEOUT 60)
camvue_add_peer_test(gst.host_from_hosts_file gst_camera_test.py
  gst_camera_test.HostNames.test_name_from_the_hosts_file TIMEOUT 60)
camvue_add_peer_test(gst.host_unresolvable gst_camera_test.py
  gst_camera_test.HostNames.test_unresolvable_name TIMEOUT 60)
camvue_add_peer_test(gst.retry_wrong_password gst_camera_test.py
  gst_camera_test.RetryPace.test_wrong_password_for_ten_seconds TIMEOUT 60)
camvue_add_peer_test(gst.retry_camera_outage gst_camera_test.py
  gst_camera_test.RetryPace.test_camera_back_after_an_outage TIMEOUT 120)
set_tests_properties(${CAMVUE_BUILD}.peer.gst.host_from_hosts_file
  ${CAMVUE_BUILD}.peer.gst.host_unresolvable PROPERTIES SKIP_REGULAR_EXPRESSION "OK \\(skipped=")
