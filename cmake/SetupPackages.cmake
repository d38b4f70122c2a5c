# Setup packages in the build: pack a folder into an IPK5 package with the package tool,
# and link packages into an executable as RT_RCDATA resources.
#
#   kivo_add_setup_package(TARGET <name> OUTPUT <file.ipk> DIRECTORY <dir>
#                          [LEVEL <0..9>] [LIST <file>] [DEPENDS <targets or files>...])
#     Adds the target <name> (built by default) that packs every file under <dir>, or
#     only the relative names in the LIST file, into <file.ipk> (relative: in the current
#     binary folder) at LEVEL (default 4). The package is rebuilt when a file under <dir>
#     changes, when files are added or removed (the folder is globbed again at every
#     build), when the tool changes, and when anything in DEPENDS changes.
#
#   kivo_check_setup_folders(TARGET <name> SETUP <dir> PRODUCT <dir>)
#     Adds the target <name> that runs "ipktool check" on the two folders whenever a file in
#     them changes: a file that Install.xml names but neither folder holds stops the build
#     instead of the setup at run time.
#
#   kivo_embed_setup_packages(TARGET <exe> SETUP <file.ipk> PRODUCT <file.ipk>)
#     Writes a resource script naming the two packages "SETUP" and "PRODUCT" (RT_RCDATA)
#     and compiles it into <exe>; the executable relinks when either package changes.
#     Windows builds only. Call it after kivo_add_setup_package for packages made here,
#     so the executable also waits for the targets that make them.
#
# The tool: natively the ipktool target of this build. Cross-compiling, the host build's
# tool named by KIVO_HOST_PACKAGE_TOOL when that file exists at configure time, otherwise
# this build's own ipktool.exe run through the emulator (Wine, in a prefix inside the
# build folder).
include_guard(GLOBAL)

if(WIN32)
  enable_language(RC)
endif()

# The package tool command for build steps, and what they must depend on.
function(kivo_package_tool tool_var dependency_var)
  if(CMAKE_CROSSCOMPILING AND KIVO_HOST_PACKAGE_TOOL AND EXISTS "${KIVO_HOST_PACKAGE_TOOL}")
    set(${tool_var} "${KIVO_HOST_PACKAGE_TOOL}")
    set(${dependency_var} "${KIVO_HOST_PACKAGE_TOOL}")
  elseif(CMAKE_CROSSCOMPILING)
    if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
      message(FATAL_ERROR "kivo_add_setup_package: cross-compiling needs KIVO_HOST_PACKAGE_TOOL or an emulator")
    endif()
    # Wine's own start-up chatter stays out of the build log; the prefix is the build's.
    set(${tool_var} ${CMAKE_COMMAND} -E env "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix" WINEDEBUG=-all
             ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:ipktool>)
    set(${dependency_var} ipktool)
  else()
    set(${tool_var} $<TARGET_FILE:ipktool>)
    set(${dependency_var} ipktool)
  endif()

  set(${tool_var} ${${tool_var}} PARENT_SCOPE)
  set(${dependency_var} ${${dependency_var}} PARENT_SCOPE)
endfunction()

