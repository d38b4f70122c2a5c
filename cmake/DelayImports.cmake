# Delay-loaded import libraries for the system DLLs that are not KnownDLLs.
#
# A DLL named in the import table is looked up by the loader before any code of ours
# runs, starting with the folder of the executable: a bcrypt.dll planted beside
# Setup.exe in a Downloads folder would be loaded into the elevated setup. Delay-loaded,
# the DLL is loaded on first use, after the entry point has restricted the search to
# the system folder (SetDefaultDllDirectories). The KnownDLLs always come from the
# system folder, so only the others need this (dwmapi, for the dark title bar, too).
#
# kivo_delay_import_library(OUT_TARGET DLL_BASENAME): builds lib<name>_delay.a from the
# toolchain's import library lib<name>.a, naming every function it exports.
function(kivo_delay_import_library out_target name)
  find_library(_import_lib NAMES lib${name}.a ${name} NO_CACHE REQUIRED)
  find_program(_nm NAMES ${CMAKE_NM} x86_64-w64-mingw32-nm REQUIRED)
  find_program(_dlltool NAMES ${CMAKE_DLLTOOL} x86_64-w64-mingw32-dlltool REQUIRED)
  set(def ${CMAKE_BINARY_DIR}/delayimp/${name}.def)
  set(lib ${CMAKE_BINARY_DIR}/delayimp/lib${name}_delay.a)
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_COMMAND} -DNM=${_nm} -DIMPORT_LIB=${_import_lib} -DDLL=${name}.dll -DDEF=${def}
            -P ${CMAKE_SOURCE_DIR}/cmake/WriteImportDef.cmake
    COMMAND ${_dlltool} --input-def ${def} --dllname ${name}.dll --output-delaylib ${lib}
    DEPENDS ${_import_lib} ${CMAKE_SOURCE_DIR}/cmake/WriteImportDef.cmake
    COMMENT "Delay-load import library for ${name}.dll"
    VERBATIM)
  add_custom_target(${name}_delay_lib DEPENDS ${lib})
  # An interface library: whoever links it links the file and waits for it to be built.
  add_library(${out_target} INTERFACE)
  target_link_libraries(${out_target} INTERFACE ${lib} delayimp)
  add_dependencies(${out_target} ${name}_delay_lib)
endfunction()
