# Certificate-name formatting (CertNameToStrW), linked in the ordinary way by whoever formats a
# signer's name.
find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto)

add_library(velmora_crypt32 STATIC
  ${CMAKE_CURRENT_LIST_DIR}/cert_name_to_str.cpp)
target_link_libraries(velmora_crypt32 PUBLIC OpenSSL::Crypto)
set_target_properties(velmora_crypt32 PROPERTIES POSITION_INDEPENDENT_CODE ON)
