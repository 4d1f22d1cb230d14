# These tests run the nvmail program: build it before the test runs.
add_dependencies(${exe} nvmail)
