set(NORVANE_LAYERS "")

# One object library per folder under src/; sources are picked up by glob so that
# adding a file needs no edit here.
function(norvane_layer name)
  cmake_parse_arguments(L "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/src/${name}/*.cpp ${PROJECT_SOURCE_DIR}/src/${name}/*.c)
  if(NOT srcs)
    # An empty layer still carries its usage requirements for the layers above.
    add_library(norvane_${name} INTERFACE)
    target_link_libraries(norvane_${name} INTERFACE ${L_DEPS})
    return()
  endif()
  add_library(norvane_${name} OBJECT ${srcs})
  target_include_directories(norvane_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src
                                                    ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(norvane_${name} PUBLIC ${L_DEPS} Threads::Threads)
  set(NORVANE_LAYERS ${NORVANE_LAYERS} ${name} PARENT_SCOPE)
endfunction()

# The one library, static and shared, made of every layer's objects.
function(norvane_library)
  set(objs "")
  set(libs "")
  foreach(l ${NORVANE_LAYERS})
    list(APPEND objs $<TARGET_OBJECTS:norvane_${l}>)
    list(APPEND libs norvane_${l})
  endforeach()
  add_library(norvane STATIC ${objs})
  add_library(norvane_shared SHARED ${objs})
  set_target_properties(norvane_shared PROPERTIES OUTPUT_NAME norvane)
  foreach(t norvane norvane_shared)
    target_include_directories(${t} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
    target_link_libraries(${t} PUBLIC OpenSSL::SSL OpenSSL::Crypto BZip2::BZip2 ZLIB::ZLIB
                                      PkgConfig::NETTLE Threads::Threads)
  endforeach()
endfunction()
