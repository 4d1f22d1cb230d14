# Real mail servers for integration.transport: started once before the test and stopped (by
# the PIDs they recorded) after it. The test finds ports, users and paths in the env file.
set(_transport_env ${CMAKE_BINARY_DIR}/tests/transport-servers.env)
add_test(NAME integration.transport.servers.start
         COMMAND bash ${PROJECT_SOURCE_DIR}/tests/servers/start.sh ${_transport_env})
add_test(NAME integration.transport.servers.stop
         COMMAND bash ${PROJECT_SOURCE_DIR}/tests/servers/stop.sh ${_transport_env})
set_tests_properties(integration.transport.servers.start PROPERTIES
                     FIXTURES_SETUP transport_servers TIMEOUT 120)
set_tests_properties(integration.transport.servers.stop PROPERTIES
                     FIXTURES_CLEANUP transport_servers TIMEOUT 60)
set_tests_properties(integration.transport PROPERTIES
                     FIXTURES_REQUIRED transport_servers TIMEOUT 600
                     ENVIRONMENT "NORVANE_TRANSPORT_ENV=${_transport_env}")
# The queue tests run the nvmail queue runner.
add_dependencies(${exe} nvmail)
