# Helpers shared by every CMakeLists of the tree.

# Adds every sub-folder of DIR that holds a CMakeLists.txt (and DIR itself
# when it holds one), so that a subsystem joins the build by having a file.
function(orvelo_add_subdirs dir)
  if(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt")
    add_subdirectory(${dir})
    return()
  endif()
  file(GLOB children LIST_DIRECTORIES true "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*")
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY "${child}" AND EXISTS "${child}/CMakeLists.txt")
      add_subdirectory("${child}")
    endif()
  endforeach()
endfunction()

# orvelo_library(NAME [DEPS lib...] [UNITS unit...] [EXCLUDE unit...])
# A static library of every .cpp beside the calling CMakeLists.txt, or only
# of the UNITS named (unit.cpp and unit.h), less the units EXCLUDEd; its
# headers are included by path from the repository root ("gateway/Hlavni.h").
function(orvelo_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;UNITS;EXCLUDE" ${ARGN})
  if(ARG_UNITS)
    list(TRANSFORM ARG_UNITS PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/" OUTPUT_VARIABLE units)
    list(TRANSFORM units APPEND ".cpp" OUTPUT_VARIABLE sources)
    list(TRANSFORM units APPEND ".h" OUTPUT_VARIABLE headers)
  else()
    file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
    file(GLOB headers CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.h")
  endif()
  foreach(unit IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM sources "${CMAKE_CURRENT_SOURCE_DIR}/${unit}.cpp")
    list(REMOVE_ITEM headers "${CMAKE_CURRENT_SOURCE_DIR}/${unit}.h")
  endforeach()
  add_library(${name} STATIC ${sources} ${headers})
  # Position-independent, so that a loadable module may link them too;
  # their functions still call and inline one another directly.
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_compile_options(${name} PRIVATE -fno-semantic-interposition)
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
  if(ARG_DEPS)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  endif()
endfunction()

# orvelo_test(NAME [SOURCES file...] [DEPS lib...] [QT] [TEST_PROPERTIES prop value...])
# A GoogleTest binary; without SOURCES every .cpp beside the caller.
# TEST_PROPERTIES are set on each of its cases (e.g. FIXTURES_REQUIRED).
# Its cases are listed when ctest runs, not at build time.
function(orvelo_test name)
  cmake_parse_arguments(ARG "QT" "" "SOURCES;DEPS;TEST_PROPERTIES" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    ORVELO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    ORVELO_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    # One value per property: the discovery script splits lists.
    PROPERTIES ${ARG_TEST_PROPERTIES}
               ENVIRONMENT "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp"
               ENVIRONMENT_MODIFICATION "QT_QPA_PLATFORM=set:offscreen")
endfunction()
