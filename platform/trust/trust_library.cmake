# The trust library: byte-level Authenticode and catalog code in a static library (the catalog
# builder among the fixture tools links it too), and the run-time loaded libwintrust.so on top.
find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto)

add_library(velmora_authenticode STATIC
  ${CMAKE_CURRENT_LIST_DIR}/pe_image_hash.cpp)
target_link_libraries(velmora_authenticode PUBLIC OpenSSL::Crypto)
set_target_properties(velmora_authenticode PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
