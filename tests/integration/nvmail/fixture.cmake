# nvmail send and fetch against the real servers of the transport tests: this suite requires
# their fixture (started once, shared) and reads the same env file. It uses the mailbox no
# transport test touches ("bench"), so both suites can run at once.
target_sources(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/tests/integration/transport/ServerEnv.cpp)
target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/tests/integration/transport)
set_tests_properties(integration.nvmail PROPERTIES
                     FIXTURES_REQUIRED transport_servers TIMEOUT 300
                     ENVIRONMENT "NORVANE_TRANSPORT_ENV=${CMAKE_BINARY_DIR}/tests/transport-servers.env")
add_dependencies(${exe} nvmail)
