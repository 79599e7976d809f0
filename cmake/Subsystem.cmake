# vorlan_subsystem(name DEPENDS ...): a static library made of every source file in the folder,
# headers included from the repository root as "folder/Class.h".
function(vorlan_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
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
      # left out of that configuration to keep its build short.
      file(READ ${test} content)
      if(NOT content MATCHES "std::thread|std::jthread|std::async|CoreTthr|pthread_create")
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
