# The checks run nvmail show and nvmail compose: build the program before the test runs.
add_dependencies(${exe} nvmail)
