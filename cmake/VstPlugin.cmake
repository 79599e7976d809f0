# vorlan_vst_plugin(target SOURCES ... [LIBRARIES ...] [OUTPUT_NAME name] [OUTPUT_DIRECTORY folder]):
# a VST 2.4 plug-in module, loaded by hosts with dlopen: the sources (one of them defines
# createEffectInstance) plus the entry function, linked with platform and LIBRARIES; the file is
# <name>.so without a "lib" prefix and exports exactly VSTPluginMain and main. Every symbol must
# resolve when the module is linked (-z defs), except under a sanitizer, whose runtime the host
# program brings.
include_guard(GLOBAL)

function(vorlan_vst_plugin target)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME;OUTPUT_DIRECTORY" "SOURCES;LIBRARIES" ${ARGN})
  add_library(${target} MODULE ${ARG_SOURCES} ${CMAKE_SOURCE_DIR}/platform/VstEntry.cpp)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE ${ARG_LIBRARIES} platform)
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".so")
  if(ARG_OUTPUT_NAME)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
  endif()
  if(ARG_OUTPUT_DIRECTORY)
    set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIRECTORY})
  endif()
  set(exports ${CMAKE_SOURCE_DIR}/cmake/VstExports.map)
  target_link_options(${target} PRIVATE "LINKER:--version-script=${exports}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${exports})
  if(VORLAN_SANITIZE STREQUAL "")
    target_link_options(${target} PRIVATE "LINKER:-z,defs")
  endif()
endfunction()
