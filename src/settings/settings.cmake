# The settings store (My_registry), the installer "lirrosa-setup", the CLI's settings
# command, and the install rules of the programs and their resources.
include(GNUInstallDirs)

set(LIRROSA_RESOURCE_INSTALL_DIR ${CMAKE_INSTALL_DATADIR}/lirrosa)
# Where the installed resources are, seen from the installed programs.
file(RELATIVE_PATH LIRROSA_RESOURCES_FROM_PROGRAM
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${LIRROSA_RESOURCE_INSTALL_DIR})

add_library(lirrosa_settings STATIC
  ${CMAKE_CURRENT_LIST_DIR}/My_registry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SetupInstaller.cpp)
target_link_libraries(lirrosa_settings PUBLIC lirrosa_platform lirrosa_core)
target_compile_definitions(lirrosa_settings PRIVATE
  LIRROSA_RESOURCES_FROM_PROGRAM="${LIRROSA_RESOURCES_FROM_PROGRAM}/"
  LIRROSA_SOURCE_RESOURCES="${CMAKE_SOURCE_DIR}/")

add_executable(lirrosa-setup ${CMAKE_CURRENT_LIST_DIR}/SetupMain.cpp)
target_link_libraries(lirrosa-setup PRIVATE lirrosa_settings)

# The programs are installed once every fragment has defined its targets.
function(lirrosa_install_programs)
  foreach(program lirrosa lirrosa-cli lirrosa-setup)
    if(TARGET ${program})
      install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
  endforeach()
endfunction()
cmake_language(DEFER CALL lirrosa_install_programs)

install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/ DESTINATION ${LIRROSA_RESOURCE_INSTALL_DIR}/data
  PATTERN "*.desktop" EXCLUDE)
foreach(folder skins Help)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${folder})
    install(DIRECTORY ${CMAKE_SOURCE_DIR}/${folder}/ DESTINATION ${LIRROSA_RESOURCE_INSTALL_DIR}/${folder})
  endif()
endforeach()
# The menu entry starts the installed program by its full path (the prefix given at install
# time), so that it works whether or not the installation's bin folder is on the PATH.
install(CODE "
  file(READ \"${CMAKE_SOURCE_DIR}/data/lirrosa.desktop\" entry)
  string(REPLACE \"Exec=lirrosa\" \"Exec=\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/lirrosa\" entry \"\${entry}\")
  set(target \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications/lirrosa.desktop\")
  message(STATUS \"Installing: \${target}\")
  file(WRITE \"\${target}\" \"\${entry}\")
")
