# FFmpeg's libavcodec + libavutil for the codec libraries (codecs/), Windows
# builds only: a static cross-build from Debian's ffmpeg source package, made by
# scripts/build-ffmpeg.sh into a cache shared by all build trees. The script
# runs here, at configure time, only when the cache has no build for this arch.
# Defines the imported target camvue::avcodec.
if(WIN32)
  set(CAMVUE_FFMPEG_CACHE ${PROJECT_SOURCE_DIR}/.cache/ffmpeg CACHE PATH
      "Cache of FFmpeg builds (scripts/build-ffmpeg.sh)")
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(_ff_arch x86_64)
  else()
    set(_ff_arch i686)
  endif()

  # The newest complete build for this arch: <cache>/<source version>/<arch>.
  function(_camvue_find_ffmpeg out)
    file(GLOB _stamps ${CAMVUE_FFMPEG_CACHE}/*/${_ff_arch}/.complete)
    list(SORT _stamps COMPARE NATURAL)
    set(_prefix "")
    if(_stamps)
      list(GET _stamps -1 _stamp)
      get_filename_component(_prefix ${_stamp} DIRECTORY)
    endif()
    set(${out} ${_prefix} PARENT_SCOPE)
  endfunction()

  _camvue_find_ffmpeg(_ff_prefix)
  if(NOT _ff_prefix)
    message(STATUS "FFmpeg for ${_ff_arch}: not cached, building (a few minutes)")
    execute_process(
      COMMAND ${PROJECT_SOURCE_DIR}/scripts/build-ffmpeg.sh ${_ff_arch} ${CAMVUE_FFMPEG_CACHE}
      RESULT_VARIABLE _ff_result
      OUTPUT_VARIABLE _ff_output
      OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT _ff_result EQUAL 0)
      message(FATAL_ERROR "scripts/build-ffmpeg.sh ${_ff_arch} failed (${_ff_result})")
    endif()
    _camvue_find_ffmpeg(_ff_prefix)
    if(NOT _ff_prefix)
      message(FATAL_ERROR "scripts/build-ffmpeg.sh ${_ff_arch} left no build in ${CAMVUE_FFMPEG_CACHE}")
    endif()
  endif()
  message(STATUS "FFmpeg for ${_ff_arch}: ${_ff_prefix}")
  # Re-run the configure step when the cached build is replaced.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_ff_prefix}/.complete)

  # The system libraries FFmpeg's configure found it needs (its pkg-config "Libs").
  set(_ff_syslibs "")
  foreach(_pc libavcodec libavutil)
    file(STRINGS ${_ff_prefix}/lib/pkgconfig/${_pc}.pc _libs REGEX "^Libs(\\.private)?:")
    foreach(_line IN LISTS _libs)
      string(REGEX MATCHALL "-l[A-Za-z0-9_]+" _flags "${_line}")
      foreach(_flag IN LISTS _flags)
        string(SUBSTRING ${_flag} 2 -1 _name)
        if(NOT _name MATCHES "^(avcodec|avutil)$")
          list(APPEND _ff_syslibs ${_name})
        endif()
      endforeach()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES _ff_syslibs)

  add_library(camvue_avutil STATIC IMPORTED GLOBAL)
  set_target_properties(camvue_avutil PROPERTIES
    IMPORTED_LOCATION ${_ff_prefix}/lib/libavutil.a
    INTERFACE_LINK_LIBRARIES "${_ff_syslibs}")
  add_library(camvue::avcodec STATIC IMPORTED GLOBAL)
  set_target_properties(camvue::avcodec PROPERTIES
    IMPORTED_LOCATION ${_ff_prefix}/lib/libavcodec.a
    INTERFACE_INCLUDE_DIRECTORIES ${_ff_prefix}/include
    INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${_ff_prefix}/include
    INTERFACE_LINK_LIBRARIES "camvue_avutil;${_ff_syslibs}")
  unset(_ff_arch)
endif()
