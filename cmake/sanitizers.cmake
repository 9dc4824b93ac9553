# ASan + UBSan for the native build (and the fuzz build, which adds the fuzzer).
if(CAMVUE_SANITIZE OR CAMVUE_FUZZ)
  set(_san -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${_san})
  add_link_options(${_san})
endif()
# Fuzz builds instrument every library for coverage; only the fuzz targets
# themselves link libFuzzer's main.
if(CAMVUE_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
