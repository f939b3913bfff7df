# The whole thumbnail request through the COM objects, against its floor (zstd decompression
# plus Resample) and against libvips' thumbnailer on the same pixels stored as PNG.
if(TARGET server_exports AND TARGET test_support)
  pkg_check_modules(VIPS REQUIRED IMPORTED_TARGET vips)
  pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
  find_package(PNG REQUIRED)
  thumb_bench(provider_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/ProviderBench.cpp
              LIBS server_exports test_support whole_preview PkgConfig::VIPS PkgConfig::ZSTD PNG::PNG)
endif()
