# The 32-bit Windows build (build-win32/): vandrel.dll with its string table and
# the host import library, the stand-in drivers as PE DLLs, and the Wine host harness.
enable_language(RC)
set(VANDREL_HOST_MODULE "matlab.exe" CACHE STRING "The host executable the module imports its services from")

# The unit tests and the Octave tests belong to the native build; this one
# brings its own harness, run under Wine by the native build's ctest.
set(VANDREL_TESTS OFF)

# The C and C++ runtimes go into every binary, so each imports only from the
# system (and the module from its host). --kill-at exports the stand-ins'
# __stdcall entries under their plain names, as the drivers do.
foreach(kind SHARED MODULE EXE)
  set(CMAKE_${kind}_LINKER_FLAGS "${CMAKE_${kind}_LINKER_FLAGS} -static -static-libgcc -static-libstdc++")
endforeach()
set(CMAKE_MODULE_LINKER_FLAGS "${CMAKE_MODULE_LINKER_FLAGS} -Wl,--kill-at")
# Only kernel32 is linked by default; anything else is named where it is needed.
set(CMAKE_C_STANDARD_LIBRARIES "-lkernel32" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "-lkernel32" CACHE STRING "" FORCE)

# The host's import library, built from our own list of the R11 services.
set(VANDREL_HOST_IMPORT_LIBRARY ${CMAKE_BINARY_DIR}/libvandrel_host.a)
add_custom_command(OUTPUT ${VANDREL_HOST_IMPORT_LIBRARY}
  COMMAND ${VANDREL_DLLTOOL} --input-def ${PROJECT_SOURCE_DIR}/host/host_r11.def
    --dllname ${VANDREL_HOST_MODULE} --output-lib ${VANDREL_HOST_IMPORT_LIBRARY}
  DEPENDS ${PROJECT_SOURCE_DIR}/host/host_r11.def
  COMMENT "Import library of the host services (${VANDREL_HOST_MODULE})")
add_custom_target(vandrel_host_import DEPENDS ${VANDREL_HOST_IMPORT_LIBRARY})

add_library(vandrel_dll MODULE host/host_win32.cpp resources/vandrel.rc
  $<TARGET_OBJECTS:vandrel_core> $<TARGET_OBJECTS:vandrel_platform>)
add_dependencies(vandrel_dll vandrel_host_import)
target_include_directories(vandrel_dll PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(vandrel_dll PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${VANDREL_WARNINGS}>)
target_link_libraries(vandrel_dll PRIVATE ${VANDREL_HOST_IMPORT_LIBRARY})
set_target_properties(vandrel_dll PROPERTIES
  PREFIX "" SUFFIX ".dll" OUTPUT_NAME vandrel
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
configure_file(gateway/vandrel.m ${CMAKE_BINARY_DIR}/vandrel.m COPYONLY)

if(EXISTS ${PROJECT_SOURCE_DIR}/tests/wine/CMakeLists.txt)
  add_subdirectory(tests/wine)
endif()
