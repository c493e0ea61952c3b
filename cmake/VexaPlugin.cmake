# One recipe for every workbench plug-in: the view plug-ins and the
# workbench's own test plug-in are built, embedded and tested the same way.
#
#   vexa_add_plugin(<name>
#     SYMBOLIC_NAME <name>       the plug-in's symbolic name: its resources lie under ":/<symbolic name>/"
#     RESOURCES <paths...>       files embedded beside plugin.xml, by their path below resources/: a
#                                file of the source folder's resources/, or, when the build makes it
#                                (a custom command of the same folder), of the build folder's
#     COMPRESSED <paths...>      of those, the ones stored zlib-compressed; every other is stored plain
#     HELP <path>                a Qt help project below resources/ (help/<X>.qhp): qhelpgenerator
#                                makes resources/<X>.qch of it, embedded with the others
#     HOST_TESTS <files...>      tests of the plug-in as the workbench loads it: <name>HostTests
#     ...                        the rest as vexa_add_module (SOURCES, DEPENDS, TESTS, TEST_DEPENDS, ...)
#   )
#
# The plug-in's folder holds resources/META-INF/MANIFEST.MF (lines ended by
# CR LF; .gitattributes keeps them) and resources/plugin.xml. The resources
# are written in the resource format 2 as two blobs: the manifest alone, then
# plugin.xml with the RESOURCES; they are registered when the plug-in is
# loaded and unregistered when it is unloaded.
#
# A plug-in is a registry module of its own (named <name>: the context its
# activator gets is its module's) and its tests also run under
# ThreadSanitizer: views take device and worker events from other threads.
#
# Two test programs, never one: <name>Tests links the plug-in's objects and
# tests the view and the activator as classes; <name>HostTests links only the
# workbench host, which loads the built plug-in (<name>_PLUGIN, its path) as
# the workbench does. A program that links the objects must not load the
# plug-in too: the two copies of its statics and resources would meet. Both
# get <name>_PLUGIN, and <name>_MANIFEST_BLOB and <name>_RESOURCES_BLOB (the
# two generated resource sources).

set(_VEXA_MODULE_OPTIONS QT THREADED)
set(_VEXA_MODULE_VALUES TYPE MODULE_NAME OUTPUT_DIRECTORY)
set(_VEXA_MODULE_LISTS SOURCES INCLUDE_DIRS HEADERS DEPENDS PRIVATE_DEPENDS TESTS TEST_DEPENDS BENCHMARKS)

