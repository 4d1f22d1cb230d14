# The Python checks also read the saved files back with nvmail show: build it first.
add_dependencies(${exe} nvmail)
