include(GNUInstallDirs)

# One interface target carries the language level, warnings, Qt's strictness defines and the
# sanitizers; every target links it.
add_library(vistrel_options INTERFACE)
target_compile_features(vistrel_options INTERFACE cxx_std_20)
target_compile_options(vistrel_options INTERFACE -Wall -Wextra -Wno-missing-field-initializers)
target_compile_definitions(vistrel_options INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CONTEXTLESS_CONNECT QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)
# A program loads only the shared libraries whose symbols it uses: the command line's reading
# commands must not pay for Tesseract or X11 at start-up.
target_link_options(vistrel_options INTERFACE -Wl,--as-needed)

if(VISTREL_SANITIZE)
  set(_vistrel_sanitize_flags -fsanitize=${VISTREL_SANITIZE} -fno-omit-frame-pointer)
  if(VISTREL_SANITIZE MATCHES "undefined")
    list(APPEND _vistrel_sanitize_flags -fno-sanitize-recover=undefined)
  endif()
  target_compile_options(vistrel_options INTERFACE ${_vistrel_sanitize_flags})
  target_link_options(vistrel_options INTERFACE ${_vistrel_sanitize_flags})
endif()

# Include roots. Includes are written from the top of the tree ("VistrelKit/library/FrameLibrary.h"),
# but no target sees the whole tree: each root is a folder in the build tree with symbolic links
# to just the source folders its users may include from. So the core cannot include the
# application or the tests, and the application cannot include the tests; the build fails if
# they try.
set(VISTREL_INCLUDE_ROOTS ${CMAKE_BINARY_DIR}/include-roots)
file(REMOVE_RECURSE ${VISTREL_INCLUDE_ROOTS})

# vistrel_include_root(NAME FOLDER...): the root NAME opening the given top-level folders.
function(vistrel_include_root name)
  set(root ${VISTREL_INCLUDE_ROOTS}/${name})
  file(MAKE_DIRECTORY ${root})
  foreach(folder IN LISTS ARGN)
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
endfunction()

# vistrel_public_headers(NAME FOLDER INTERNAL...): the root NAME opening FOLDER's headers except the
# internal ones (paths relative to FOLDER), file by file.
function(vistrel_public_headers name folder)
  set(root ${VISTREL_INCLUDE_ROOTS}/${name})
  file(GLOB_RECURSE headers RELATIVE ${PROJECT_SOURCE_DIR}/${folder} CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  foreach(header IN LISTS headers)
    if(NOT header IN_LIST ARGN)
      get_filename_component(directory ${root}/${folder}/${header} DIRECTORY)
      file(MAKE_DIRECTORY ${directory})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder}/${header} ${root}/${folder}/${header} SYMBOLIC)
    endif()
  endforeach()
endfunction()

vistrel_include_root(core VistrelKit)
vistrel_include_root(app Vistrel)
vistrel_include_root(moreapps MoreAppsKit)
vistrel_include_root(tests tests)
vistrel_include_root(fuzz fuzz)

# vistrel_see_everything(TARGET): tests, fuzzers and benchmarks may also use the core's internal
# headers and the test support files. Listed first, so a header always resolves to one path.
function(vistrel_see_everything target)
  target_include_directories(${target} BEFORE PRIVATE
    ${VISTREL_INCLUDE_ROOTS}/core ${VISTREL_INCLUDE_ROOTS}/tests ${VISTREL_INCLUDE_ROOTS}/fuzz)
endfunction()

# Collects a folder's test files: every <Name>Tests.cpp below it becomes its own GoogleTest
# executable.
function(vistrel_add_gtests folder)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB_RECURSE _test_sources CONFIGURE_DEPENDS ${folder}/*Tests.cpp)
  foreach(source IN LISTS _test_sources)
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE vistrel_options ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    vistrel_see_everything(${name})
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  endforeach()
endfunction()
