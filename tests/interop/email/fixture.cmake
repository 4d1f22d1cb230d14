# One message is composed by the nvmail program: build it before the test runs.
add_dependencies(${exe} nvmail)
