# One function makes every target of the tree, so that libraries, platform
# stand-ins, plug-ins and programs all get the same layout, flags, export
# header, module registration and tests.
#
#   vexa_add_module(<name>
#     TYPE        SHARED | STATIC | INTERFACE | EXECUTABLE | PLUGIN
#     SOURCES     <files...>          sources of the module (relative to the folder)
#     INCLUDE_DIRS <dirs...>          public include folders (default: the folder itself)
#     HEADERS     <files...>          public headers: each is compiled on its own with only the
#                                     module's DEPENDS reachable (<name>HeaderCheck, part of the build);
#                                     a library checks every *.h of its INCLUDE_DIRS unless given;
#                                     a header-only (INTERFACE) module offers only these
#     DEPENDS     <targets/libs...>   public link dependencies
#     PRIVATE_DEPENDS <...>           private link dependencies
#     MODULE_NAME <text>              name in the micro-service registry; programs are "main"
#     QT                              run moc, uic and rcc on the sources
#     THREADED                        its tests also run under ThreadSanitizer (label "threaded";
#                                     the modules with tests in one folder are all THREADED or none)
#     OUTPUT_DIRECTORY <dir>          PLUGIN only: where the plug-in lands (default build/plugins,
#                                     the folder the workbench loads; test plug-ins go elsewhere)
#     TESTS       <files...>          GoogleTest sources (usually test/*.cpp)
#     TEST_DEPENDS <...>              extra link dependencies of the test program (VexaTestSupport,
#                                     whose main it runs, is always linked, to benchmarks too)
#     BENCHMARKS  <files...>          Google Benchmark sources, built as <name>Benchmarks
#   )
#
# A shared library gets a generated export header <name>Exports.h with the
# macro <NAME>_EXPORT. Tests are one program <name>Tests whose cases CTest
# discovers one by one.
#
# A plug-in (a MODULE library, which CMake refuses to link into anything) is
# compiled once as the object library <name>Objects; the plug-in and its
# test program both link those objects, so the tests exercise the very code
# that is loaded. Workbench plug-ins are made by vexa_add_plugin
# (VexaPlugin.cmake), which adds their resources and a test program that
# loads them.

include(GenerateExportHeader)
include(GoogleTest)

