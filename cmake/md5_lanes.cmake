# The MD5 lane kernels as a static library `name`, from the sources in `dir`: each kernel's
# file is compiled for its own instruction set and called only where the CPU has it. 32-bit
# Windows promises a thread only a 4-byte aligned stack, so 32-bit kernels realign theirs for
# the vector registers they spill. Off x86 the library says that it has no kernel.
function(vx_md5_lanes_library name dir)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86|x86)$")
    set(kernels ${dir}/md5_lanes_sse2.cpp ${dir}/md5_lanes_avx2.cpp ${dir}/md5_lanes_avx512.cpp)
    add_library(${name} STATIC ${dir}/md5_lanes_x86.cpp ${kernels})
    set_source_files_properties(${dir}/md5_lanes_sse2.cpp PROPERTIES COMPILE_OPTIONS "-msse2")
    set_source_files_properties(${dir}/md5_lanes_avx2.cpp PROPERTIES COMPILE_OPTIONS "-mavx2")
    set_source_files_properties(${dir}/md5_lanes_avx512.cpp PROPERTIES COMPILE_OPTIONS "-mavx512f")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set_property(SOURCE ${kernels} APPEND PROPERTY COMPILE_OPTIONS "-mstackrealign")
    endif()
  else()
    add_library(${name} STATIC ${dir}/md5_lanes_none.cpp)
  endif()
  target_include_directories(${name} PUBLIC ${dir})
endfunction()
