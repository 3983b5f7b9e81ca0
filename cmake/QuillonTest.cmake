# One test executable per unit. Widget tests run offscreen; every test gets a
# private runtime directory and configuration home so that no test reads or
# writes the developer's own settings.
#
# A test marked BOTH_KINDS runs twice: on a folder catalogue (NAME) and on a
# database of the tests' own PostgreSQL server (NAME_server), which the
# fixture `test_server` starts before and stops after.
# The server lives in a short folder under /tmp: the `postgres` user that runs
# it as root must reach it (a clone under /root is closed to it), and a Unix
# socket's path may not be longer than 107 bytes. One folder per build.
string(MD5 QUILLON_BUILD_HASH "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${QUILLON_BUILD_HASH}" 0 12 QUILLON_BUILD_HASH)
set(QUILLON_TEST_SERVER_DIR /tmp/quillon-test-server-${QUILLON_BUILD_HASH})
set(QUILLON_TEST_SERVER "postgresql:///postgres?host=${QUILLON_TEST_SERVER_DIR}&user=postgres")

function(quillon_register_test name executable)
    cmake_parse_arguments(R "" "" "ENV" ${ARGN})
    add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E env
        QT_QPA_PLATFORM=offscreen
        XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/test-home/runtime
        XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-home/${name}/config
        XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-home/${name}/data
        ${R_ENV}
        $<TARGET_FILE:${executable}>)
endfunction()

function(quillon_add_test name)
    cmake_parse_arguments(T "BOTH_KINDS" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
    quillon_register_test(${name} ${name})
    if(T_BOTH_KINDS)
        quillon_register_test(${name}_server ${name} ENV QUILLON_TEST_SERVER=${QUILLON_TEST_SERVER})
        set_tests_properties(${name}_server PROPERTIES FIXTURES_REQUIRED test_server)
    endif()
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/test-home/runtime)
    file(CHMOD ${CMAKE_BINARY_DIR}/test-home/runtime DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endfunction()
