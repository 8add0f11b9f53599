# The layers of the production sources, lowest first. A source may include
# headers of its own layer and of the layers below it, never above: the
# build runs cmake/CheckLayers.cmake over every source and fails when one
# does. docs/architecture.md describes the layers.
set(PROVIDER_LAYERS
  "platform/"
  "process/"
  "config/"
  "server/"
  "pages/"
  "config/MonitorPageUsingConfigFile."
  "inventory/"
  "process/main.cpp|process/ProviderMain.")

set(layer_sources)
foreach(folder platform process config server pages inventory)
  file(GLOB_RECURSE found CONFIGURE_DEPENDS ${PROVIDER_ROOT}/${folder}/*.cpp ${PROVIDER_ROOT}/${folder}/*.h)
  list(APPEND layer_sources ${found})
endforeach()
string(REPLACE ";" "," layer_list "${PROVIDER_LAYERS}")
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/layer-check.stamp
  COMMAND ${CMAKE_COMMAND} -DROOT=${PROVIDER_ROOT} "-DLAYERS=${layer_list}"
    -P ${PROVIDER_ROOT}/cmake/CheckLayers.cmake
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/layer-check.stamp
  DEPENDS ${layer_sources} ${PROVIDER_ROOT}/cmake/CheckLayers.cmake ${PROVIDER_ROOT}/cmake/LayerCheck.cmake
  COMMENT "Checking that no source includes a header of a higher layer"
  VERBATIM)
add_custom_target(layer_check ALL DEPENDS ${CMAKE_BINARY_DIR}/layer-check.stamp)
add_dependencies(inventory-provider layer_check)
