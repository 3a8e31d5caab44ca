# The classes (linked into the server module and into tests that call them directly) and the
# server module itself.
add_library(vellum_classes STATIC
  ${CMAKE_CURRENT_LIST_DIR}/DigitalSign.cpp
  ${CMAKE_CURRENT_LIST_DIR}/digital_sign_sign.cpp
  ${CMAKE_CURRENT_LIST_DIR}/digital_sign_verify.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Encryption.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Zip.cpp
)
vellum_target_options(vellum_classes)
target_link_libraries(vellum_classes PUBLIC vellum_com vellum_rules vellum_zip_logic
  vellum_archive vellum_crypto vellum_platform)

add_library(libvellum SHARED ${CMAKE_CURRENT_LIST_DIR}/server.cpp)
set_target_properties(libvellum PROPERTIES
  OUTPUT_NAME vellum
  VERSION 1.0.5
  SOVERSION 1
  LINK_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/exports.map)
vellum_target_options(libvellum)
target_link_libraries(libvellum PRIVATE vellum_classes)
target_link_options(libvellum PRIVATE
  -Wl,--version-script=${CMAKE_CURRENT_LIST_DIR}/exports.map -Wl,--no-undefined)
