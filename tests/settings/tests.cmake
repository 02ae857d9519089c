# Tests of the settings store, the registry file, the installer and the CLI's settings command.
lirrosa_add_test_program(${CMAKE_CURRENT_LIST_DIR}/test_Registry.cpp lirrosa_platform)
lirrosa_add_test_program(${CMAKE_CURRENT_LIST_DIR}/test_My_registry.cpp lirrosa_settings)
lirrosa_add_test_program(${CMAKE_CURRENT_LIST_DIR}/test_Setup.cpp lirrosa_cli)
add_dependencies(test_Setup lirrosa-setup)

# Writers at the same time and programs started in the background run threads.
foreach(name test_RegistryWriters test_ProcessStart)
  add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
  target_link_libraries(${name} PRIVATE lirrosa_platform GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS threaded)
  add_dependencies(threaded_tests ${name})
endforeach()