function(vexa_add_plugin name)
  cmake_parse_arguments(P "${_VEXA_MODULE_OPTIONS}" "SYMBOLIC_NAME;HELP;${_VEXA_MODULE_VALUES}"
    "RESOURCES;COMPRESSED;HOST_TESTS;${_VEXA_MODULE_LISTS}" ${ARGN})
  if(NOT P_SYMBOLIC_NAME)
    message(FATAL_ERROR "${name}: a plug-in needs its SYMBOLIC_NAME")
  endif()
  if(P_TYPE OR P_MODULE_NAME OR P_QT OR P_THREADED)
    message(FATAL_ERROR "${name}: TYPE, MODULE_NAME, QT and THREADED of a plug-in are the recipe's")
  endif()
  set(_src "${CMAKE_CURRENT_SOURCE_DIR}/resources")
  set(_gen "${CMAKE_CURRENT_BINARY_DIR}/resources")
  foreach(_required META-INF/MANIFEST.MF plugin.xml)
    if(NOT EXISTS "${_src}/${_required}")
      message(FATAL_ERROR "${name}: a plug-in has resources/${_required}")
    endif()
  endforeach()
  file(MAKE_DIRECTORY "${_gen}/resources")

  set(_resources plugin.xml ${P_RESOURCES})
  if(P_HELP)
    get_filename_component(_help "${P_HELP}" NAME_WE)
    get_filename_component(_help_folder "${_src}/${P_HELP}" DIRECTORY)
    file(GLOB _help_pages CONFIGURE_DEPENDS "${_help_folder}/*")
    set(_qch "${_gen}/resources/${_help}.qch")
    # qhelpgenerator adds to a collection that is there: it always starts anew
    add_custom_command(OUTPUT "${_qch}"
      COMMAND "${CMAKE_COMMAND}" -E remove -f "${_qch}"
      COMMAND "${VEXA_QHELPGENERATOR}" "${_src}/${P_HELP}" -o "${_qch}"
      DEPENDS ${_help_pages}
      COMMENT "Help collection of ${P_SYMBOLIC_NAME}"
      VERBATIM)
    list(APPEND _resources "resources/${_help}.qch")
  endif()

  # the two resource collections, each file by its path below the resource root
  set(_blobs manifest resources)
  set(_manifest_files META-INF/MANIFEST.MF)
  set(_resources_files ${_resources})
  set(_generated)
  foreach(_blob ${_blobs})
    set(_qrc "<RCC>\n  <qresource prefix=\"/${P_SYMBOLIC_NAME}\">\n")
    set(_inputs)
    foreach(_path ${_${_blob}_files})
      if(EXISTS "${_src}/${_path}")
        set(_file "${_src}/${_path}")
      else()
        set(_file "${_gen}/${_path}")
      endif()
      if(_path IN_LIST P_COMPRESSED)
        set(_store "compression-algorithm=\"zlib\" threshold=\"0\"")
      else()
        set(_store "compression-algorithm=\"none\"")
      endif()
      string(APPEND _qrc "    <file alias=\"${_path}\" ${_store}>${_file}</file>\n")
      list(APPEND _inputs "${_file}")
    endforeach()
    string(APPEND _qrc "  </qresource>\n</RCC>\n")
    file(CONFIGURE OUTPUT "${_gen}/${name}_${_blob}.qrc" CONTENT "${_qrc}" @ONLY)
    set(_cpp "${_gen}/qrc_${name}_${_blob}.cpp")
    add_custom_command(OUTPUT "${_cpp}"
      COMMAND Qt5::rcc --format-version 2 --name ${name}_${_blob} -o "${_cpp}" "${_gen}/${name}_${_blob}.qrc"
      DEPENDS "${_gen}/${name}_${_blob}.qrc" ${_inputs}
      COMMENT "Resources of ${P_SYMBOLIC_NAME} (${_blob})"
      VERBATIM)
    set_source_files_properties("${_cpp}" PROPERTIES SKIP_AUTOGEN ON)
    list(APPEND _generated "${_cpp}")
  endforeach()
  list(GET _generated 0 _manifest_cpp)
  list(GET _generated 1 _resources_cpp)

  set(_pass)
  foreach(_list ${_VEXA_MODULE_LISTS})
    if(P_${_list})
      list(APPEND _pass ${_list} ${P_${_list}})
    endif()
  endforeach()
  if(P_OUTPUT_DIRECTORY)
    list(APPEND _pass OUTPUT_DIRECTORY "${P_OUTPUT_DIRECTORY}")
  endif()
  vexa_add_module(${name}
    TYPE PLUGIN
    QT
    THREADED
    MODULE_NAME ${name}
    ${_pass}
  )
  target_sources(${name}Objects PRIVATE ${_generated})

  set(_tests)
  if(TARGET ${name}Tests)
    list(APPEND _tests ${name}Tests)
  endif()
  if(P_HOST_TESTS AND VEXA_BUILD_TESTING)
    vexa_add_module(${name}Host
      TYPE INTERFACE
      THREADED
      INCLUDE_DIRS test
      DEPENDS VexaWorkbenchHost
      TESTS ${P_HOST_TESTS}
      TEST_DEPENDS ${P_TEST_DEPENDS}
    )
    add_dependencies(${name}HostTests ${name})
    target_compile_definitions(${name}HostTests PRIVATE "${name}_PLUGIN=\"$<TARGET_FILE:${name}>\"")
    list(APPEND _tests ${name}HostTests)
  endif()
  foreach(_t ${_tests})
    target_compile_definitions(${_t} PRIVATE
      "${name}_MANIFEST_BLOB=\"${_manifest_cpp}\"" "${name}_RESOURCES_BLOB=\"${_resources_cpp}\"")
  endforeach()
endfunction()
