# cmake -DX64_BUILD=<64-bit tree> -DDESTINATION=<folder> -P copy_artefacts.cmake
# Copies instvelps_x64.exe and the stand-in libraries out of the 64-bit tree.
file(GLOB_RECURSE utility "${X64_BUILD}/lsputil/instvelps_x64.exe")
file(GLOB_RECURSE libraries "${X64_BUILD}/tests/lsputil/instvelps_x64*.dll")
list(LENGTH libraries library_count)
if(NOT utility OR library_count LESS 5)
  message(FATAL_ERROR "instvelps_x64.exe or its test libraries are missing in ${X64_BUILD}: build the 64-bit tree")
endif()
list(GET utility 0 utility)
file(COPY ${utility} ${libraries} DESTINATION "${DESTINATION}")
