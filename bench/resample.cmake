# Resampling against libvips' box shrink and pixman's separable box filter, on the same images.
pkg_check_modules(VIPS REQUIRED IMPORTED_TARGET vips)
pkg_check_modules(PIXMAN REQUIRED IMPORTED_TARGET pixman-1)
thumb_bench(resample_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/ResampleBench.cpp LIBS image PkgConfig::VIPS PkgConfig::PIXMAN)
