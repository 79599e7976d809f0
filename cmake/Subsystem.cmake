# vorlan_subsystem(name DEPENDS ... EXCLUDE ...): a static library made of every source file in the
# folder but the EXCLUDE'd file names, headers included from the repository root as "folder/Class.h".
function(vorlan_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPENDS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(excluded IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPENDS})
  endif()
endfunction()

# vorlan_tests(folder DEPENDS ...): one GoogleTest executable per tests/<folder>/<Class>_test.cpp,
# so that one class's tests build and run on their own.
function(vorlan_tests folder)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*_test.cpp)
  foreach(test IN LISTS tests)
    if(VORLAN_SANITIZE STREQUAL "thread")
      # ThreadSanitizer can only find races where a test runs several threads; the others are
      # left out of that configuration to keep its build short. A test that loads a plug-in (through
      # the test host or the render program) or builds the effect runs the plug-in's threads, and an
      # engine built with THREADS above 0 starts a worker thread of its own; the source shows neither.
      file(READ ${test} content)
      if(NOT content MATCHES "std::thread|std::jthread|std::async|CoreTthr|pthread_create|CoreVhst|PluginFolder|CoreZrlg|<THREADS>[1-9]")
        continue()
      endif()
    endif()
    get_filename_component(stem ${test} NAME_WE)
    set(target ${folder}_${stem})
    add_executable(${target} ${test})
    target_link_libraries(${target} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gtest_main Threads::Threads)
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  endforeach()
endfunction()

# vorlan_layer_targets(variable): the subsystem libraries defined so far, lowest first.
function(vorlan_layer_targets variable)
  set(found)
  foreach(folder IN LISTS VORLAN_LAYERS)
    if(TARGET ${folder})
      list(APPEND found ${folder})
    endif()
  endforeach()
  set(${variable} ${found} PARENT_SCOPE)
endfunction()
