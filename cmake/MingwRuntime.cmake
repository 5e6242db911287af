# The programs link the MinGW C++ runtime dynamically (one runtime shared by Orvel.exe and
# Velmarik.dll, since streams and exceptions cross between them); copy its DLLs next to them
# so that the output folder and the install tree run on a bare Windows machine.
set(ORVEL_RUNTIME_DLLS "")
if(MINGW)
  foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}")
      find_file(path_${dll} ${dll} PATHS ${CMAKE_FIND_ROOT_PATH}/lib NO_DEFAULT_PATH)
      set(path "${path_${dll}}")
    endif()
    if(EXISTS "${path}")
      list(APPEND ORVEL_RUNTIME_DLLS "${path}")
      file(COPY "${path}" DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    endif()
  endforeach()
  install(FILES ${ORVEL_RUNTIME_DLLS} DESTINATION bin)
  # A stripped install (CPack's, or cmake --install --strip) drops their debug sections too: most
  # of the C++ runtime's size.
  foreach(path ${ORVEL_RUNTIME_DLLS})
    get_filename_component(dll "${path}" NAME)
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/${dll}\")
    endif()")
  endforeach()
endif()
