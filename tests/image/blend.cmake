thumb_test(blend_tests
  SOURCES BlitTest.cpp BlendModeTest.cpp BlendKernelTest.cpp HcyTest.cpp BlendVectorTest.cpp
  LIBS image
  LABELS image)
