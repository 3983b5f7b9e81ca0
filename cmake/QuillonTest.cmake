# One test executable per unit. Widget tests run offscreen; every test gets a
# private runtime directory and configuration home so that no test reads or
# writes the developer's own settings.
function(quillon_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
    add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E env
        QT_QPA_PLATFORM=offscreen
        XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/test-home/runtime
        XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-home/${name}/config
        XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-home/${name}/data
        $<TARGET_FILE:${name}>)
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/test-home/runtime)
    file(CHMOD ${CMAKE_BINARY_DIR}/test-home/runtime DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endfunction()
