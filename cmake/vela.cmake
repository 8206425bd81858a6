# Small helpers shared by every folder of the project.

# Adds a folder only once it has a CMakeLists.txt, so deliverables that are
# not written yet do not break the build.
function(vela_add_optional_subdirectory dir)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endfunction()

# Adds every direct sub-folder that has a CMakeLists.txt.
function(vela_add_all_subdirectories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# vela_add_test(<name> SOURCES <files...> [LIBS <targets...>] [BUS_PORT] [TIMEOUT <s>]
#               [LABELS <labels...>])
# One QtTest executable registered with CTest. BUS_PORT marks tests that use the
# fixed bus port 23334: CTest never runs two of them at the same time.
# Tests run with the built programs' folder on PATH-like variables:
#   VELA_BIN_DIR  folder of velacenter, zqbus, boardsim and the data files
function(vela_add_test name)
  cmake_parse_arguments(T "BUS_PORT" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/bin)
  target_compile_definitions(${name} PRIVATE
    VELA_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    VELA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
  if(T_BUS_PORT)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK bus_port_23334)
  endif()
  if(VELA_SANITIZE_KIND STREQUAL "thread")
    # Qt itself is not instrumented: its own internals are suppressed, and
    # GL is kept out as for the address build.
    set_tests_properties(${name} PROPERTIES ENVIRONMENT
      "QT_XCB_GL_INTEGRATION=none;TSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/scripts/tsan.supp:second_deadlock_stack=1")
  elseif(VELA_SANITIZE)
    # GL integration loads and unloads Mesa, whose leaks LeakSanitizer can no
    # longer attribute; the widgets need no GL. D-Bus leaks are suppressed.
    set_tests_properties(${name} PROPERTIES ENVIRONMENT
      "QT_XCB_GL_INTEGRATION=none;LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/scripts/lsan.supp:print_suppressions=0")
  endif()
endfunction()

# vela_add_fuzz_replay(<name> SOURCES <fuzz target sources...> CORPUS <dir>
#                      [LIBS <targets...>] [TIMEOUT <s>])
# The libFuzzer target built as a plain test (any compiler) that feeds every
# file of the committed corpus to LLVMFuzzerTestOneInput once. The same folder
# is the seed corpus for a real fuzzing run.
function(vela_add_fuzz_replay name)
  cmake_parse_arguments(F "" "CORPUS;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT F_TIMEOUT)
    set(F_TIMEOUT 120)
  endif()
  vela_add_test(${name} SOURCES ${F_SOURCES} ${PROJECT_SOURCE_DIR}/tests/fuzzreplay/fuzzreplay.cpp
                LIBS ${F_LIBS} TIMEOUT ${F_TIMEOUT} LABELS fuzz)
  get_filename_component(corpus ${F_CORPUS} ABSOLUTE)
  target_compile_definitions(${name} PRIVATE VELA_FUZZ_CORPUS="${corpus}")
endfunction()
