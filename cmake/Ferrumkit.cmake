# Helpers shared by every folder of the tree.

# fk_library(<name> SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
# A static library whose headers are included as "<folder>/<header>.h" from
# the source root.
function(fk_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_DEPS} PRIVATE ${A_PRIVATE_DEPS})
endfunction()

# fk_node_program(<target>)
# In the web build, a program that runs under node rather than in a page (a
# test, a benchmark, a build-time generator): it sees the real file system.
function(fk_node_program target)
  if(EMSCRIPTEN)
    target_link_options(${target} PRIVATE -sNODERAWFS=1 -sEXIT_RUNTIME=1 -sALLOW_MEMORY_GROWTH=1)
  endif()
endfunction()

# fk_test(<name> SOURCES ... [DEPS ...] [LABELS ...])
# One GoogleTest binary, registered with CTest as one test, so that a suite's
# shared fixtures (a private X server, say) start once per binary.
function(fk_test name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  fk_node_program(${name})
  if(EMSCRIPTEN)
    # Under node some cases cannot run (no threads): the FK_WEB_FILTER
    # property of the target, set beside the suites, leaves them out.
    set(filter $<TARGET_PROPERTY:${name},FK_WEB_FILTER>)
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1 "--gtest_filter=$<IF:$<BOOL:${filter}>,${filter},*>")
  else()
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  if(A_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${A_LABELS}")
  endif()
endfunction()