function(vexa_add_module name)
  cmake_parse_arguments(M "QT;THREADED" "TYPE;MODULE_NAME;OUTPUT_DIRECTORY"
    "SOURCES;INCLUDE_DIRS;HEADERS;DEPENDS;PRIVATE_DEPENDS;TESTS;TEST_DEPENDS;BENCHMARKS" ${ARGN})

  if(NOT M_TYPE)
    set(M_TYPE SHARED)
  endif()
  if(NOT M_INCLUDE_DIRS)
    set(M_INCLUDE_DIRS ".")
  endif()
  set(_incs)
  foreach(d ${M_INCLUDE_DIRS})
    get_filename_component(_abs "${d}" ABSOLUTE)
    list(APPEND _incs "${_abs}")
  endforeach()

  if(M_QT)
    set(CMAKE_AUTOMOC ON)
    set(CMAKE_AUTOUIC ON)
    set(CMAKE_AUTORCC ON)
  endif()

  if(NOT M_HEADERS AND (M_TYPE STREQUAL "SHARED" OR M_TYPE STREQUAL "STATIC"))
    foreach(d ${_incs})
      file(GLOB _public CONFIGURE_DEPENDS "${d}/*.h")
      list(APPEND M_HEADERS ${_public})
    endforeach()
  endif()

  if(M_TYPE STREQUAL "INTERFACE")
    add_library(${name} INTERFACE)
    if(M_HEADERS)
      # Header-only modules may share a folder (the core templates do): each
      # offers its own headers only, through the folder of the header check,
      # so that a user reaches no header of the other by accident.
      target_include_directories(${name} INTERFACE "${CMAKE_BINARY_DIR}/header-check/${name}/include")
    else()
      target_include_directories(${name} INTERFACE ${_incs})
    endif()
    target_link_libraries(${name} INTERFACE ${M_DEPENDS})
  elseif(M_TYPE STREQUAL "EXECUTABLE")
    add_executable(${name} ${M_SOURCES})
    target_include_directories(${name} PRIVATE ${_incs})
    target_link_libraries(${name} PRIVATE ${M_DEPENDS} ${M_PRIVATE_DEPENDS})
    vexa_link_sanitizer_suppressions(${name})
    if(NOT M_MODULE_NAME)
      set(M_MODULE_NAME main)
    endif()
  elseif(M_TYPE STREQUAL "PLUGIN")
    add_library(${name}Objects OBJECT ${M_SOURCES})
    target_include_directories(${name}Objects PUBLIC ${_incs} ${CMAKE_CURRENT_BINARY_DIR})
    target_link_libraries(${name}Objects PUBLIC ${M_DEPENDS} ${M_PRIVATE_DEPENDS})
    target_compile_definitions(${name}Objects PRIVATE ${name}_EXPORTS)
    if(M_MODULE_NAME AND TARGET CppMicroServices)
      target_compile_definitions(${name}Objects PRIVATE US_MODULE_NAME=${M_MODULE_NAME})
      target_link_libraries(${name}Objects PUBLIC CppMicroServices)
    endif()
    add_library(${name} MODULE)
    target_link_libraries(${name} PRIVATE ${name}Objects)
    if(NOT M_OUTPUT_DIRECTORY)
      set(M_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/plugins")
    endif()
    set_target_properties(${name} PROPERTIES LIBRARY_OUTPUT_DIRECTORY "${M_OUTPUT_DIRECTORY}")
    generate_export_header(${name} BASE_NAME ${name}
      EXPORT_FILE_NAME "${CMAKE_CURRENT_BINARY_DIR}/${name}Exports.h")
  else()
    add_library(${name} ${M_TYPE} ${M_SOURCES})
    target_include_directories(${name} PUBLIC ${_incs} ${CMAKE_CURRENT_BINARY_DIR})
    target_link_libraries(${name} PUBLIC ${M_DEPENDS} PRIVATE ${M_PRIVATE_DEPENDS})
    if(NOT M_TYPE STREQUAL "STATIC")
      generate_export_header(${name} BASE_NAME ${name}
        EXPORT_FILE_NAME "${CMAKE_CURRENT_BINARY_DIR}/${name}Exports.h")
    endif()
  endif()

  # Every library and program announces itself to the micro-service registry
  # under its own module name before any other static initialiser of it runs.
  if(M_MODULE_NAME AND NOT M_TYPE STREQUAL "INTERFACE" AND TARGET CppMicroServices)
    set(_init "${CMAKE_CURRENT_BINARY_DIR}/${name}_ModuleInit.cpp")
    file(GENERATE OUTPUT "${_init}" CONTENT
      "// Generated: registers this binary as the module \"${M_MODULE_NAME}\".\n#include <usModuleInitialization.h>\nUS_INITIALIZE_MODULE\n")
    target_sources(${name} PRIVATE "${_init}")
    target_compile_definitions(${name} PRIVATE US_MODULE_NAME=${M_MODULE_NAME})
    target_link_libraries(${name} PRIVATE CppMicroServices)
  endif()

  if(M_HEADERS)
    vexa_check_headers(${name} "${M_TYPE}" "${M_HEADERS}" "${M_DEPENDS}")
  endif()

  if(M_TESTS AND VEXA_BUILD_TESTING)
    add_executable(${name}Tests ${M_TESTS})
    target_include_directories(${name}Tests PRIVATE ${_incs} "${CMAKE_CURRENT_SOURCE_DIR}/test")
    if(M_TYPE STREQUAL "EXECUTABLE")
      target_link_libraries(${name}Tests PRIVATE ${M_DEPENDS} ${M_PRIVATE_DEPENDS})
      add_dependencies(${name}Tests ${name})
      target_compile_definitions(${name}Tests PRIVATE "${name}_EXECUTABLE=\"$<TARGET_FILE:${name}>\"")
    elseif(M_TYPE STREQUAL "PLUGIN")
      target_link_libraries(${name}Tests PRIVATE ${name}Objects)
      add_dependencies(${name}Tests ${name})
      target_compile_definitions(${name}Tests PRIVATE "${name}_PLUGIN=\"$<TARGET_FILE:${name}>\"")
    else()
      target_link_libraries(${name}Tests PRIVATE ${name} ${M_PRIVATE_DEPENDS})
    endif()
    # every test program links the one test-support target, whose main it runs (vexaTestMain.cpp)
    target_link_libraries(${name}Tests PRIVATE ${M_TEST_DEPENDS} VexaTestSupport GTest::gmock Threads::Threads)
    vexa_link_sanitizer_suppressions(${name}Tests)
    if(TARGET CppMicroServices AND NOT M_TYPE STREQUAL "INTERFACE")
      # the test program is a module of its own ("main"), like any program
      set(_tinit "${CMAKE_CURRENT_BINARY_DIR}/${name}Tests_ModuleInit.cpp")
      file(GENERATE OUTPUT "${_tinit}" CONTENT
        "// Generated: registers this test program as the module \"main\".\n#include <usModuleInitialization.h>\nUS_INITIALIZE_MODULE\n")
      target_sources(${name}Tests PRIVATE "${_tinit}")
      target_compile_definitions(${name}Tests PRIVATE US_MODULE_NAME=main)
      target_link_libraries(${name}Tests PRIVATE CppMicroServices)
    endif()
    gtest_discover_tests(${name}Tests
      WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
      PROPERTIES LABELS "${name}"
      DISCOVERY_TIMEOUT 60)
    # The thread-sanitizer job (./vexa test-thread) runs the tests labelled
    # "threaded". Test discovery flattens a list of labels, so the label goes on
    # the folder, whose tests all get it: a folder's modules are threaded or not
    # together.
    get_property(_folder_decided DIRECTORY PROPERTY VEXA_THREADED_FOLDER SET)
    get_property(_folder_threaded DIRECTORY PROPERTY VEXA_THREADED_FOLDER)
    if(_folder_decided AND NOT "${_folder_threaded}" STREQUAL "${M_THREADED}")
      message(FATAL_ERROR "${name}: the modules of one folder are all THREADED or none is")
    endif()
    set_property(DIRECTORY PROPERTY VEXA_THREADED_FOLDER "${M_THREADED}")
    if(M_THREADED)
      set_property(DIRECTORY PROPERTY LABELS threaded)
    endif()
  endif()

  if(M_BENCHMARKS AND VEXA_BUILD_BENCHMARKS)
    add_executable(${name}Benchmarks ${M_BENCHMARKS})
    target_include_directories(${name}Benchmarks PRIVATE ${_incs} "${CMAKE_CURRENT_SOURCE_DIR}/test")
    if(M_TYPE STREQUAL "EXECUTABLE")
      target_link_libraries(${name}Benchmarks PRIVATE ${M_DEPENDS} ${M_PRIVATE_DEPENDS})
    elseif(M_TYPE STREQUAL "PLUGIN")
      target_link_libraries(${name}Benchmarks PRIVATE ${name}Objects)
    else()
      target_link_libraries(${name}Benchmarks PRIVATE ${name} ${M_PRIVATE_DEPENDS})
    endif()
    target_link_libraries(${name}Benchmarks PRIVATE ${M_TEST_DEPENDS} VexaTestSupport benchmark::benchmark Threads::Threads)
    vexa_link_sanitizer_suppressions(${name}Benchmarks)
    if(TARGET CppMicroServices AND NOT M_TYPE STREQUAL "INTERFACE")
      set(_binit "${CMAKE_CURRENT_BINARY_DIR}/${name}Benchmarks_ModuleInit.cpp")
      file(GENERATE OUTPUT "${_binit}" CONTENT
        "#include <usModuleInitialization.h>\nUS_INITIALIZE_MODULE\n")
      target_sources(${name}Benchmarks PRIVATE "${_binit}")
      target_compile_definitions(${name}Benchmarks PRIVATE US_MODULE_NAME=main)
      target_link_libraries(${name}Benchmarks PRIVATE CppMicroServices)
    endif()
    set_property(GLOBAL APPEND PROPERTY VEXA_BENCHMARK_TARGETS ${name}Benchmarks)
  endif()
endfunction()

# The header check of vexa_add_module. The module's public headers are linked
# into a folder of their own, <name>Headers offers that folder (and the export
# header) together with the <dep>Headers of each declared dependency that has
# them (the dependency itself otherwise), and <name>HeaderCheck compiles one
# source per header that includes it twice (the second time tests its guard).
# A header that reaches a header of a module it does not declare, or one that
# is not public, does not compile: include-level cycles between modules that
# share a folder show up here.
function(vexa_check_headers name type headers depends)
  set(_root "${CMAKE_BINARY_DIR}/header-check/${name}")
  set(_sources)
  foreach(h ${headers})
    get_filename_component(_abs "${h}" ABSOLUTE)
    get_filename_component(_file "${h}" NAME)
    # a link, not a copy: editing a header needs no new configure run
    file(MAKE_DIRECTORY "${_root}/include")
    file(CREATE_LINK "${_abs}" "${_root}/include/${_file}" SYMBOLIC)
    set(_source "${_root}/${_file}.cpp")
    file(CONFIGURE OUTPUT "${_source}" CONTENT "#include <${_file}>\n#include <${_file}>\n")
    list(APPEND _sources "${_source}")
  endforeach()
  add_library(${name}Headers INTERFACE)
  target_include_directories(${name}Headers INTERFACE "${_root}/include")
  if(NOT type STREQUAL "INTERFACE" AND NOT type STREQUAL "EXECUTABLE")
    target_include_directories(${name}Headers INTERFACE "${CMAKE_CURRENT_BINARY_DIR}")
  endif()
  foreach(d ${depends})
    target_link_libraries(${name}Headers INTERFACE "$<IF:$<TARGET_EXISTS:${d}Headers>,${d}Headers,${d}>")
  endforeach()
  if(VEXA_CHECK_HEADERS)
    add_library(${name}HeaderCheck OBJECT ${_sources})
    target_link_libraries(${name}HeaderCheck PRIVATE ${name}Headers)
  endif()
endfunction()

# A program of a sanitizer build carries the tree's suppressions (VexaSanitizers.cmake).
function(vexa_link_sanitizer_suppressions program)
  if(TARGET VexaSanitizerSuppressions)
    target_link_libraries(${program} PRIVATE VexaSanitizerSuppressions)
  endif()
endfunction()

# Adds every sub-folder of <dir> that has a CMakeLists.txt, in name order.
function(vexa_add_subdirectories dir)
  file(GLOB _children LIST_DIRECTORIES true "${dir}/*")
  list(SORT _children)
  foreach(c ${_children})
    if(IS_DIRECTORY "${c}" AND EXISTS "${c}/CMakeLists.txt")
      add_subdirectory("${c}")
    endif()
  endforeach()
endfunction()