function(kivo_add_setup_package)
  cmake_parse_arguments(PARSE_ARGV 0 ARG "" "TARGET;OUTPUT;DIRECTORY;LEVEL;LIST" "DEPENDS")
  foreach(required TARGET OUTPUT DIRECTORY)
    if(NOT ARG_${required})
      message(FATAL_ERROR "kivo_add_setup_package: ${required} is required")
    endif()
  endforeach()
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "kivo_add_setup_package: unexpected arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT DEFINED ARG_LEVEL)
    set(ARG_LEVEL 4)
  endif()
  if(NOT ARG_LEVEL MATCHES "^[0-9]$")
    message(FATAL_ERROR "kivo_add_setup_package: LEVEL must be 0..9, not '${ARG_LEVEL}'")
  endif()

  get_filename_component(output "${ARG_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  get_filename_component(directory "${ARG_DIRECTORY}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  if(NOT IS_DIRECTORY "${directory}")
    message(FATAL_ERROR "kivo_add_setup_package: ${directory} is not a folder")
  endif()

  # Every file under the folder is an input; CONFIGURE_DEPENDS notices added and removed ones.
  file(GLOB_RECURSE inputs CONFIGURE_DEPENDS LIST_DIRECTORIES false "${directory}/*")
  set(options --level ${ARG_LEVEL})
  if(ARG_LIST)
    get_filename_component(list_file "${ARG_LIST}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND options --list "${list_file}")
    list(APPEND inputs "${list_file}")
  endif()

  kivo_package_tool(tool tool_dependency)

  get_filename_component(output_dir "${output}" DIRECTORY)
  file(RELATIVE_PATH shown "${CMAKE_BINARY_DIR}" "${output}")
  add_custom_command(OUTPUT "${output}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${output_dir}"
    COMMAND ${tool} build "${output}" "${directory}" ${options}
    DEPENDS ${inputs} ${tool_dependency} ${ARG_DEPENDS}
    WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
    COMMENT "Packing ${shown}"
    VERBATIM)
  add_custom_target(${ARG_TARGET} ALL DEPENDS "${output}")
  # kivo_embed_setup_packages finds the target that makes a package by its path.
  set_property(GLOBAL PROPERTY "KIVO_SETUP_PACKAGE_TARGET:${output}" ${ARG_TARGET})
endfunction()

function(kivo_check_setup_folders)
  cmake_parse_arguments(PARSE_ARGV 0 ARG "" "TARGET;SETUP;PRODUCT" "")
  foreach(required TARGET SETUP PRODUCT)
    if(NOT ARG_${required})
      message(FATAL_ERROR "kivo_check_setup_folders: ${required} is required")
    endif()
  endforeach()
  file(GLOB_RECURSE inputs CONFIGURE_DEPENDS LIST_DIRECTORIES false "${ARG_SETUP}/*" "${ARG_PRODUCT}/*")
  kivo_package_tool(tool tool_dependency)
  set(stamp "${CMAKE_CURRENT_BINARY_DIR}/${ARG_TARGET}.stamp")
  add_custom_command(OUTPUT "${stamp}"
    COMMAND ${tool} check "${ARG_SETUP}" "${ARG_PRODUCT}"
    COMMAND ${CMAKE_COMMAND} -E touch "${stamp}"
    DEPENDS ${inputs} ${tool_dependency}
    COMMENT "Checking the setup and product folders"
    VERBATIM)
  add_custom_target(${ARG_TARGET} ALL DEPENDS "${stamp}")
endfunction()

function(kivo_embed_setup_packages)
  cmake_parse_arguments(PARSE_ARGV 0 ARG "" "TARGET;SETUP;PRODUCT" "")
  foreach(required TARGET SETUP PRODUCT)
    if(NOT ARG_${required})
      message(FATAL_ERROR "kivo_embed_setup_packages: ${required} is required")
    endif()
  endforeach()
  if(NOT WIN32)
    message(FATAL_ERROR "kivo_embed_setup_packages: resources exist only in Windows builds")
  endif()

  get_filename_component(setup "${ARG_SETUP}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  get_filename_component(product "${ARG_PRODUCT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${ARG_TARGET}_packages.rc")
  # Written only when it changes, so an unchanged script does not relink.
  file(CONFIGURE OUTPUT "${rc}" CONTENT "SETUP RCDATA \"${setup}\"\nPRODUCT RCDATA \"${product}\"\n" @ONLY)
  target_sources(${ARG_TARGET} PRIVATE "${rc}")
  # windres reads the packages, but CMake does not scan a resource script for them.
  set_source_files_properties("${rc}" TARGET_DIRECTORY ${ARG_TARGET} PROPERTIES OBJECT_DEPENDS "${setup};${product}")
  foreach(package IN ITEMS "${setup}" "${product}")
    get_property(maker GLOBAL PROPERTY "KIVO_SETUP_PACKAGE_TARGET:${package}")
    if(maker)
      add_dependencies(${ARG_TARGET} ${maker})
    endif()
  endforeach()
endfunction()
