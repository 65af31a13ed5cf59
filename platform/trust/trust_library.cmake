# The trust library: byte-level Authenticode and catalog code in a static library (the catalog
# builder among the fixture tools links it too), and the run-time loaded libwintrust.so on top.
# GLOBAL: tests and tools in other folders link OpenSSL::Crypto too.
find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto GLOBAL)

set(trust_dir ${CMAKE_CURRENT_LIST_DIR})

add_library(velmora_authenticode STATIC
  ${trust_dir}/pe_image_hash.cpp
  ${trust_dir}/der_reader.cpp
  ${trust_dir}/certificate_table.cpp
  ${trust_dir}/signed_data.cpp
  ${trust_dir}/trust_list.cpp
  ${trust_dir}/signature_check.cpp
  ${trust_dir}/mapped_file.cpp
  ${trust_dir}/catalog_index.cpp)
target_link_libraries(velmora_authenticode PUBLIC OpenSSL::Crypto)
set_target_properties(velmora_authenticode PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)

# The public code-signing roots, built into the library as text.
file(READ ${trust_dir}/anchors/code-signing-roots.pem VELMORA_BUILT_IN_ANCHORS)
configure_file(${trust_dir}/anchors/built_in_anchors.cpp.in
  ${CMAKE_CURRENT_BINARY_DIR}/built_in_anchors.cpp @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${trust_dir}/anchors/code-signing-roots.pem)

add_library(wintrust SHARED
  ${trust_dir}/wintrust_exports.cpp
  ${trust_dir}/provider_state.cpp
  ${trust_dir}/trust_anchors.cpp
  ${CMAKE_CURRENT_BINARY_DIR}/built_in_anchors.cpp)
target_link_libraries(wintrust PRIVATE velmora_authenticode OpenSSL::Crypto velmora_kernel)
if(TARGET velmora_shell)
  target_link_libraries(wintrust PRIVATE velmora_shell)
endif()
set_target_properties(wintrust PROPERTIES
  OUTPUT_NAME wintrust
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_link_options(wintrust PRIVATE -Wl,--no-undefined -Wl,--version-script=${trust_dir}/wintrust.map)
set_property(TARGET wintrust APPEND PROPERTY LINK_DEPENDS ${trust_dir}/wintrust.map)
