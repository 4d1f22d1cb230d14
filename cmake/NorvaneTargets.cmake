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

# The public classes, the C API and the Python classes are generated from the façade headers
# (tools/apigen); the generated C++ sources join the binding layer.
function(norvane_generate_api)
  set(gen ${PROJECT_BINARY_DIR}/generated)
  set(classes StringArray Mime Cert Csp Email EmailBundle MailMan)
  set(outputs ${gen}/include/norvane/norvane.h ${gen}/binding/CApi.cpp
              ${gen}/python/norvane/_generated.py ${gen}/python/norvane/_generated.pyi
              ${gen}/check/capi_check.c)
  set(sources ${gen}/binding/CApi.cpp)
  foreach(c ${classes})
    list(APPEND outputs ${gen}/include/norvane/${c}.h ${gen}/binding/${c}Api.cpp)
    list(APPEND sources ${gen}/binding/${c}Api.cpp)
  endforeach()
  file(GLOB inputs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/apigen/*.py
       ${PROJECT_SOURCE_DIR}/src/facade/*.h ${PROJECT_SOURCE_DIR}/include/norvane/*.h)
  add_custom_command(OUTPUT ${outputs}
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/apigen/apigen.py
            ${PROJECT_SOURCE_DIR} ${gen}
    DEPENDS ${inputs} COMMENT "Generating the public API" VERBATIM)
  add_custom_target(norvane_api DEPENDS ${outputs})
  target_sources(norvane_binding PRIVATE ${sources})
  target_include_directories(norvane_binding PUBLIC ${gen}/include)
  set(NORVANE_GENERATED ${gen} PARENT_SCOPE)
endfunction()

# The one library, static and shared, made of every layer's objects. The static library serves
# our own tests, benchmarks and tools, which may reach inside; the shared one shows only the
# public headers.
function(norvane_library)
  set(objs "")
  foreach(l ${NORVANE_LAYERS})
    list(APPEND objs $<TARGET_OBJECTS:norvane_${l}>)
  endforeach()
  set(deps OpenSSL::SSL OpenSSL::Crypto BZip2::BZip2 ZLIB::ZLIB PkgConfig::NETTLE
           Threads::Threads)
  set(public_includes $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                      $<BUILD_INTERFACE:${NORVANE_GENERATED}/include>
                      $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  add_library(norvane STATIC ${objs})
  target_include_directories(norvane PUBLIC ${public_includes}
                                            $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>)
  target_link_libraries(norvane PUBLIC ${deps})
  add_library(norvane_shared SHARED ${objs})
  target_include_directories(norvane_shared PUBLIC ${public_includes})
  target_link_libraries(norvane_shared PRIVATE ${deps})
  set_target_properties(norvane_shared PROPERTIES OUTPUT_NAME norvane EXPORT_NAME norvane
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  set_target_properties(norvane PROPERTIES EXPORT_NAME norvane_static)
  add_library(Norvane::norvane ALIAS norvane_shared)
endfunction()
