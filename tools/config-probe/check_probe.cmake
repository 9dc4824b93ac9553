# Runs config-probe once and checks its exit code and output.
# -DPROBE=exe -DEMULATOR=a|b|c -DFILE=path ("" = no argument) -DEXPECT_RC=n
# -DEXPECT: on success the whole of stdout but its line feed; otherwise a
# regular expression that stderr must match.
string(REPLACE "|" ";" emulator "${EMULATOR}")
set(args)
if(NOT FILE STREQUAL "")
  set(args "${FILE}")
endif()
execute_process(COMMAND ${emulator} ${PROBE} ${args}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc STREQUAL EXPECT_RC)
  message(FATAL_ERROR "exit ${rc}, expected ${EXPECT_RC}\nstdout: ${out}\nstderr: ${err}")
endif()
if(EXPECT_RC STREQUAL "0")
  set(text "${out}")
else()
  set(text "${err}")
  if(NOT out STREQUAL "")
    message(FATAL_ERROR "unexpected stdout on failure: ${out}")
  endif()
endif()
# Windows console output may carry CR LF.
string(REPLACE "\r\n" "\n" text "${text}")
if(EXPECT_RC STREQUAL "0")
  if(NOT text STREQUAL "${EXPECT}\n")
    message(FATAL_ERROR "stdout is not '${EXPECT}' and a line feed:\n${text}")
  endif()
elseif(NOT text MATCHES "${EXPECT}")
  message(FATAL_ERROR "stderr does not match '${EXPECT}':\n${text}")
endif()
