# What a Windows build of the programs needs around them: the DLLs of the libraries beside the
# programs (in the build folder, so that they and the tests run there, and in the zip), the
# libraries' licences and the README, and a zip made by cpack.

# The C++ and GCC runtimes and winpthreads linked into the programs: nothing of them to ship, and
# no clash with another program's libstdc++-6.dll found earlier on PATH, which would crash ours.
# The imported libraries are named by their full paths, so they stay DLLs.
if(MINGW)
  add_link_options(-static)
endif()

# The programs' manifests are compiled by windres.
enable_language(RC)

# All programs and tests in one folder, beside the DLLs: Windows looks for DLLs there first.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# The DLL behind each import library, found where an install puts it (bin/ beside lib/, or, for
# Debian's mingw-w64 zlib, lib/ itself). dlltool names the DLL an import library refers to.
set(LSM_WINDOWS_DLLS "")
if(CMAKE_DLLTOOL)
  foreach(import_library IN ITEMS ${TIFF_LIBRARY} ${ICS_LIBRARY} ${ZLIB_LIBRARY})
    if(NOT import_library MATCHES "\\.dll\\.a$")
      continue()
    endif()
    execute_process(COMMAND ${CMAKE_DLLTOOL} --identify ${import_library}
                    OUTPUT_VARIABLE dll_name OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(library_dir ${import_library} DIRECTORY)
    unset(dll_path CACHE)
    find_file(dll_path ${dll_name} PATHS ${library_dir}/../bin ${library_dir}
              NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT dll_path)
      message(FATAL_ERROR "${dll_name}, the DLL of ${import_library}, not found")
    endif()
    list(APPEND LSM_WINDOWS_DLLS ${dll_path})
    unset(dll_path CACHE)
  endforeach()
  file(COPY ${LSM_WINDOWS_DLLS} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
endif()
install(FILES ${LSM_WINDOWS_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR})

# Licences as the libraries' builds for this suite leave them: <prefix>/share/licenses/<name>/.
foreach(prefix IN LISTS CMAKE_PREFIX_PATH)
  foreach(name IN ITEMS tiff libics zlib mingw-w64)
    if(IS_DIRECTORY ${prefix}/share/licenses/${name})
      install(DIRECTORY ${prefix}/share/licenses/${name} DESTINATION licenses)
    endif()
  endforeach()
endforeach()
install(FILES README.md DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_STRIP_FILES TRUE)
