# Compositing against memcpy and pixman's combiners on 1024 x 1024 images.
pkg_check_modules(PIXMAN REQUIRED IMPORTED_TARGET pixman-1)
thumb_bench(blend_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/BlendBench.cpp LIBS image PkgConfig::PIXMAN)
