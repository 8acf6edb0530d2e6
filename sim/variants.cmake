# Stand-ins that each lack one export of the real driver, for the tests of a
# driver the module cannot fully bind: build/sim/without-<name>/<file>. Each
# links the stand-in's one compiled object with an export list that leaves
# the one name out (ELF systems only).
if(WIN32)
  return()
endif()

set(VANDREL_NI_EXPORTS ibclr ibconfig ibdev ibeot ibfindA ibloc ibonl ibrd ibtmo ibwrt
  user_ibsta user_iberr user_ibcntl CopyrightString)
set(VANDREL_SICL_EXPORTS iopen iclose iwrite iclear itimeout iread ilocal iprintf)

function(vandrel_standin_variants objects source file_name)
  add_library(${objects} OBJECT ${source})
  target_link_libraries(${objects} PRIVATE vandrel_sim)
  target_compile_options(${objects} PRIVATE ${VANDREL_WARNINGS} ${VANDREL_SIM_FLAGS})
  set_target_properties(${objects} PROPERTIES
    POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  foreach(missing ${ARGN})
    set(kept ${ARGN})
    list(REMOVE_ITEM kept ${missing})
    list(JOIN kept "; " global)
    set(map ${CMAKE_CURRENT_BINARY_DIR}/variants/${file_name}-without-${missing}.map)
    file(WRITE ${map} "{\n  global: ${global};\n  local: *;\n};\n")
    set(target ${objects}_without_${missing})
    add_library(${target} MODULE $<TARGET_OBJECTS:${objects}>)
    target_link_libraries(${target} PRIVATE vandrel_sim)
    target_link_options(${target} PRIVATE -Wl,-Bsymbolic -Wl,--no-undefined -Wl,--version-script=${map})
    set_target_properties(${target} PROPERTIES
      PREFIX "" SUFFIX ".dll" OUTPUT_NAME ${file_name}
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/sim/without-${missing})
  endforeach()
endfunction()

vandrel_standin_variants(vandrel_sim_ni_variant ni_standin.cpp gpib-32 ${VANDREL_NI_EXPORTS})
vandrel_standin_variants(vandrel_sim_sicl_variant sicl_standin.cpp sicl32 ${VANDREL_SICL_EXPORTS})
