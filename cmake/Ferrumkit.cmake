# Helpers shared by every folder of the tree.

# fk_library(<name> SOURCES ... [DEPS ...] [PRIVATE_DEPS ...] [PRIVATE_HEADERS ...])
# A static library whose headers are included as "<folder>/<header>.h" from
# the source root. Outside the folders of FK_UNINSTALLED_FOLDERS it is also
# part of the installed library (fk_install_library); PRIVATE_HEADERS are
# headers of its own sources only, left out of the install like *_internal.h.
function(fk_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS;PRIVATE_DEPS;PRIVATE_HEADERS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
  target_link_libraries(${name} PUBLIC ${A_DEPS} PRIVATE ${A_PRIVATE_DEPS})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  foreach(skipped IN LISTS FK_UNINSTALLED_FOLDERS)
    if(folder STREQUAL skipped OR folder MATCHES "^${skipped}/")
      return()
    endif()
  endforeach()
  fk_install_library(${name} ${folder} ${A_PRIVATE_HEADERS})
endfunction()

# In the build tree <ferrumkit/<folder>/<header>.h> names the source tree's
# header, as it names the installed one, so the examples build either way.
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/include)
file(CREATE_LINK ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/include/ferrumkit SYMBOLIC)

# Folders whose libraries serve only the tree's own programs, tests and tools.
set(FK_UNINSTALLED_FOLDERS app sph/reference tests tools fuzz)

# fk_install_library(<name> <folder> [private headers...])
# Installs a library for other programs: lib/libfk_<x>.a, its folder's public
# headers (all but *_internal.h and *_host.h) under include/ferrumkit/<folder>/,
# and the exported target Ferrumkit::<x>, also defined as an alias in the
# build tree. Installed programs include <ferrumkit/<folder>/<header>.h>; the
# headers' own "<folder>/<header>.h" includes resolve through include/ferrumkit.
function(fk_install_library name folder)
  string(REGEX REPLACE "^fk_" "" export_name ${name})
  set_target_properties(${name} PROPERTIES EXPORT_NAME ${export_name})
  target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include>
    $<INSTALL_INTERFACE:include> $<INSTALL_INTERFACE:include/ferrumkit>)
  target_compile_features(${name} PUBLIC cxx_std_17)
  add_library(Ferrumkit::${export_name} ALIAS ${name})
  install(TARGETS ${name} EXPORT FerrumkitTargets ARCHIVE DESTINATION lib COMPONENT dev)
  set_property(GLOBAL APPEND PROPERTY FK_INSTALLED_LIBRARIES ${name})
  get_property(headers_done DIRECTORY PROPERTY FK_HEADERS_INSTALLED)
  if(NOT headers_done)
    set_property(DIRECTORY PROPERTY FK_HEADERS_INSTALLED ON)
    file(GLOB headers ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    list(FILTER headers EXCLUDE REGEX "_(internal|host)\\.h$")
    foreach(private IN LISTS ARGN)
      list(REMOVE_ITEM headers ${CMAKE_CURRENT_SOURCE_DIR}/${private})
    endforeach()
    install(FILES ${headers} DESTINATION include/ferrumkit/${folder} COMPONENT dev)
  endif()
endfunction()

# fk_install_program(<target> [FILES ...])
# Installs a program for users. On Windows it goes to bin/ with FILES beside
# it. Elsewhere it goes to lib/ferrumkit/ with FILES (the data it reads from
# its own directory) and bin/ gets a relative symbolic link to it: the
# start-up takes the program's directory from /proc/self/exe, which names the
# link's target, so the data is found however the program is started.
function(fk_install_program target)
  cmake_parse_arguments(A "" "" "FILES" ${ARGN})
  set(directory lib/ferrumkit)
  if(WIN32)
    set(directory bin)
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${directory} COMPONENT program)
  if(A_FILES)
    install(FILES ${A_FILES} DESTINATION ${directory} COMPONENT program)
  endif()
  if(WIN32)
    return()
  endif()
  get_target_property(file_name ${target} OUTPUT_NAME)
  if(NOT file_name)
    set(file_name ${target})
  endif()
  # The link is made in the build tree and installed as a link.
  set(link ${PROJECT_BINARY_DIR}/install-links/${file_name})
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/install-links)
  file(CREATE_LINK ../${directory}/${file_name} ${link} SYMBOLIC)
  install(FILES ${link} DESTINATION bin COMPONENT program)
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
